#!/usr/bin/env bash
# The ways out end the program with status 0: key q and Escape in the 3D window, the "Quit"
# button. Keys are case-sensitive: Q and S do not quit.
source "$(dirname "$0")/gui_lib.sh"
start_xvfb
dir=$(scan_folder bun000.vrt)

expect_exit_0() {
  local start=$SECONDS
  while kill -0 "$app_pid" 2>/dev/null; do
    [ $((SECONDS - start)) -lt 10 ] || fail "$1 did not end the program"
    sleep 0.05
  done
  local status=0
  wait "$app_pid" || status=$?
  app_pid=
  [ "$status" -eq 0 ] || fail "$1 ended the program with status $status"
  echo "$1: status 0"
}

start_app "$dir"
key_in_3d_window Q
sleep 0.5
kill -0 "$app_pid" 2>/dev/null || fail "Q (upper case) ended the program"
key_in_3d_window q
expect_exit_0 "key q"

start_app "$dir"
key_in_3d_window Escape
expect_exit_0 "Escape"

start_app "$dir"
click_widget Quit
expect_exit_0 "the Quit button"
echo PASS
