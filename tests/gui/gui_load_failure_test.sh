#!/usr/bin/env bash
# A file that cannot be loaded: its reason takes the red status line (even in place of the load
# prompt) and the models stay as they were (key s then still writes the earlier Model P). So does
# a transform file given with -l that cannot be used.
source "$(dirname "$0")/gui_lib.sh"
start_xvfb
dir=$(scan_folder bun000.vrt)
printf 'no points here\n' >"$dir/broken.vrt"
start_app "$dir"
sleep 0.3
shot failure_prompt
prompt_red=$(count_colour failure_prompt red)

# The program printed a reason matching $1 and shows it in red, in place of the load prompt
# (screenshot $2).
expect_reason_shown() {
  grep -q -- "$1" "$app_err" || fail "no reason printed ('$1')"
  sleep 0.3
  shot "$2"
  local red
  red=$(count_colour "$2" red)
  echo "red pixels: prompt $prompt_red, $2 $red"
  [ "$red" -gt 100 ] || fail "the reason ('$1') is not shown"
  [ "$red" -ne "$prompt_red" ] || fail "the load prompt hides the reason ('$1')"
}

run_action 'P:broken.vrt' 20 load-p
expect_reason_shown 'broken.vrt' failure_first_load

run_action 'P:bun000.vrt' 30 load-p
run_action 'P:broken.vrt' 20 load-p
sleep 0.3
shot failure_after_good_load
grey=$(count_colour failure_after_good_load 'rgb(110,110,110)')
red=$(count_colour failure_after_good_load red)
echo "after a good and a failed load of P: $grey grey, $red red pixels"
[ "$grey" -gt 2000 ] || fail "Model P is no longer drawn after a failed load"
[ "$red" -gt 100 ] || fail "the reason of the failed load is not shown"

expect_saved_full_p "$dir" 40256
key_in_3d_window q
wait "$app_pid" || fail "exit status $? after q"
app_pid=

# A transform file (-l) that cannot be used: the window starts without it, and the reason takes
# the status line in place of the load prompt.
start_app "$dir" -l "$dir/missing.tfm"
expect_reason_shown 'missing.tfm: cannot open the transform file' failure_transform_file
key_in_3d_window q
wait "$app_pid" || fail "exit status $? after q"
app_pid=
echo PASS
