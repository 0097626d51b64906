#!/usr/bin/env bash
# "Start basic RANSAC" on a large Q holds the GUI thread; the window keeps repainting (the
# progress line changes between screenshots, the share done and time left show above it),
# Escape stops the run within a second of its CPU time, and the
# program lives on (neither that Escape nor a "Quit" click made during the run acts afterwards).
# A very short press stops a run too.
source "$(dirname "$0")/gui_lib.sh"
start_xvfb
dir=$(scan_folder bun000.vrt bun045.vrt)
start_app "$dir"
run_action 'P:bun000.vrt' 30 load-p
run_action 'Q:bun045.vrt' 30 load-q

# The progress line: the third text line from the bottom of the 3D window. The shots are kept:
# the second shows a long RANSAC run with both progress lines.
progress_crop() {
  convert "$SHOT_DIR/$1.png" -crop 560x24+55+576 +repage "$work/$1.ppm"
}

# Each step waits for what the program reports (a trial begun, frames drawn, the action done)
# rather than for a set time, and how soon Escape acts is measured in the program's own CPU
# time: on a loaded machine wall time says more about the other processes than about this one.
before=$(actions_done)
trials=$(trial_lines)
click_until 'Start basic RANSAC' '^trial ' $((trials + 1)) 60 || fail "the RANSAC run did not begin"
frames=$(frames_drawn)
wait_for_line 'frame.3d' $((frames + 2)) 30 || fail "no frames while the run worked"
sleep 0.2
shot ransac_running_1
changed() { progress_crop "$1"; ! cmp -s "$work/ransac_running_1.ppm" "$work/$1.ppm"; }
progress_crop ransac_running_1
frames=$(frames_drawn)
wait_for_line 'frame.3d' $((frames + 2)) 30 || fail "the window stopped repainting during the run"
shot_until 20 ransac_running_2 changed || fail "the progress line did not change while the run worked"
[ "$(actions_done)" -eq "$before" ] || fail "the RANSAC run ended before Escape"
convert "$SHOT_DIR/ransac_running_2.png" -crop 560x20+55+556 +repage "$work/detail.png"
detail=$(count_colour_in "$work/detail.png" blue)
[ "$detail" -gt 100 ] || fail "no second progress line above the first ($detail blue pixels)"

# A click on "Quit" while the run holds the GUI thread must not act once the run is over.
click_widget Quit
sleep 0.4
xdotool mousemove 360 360
sleep 0.05
pressed=$(date +%s%N)
ticks=$(cpu_ticks)
xdotool key Escape
wait_for_line '^action-done' $((before + 1)) 30 || fail "Escape did not stop the run"
stopped=$(date +%s%N)
cpu_ms=$((($(cpu_ticks) - ticks) * 1000 / $(getconf CLK_TCK)))
echo "run stopped $(((stopped - pressed) / 1000000)) ms after Escape, having used ${cpu_ms} ms of CPU"
[ "$cpu_ms" -lt 1000 ] || fail "the run worked on for ${cpu_ms} ms of CPU time after Escape"

sleep 1.5
kill -0 "$app_pid" 2>/dev/null ||
  fail "the program ended: the Escape that stopped the run, or the Quit click made during it, acted"
shot after_escape

# A press far shorter than a frame, made over the panel, stops a run just as well.
before=$(actions_done)
trials=$(trial_lines)
click_until 'Start basic RANSAC' '^trial ' $((trials + 1)) 60 || fail "the second RANSAC run did not begin"
xdotool keydown Escape
sleep 0.005
xdotool keyup Escape
# A missed press never ends the run: RANSAC on these scans goes on for days.
wait_for_line '^action-done' $((before + 1)) 30 || fail "a short Escape press over the panel was missed"
sleep 0.5
kill -0 "$app_pid" 2>/dev/null || fail "the program ended after the short Escape press"
key_in_3d_window q
wait "$app_pid" || fail "exit status $? after q"
app_pid=
echo PASS
