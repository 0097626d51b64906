#!/usr/bin/env bash
# A run that finds nothing (no pair of Q passes a normal tolerance of 0) leaves Q where "Random
# position" put it, says so in the window, and key o then refuses to write: nothing was found.
source "$(dirname "$0")/gui_lib.sh"
start_xvfb
dir=$(scan_folder bun000.vrt bun045.vrt)
start_app "$dir" -nd 0 bun000.vrt bun045.vrt
wait_for_line '^action-done.load-q' 1 30 || fail "the files on the command line were not loaded"
run_action 'Random position' 20 random-position
xdotool mousemove 1200 1000
wait_for_frame_after_action 20 || fail "no frame after Random position"
sleep 0.3
shot turned
run_action 'Start Kestrel' 60 start-kestrel
grep -q '^No motion found: .*; Q left where it was$' "$app_out" || fail "the failed run was not reported"
wait_for_frame_after_action 20 || fail "no frame after the run"
sleep 0.3
shot after_failed_run
# The models and the base markers: the upper part of the view, above every text line.
models() { convert "$SHOT_DIR/$1.png" -crop 620x380+50+50 +repage ppm:-; }
cmp -s <(models turned) <(models after_failed_run) || fail "the failed run moved Q (or left its bases)"
[ "$(count_colour after_failed_run red)" -gt 300 ] || fail "the window does not show the failure"

key_in_3d_window o
wait_for_line '^Nothing written: no motion found since the models changed' 1 10 ||
  fail "key o did not refuse"
sleep 0.3
[ ! -e "$dir/results.tfm" ] || fail "key o wrote results.tfm with nothing found"
key_in_3d_window q
wait "$app_pid" || fail "exit status $? after q"
app_pid=
echo PASS
