#!/usr/bin/env bash
# PLY scans in the panel: a .ply file is listed and loads like the .vrt it was written from (key
# s writes all its points), and a truncated one is refused with its reason while P stays.
source "$(dirname "$0")/gui_lib.sh"
start_xvfb
dir=$(scan_folder bun000.vrt)
n=$(wc -l <"$dir/bun000.vrt")
{
  printf 'ply\nformat ascii 1.0\nelement vertex %d\n' "$n"
  printf 'property float x\nproperty float y\nproperty float z\nend_header\n'
  cat "$dir/bun000.vrt"
} >"$dir/bun000.ply"
head -c 2000 "$dir/bun000.ply" >"$dir/broken.ply"
rm "$dir/bun000.vrt"
start_app "$dir"

run_action 'P:bun000.ply' 30 load-p
run_action 'P:broken.ply' 20 load-p
grep -q 'broken.ply: vertex [0-9]* of [0-9]* cannot be read' "$app_err" ||
  fail "no reason printed for broken.ply"
sleep 0.3
shot ply_after_failed_load
grey=$(count_colour ply_after_failed_load 'rgb(110,110,110)')
echo "after loading bun000.ply and failing on broken.ply: $grey grey pixels"
[ "$grey" -gt 2000 ] || fail "Model P is no longer drawn after a failed load"

expect_saved_full_p "$dir" "$n"
key_in_3d_window q
wait "$app_pid" || fail "exit status $? after q"
app_pid=
echo PASS
