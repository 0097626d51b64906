#!/usr/bin/env bash
# "Start basic RANSAC" on a large Q holds the GUI thread; the window keeps repainting (the
# progress line changes between screenshots), Escape stops the run within a second, and the
# program lives on (neither that Escape nor a "Quit" click made during the run acts afterwards).
# A very short press stops a run too.
source "$(dirname "$0")/gui_lib.sh"
start_xvfb
dir=$(scan_folder bun000.vrt bun045.vrt)
start_app "$dir"
run_action 'P:bun000.vrt' 30 load-p
run_action 'Q:bun045.vrt' 30 load-q

# The progress line: 11 % of the 3D window's height above its bottom edge.
progress_crop() {
  convert "$SHOT_DIR/$1.png" -crop 560x24+55+586 +repage "$work/$1.ppm"
}

before=$(actions_done)
wait_for_line '^input-ready' "$before" 30 || fail "input was not taken again after loading"
# Progress lines printed so far: a new one shows that a run has started.
progress_lines() { tr '\r' '\n' <"$app_out" | grep -c '^trial ' || true; }
lines=$(progress_lines)
click_widget 'Start basic RANSAC'
wait_for_line '^trial ' $((lines + 1)) 20 || fail "the RANSAC run did not start"
sleep 0.5
shot ransac_running_1
progress_crop ransac_running_1
# Frames come at most every 33 ms, later when a frame is slow (a busy or sanitized build).
changed=
for _ in 1 2 3 4 5 6 7 8; do
  sleep 0.6
  shot ransac_running_2
  progress_crop ransac_running_2
  cmp -s "$work/ransac_running_1.ppm" "$work/ransac_running_2.ppm" || { changed=1; break; }
done
[ -n "$changed" ] || fail "the progress line did not change while the run worked"
[ "$(actions_done)" -eq "$before" ] || fail "the RANSAC run ended before Escape"

# A click on "Quit" while the run holds the GUI thread must not act once the run is over.
click_widget Quit
sleep 0.4
xdotool mousemove 360 360
sleep 0.05
pressed=$(date +%s%N)
xdotool key Escape
wait_for_line '^action-done' $((before + 1)) 5 || fail "Escape did not stop the run"
stopped=$(date +%s%N)
ms=$(((stopped - pressed) / 1000000))
echo "run stopped ${ms} ms after Escape"
[ "$ms" -lt 1000 ] || fail "the run took ${ms} ms to stop"

wait_for_line '^input-ready' "$(actions_done)" 30 || fail "input was not taken again after the run"
sleep 1
kill -0 "$app_pid" 2>/dev/null ||
  fail "the program ended: the Escape that stopped the run, or the Quit click made during it, acted"
shot after_escape

# A press far shorter than a frame, made over the panel, stops a run just as well.
before=$(actions_done)
lines=$(progress_lines)
click_widget 'Start basic RANSAC'
wait_for_line '^trial ' $((lines + 1)) 20 || fail "the second RANSAC run did not start"
sleep 0.3
xdotool keydown Escape
sleep 0.005
xdotool keyup Escape
wait_for_line '^action-done' $((before + 1)) 2 || fail "a short Escape press over the panel was missed"
sleep 0.5
kill -0 "$app_pid" 2>/dev/null || fail "the program ended after the short Escape press"
key_in_3d_window q
wait "$app_pid" || fail "exit status $? after q"
app_pid=
echo PASS
