#!/usr/bin/env bash
# The window draws when something changed and only then: no frame while nothing happens, a frame
# after a key, the panel shows a typed character, the wheel zooms (up brings the scene closer,
# down undoes it). Console lines reach a file at once. In a wide, low window the four text
# lines keep a font's height apart.
source "$(dirname "$0")/gui_lib.sh"
start_xvfb
dir=$(scan_folder bun000.vrt bun045.vrt)
start_app "$dir"

# Standard output goes to a file here; nothing else flushes it after key o.
key_in_3d_window o
wait_for_line 'Load model P and model Q before writing' 1 5 ||
  fail "the console line of key o did not reach the file (standard output not line-buffered)"

sleep 0.5
idle_start=$(frames_drawn)
sleep 1.5
[ "$(frames_drawn)" -eq "$idle_start" ] || fail "$(($(frames_drawn) - idle_start)) frames drawn while idle"
xdotool key x
wait_for_line 'frame.3d' $((idle_start + 1)) 5 || fail "no frame after a key"

# A character typed into the delta field shows at once: the panel draws on input alone.
panel_crop() { convert "$SHOT_DIR/$1.png" -crop "$(widget_crop delta)" +repage "$work/$1.ppm"; }
widget_crop() {
  grep -P "^widget\t$1\t" "$app_out" | tail -1 | awk -F'\t' '{ printf "%dx%d+%d+%d\n", $5, $6, $3, $4 }'
}
click_widget delta
sleep 0.3
shot field_before
panel_crop field_before
typed() { panel_crop "$1"; ! cmp -s "$work/field_before.ppm" "$work/$1.ppm"; }
xdotool key 5
shot_until 20 field_after typed || fail "the typed character is not shown"
# The click selected the whole field, so the 5 replaced it: type the old value back.
xdotool key BackSpace type 0.9
xdotool key Return

run_action 'P:bun000.vrt' 30 load-p
run_action 'Q:bun045.vrt' 30 load-q

# Pixels of the two models (grey P, orange Q) in screenshot $1.
model_pixels() {
  echo $(($(count_colour "$1" 'rgb(110,110,110)') + $(count_colour "$1" 'rgb(255,190,80)')))
}
xdotool mousemove 360 360
wait_for_frame_after_action 20 || fail "no frame after loading Q"
sleep 0.3
shot wheel_start
first=$(model_pixels wheel_start)
[ "$first" -gt 10000 ] || fail "the models are not drawn after loading ($first pixels)"
closer() { up=$(model_pixels "$1"); [ "$up" -gt $((first * 5 / 4)) ]; }
xdotool click --repeat 3 --delay 50 4
shot_until 20 wheel_up closer || fail "the wheel up did not bring the models closer ($first, then $up pixels)"
back() { down=$(model_pixels "$1"); [ "$down" -lt $((up * 4 / 5)) ]; }
xdotool click --repeat 3 --delay 50 5
shot_until 20 wheel_down back || fail "the wheel down did not take the models back ($up, then $down pixels)"
echo "model pixels: $first at first, $up after three notches up, $down after three down"

# A wide, low window: the four lines (Model P, Model Q, Best LCP, Time) stay apart. The panel
# moves below it first.
xdotool windowmove "$(window_id Kestrel)" 50 450
xdotool mousemove 1270 1010
sleep 0.5
id=$(window_id 'Kestrel: 3D surface matching')
xdotool windowsize "$id" 1200 360
sleep 1
[ "$(window_geometry 'Kestrel: 3D surface matching')" = "50,50 1200x360" ] ||
  fail "the window was not resized: $(window_geometry 'Kestrel: 3D surface matching')"
# Right of the old width: white once a frame filled the new size.
filled() {
  convert "$SHOT_DIR/$1.png" -crop 120x300+1110+80 +repage "$work/right.ppm"
  right_white=$(convert "$work/right.ppm" -fuzz 5% -fill black +opaque white -fill white \
    -opaque white -format '%[fx:round(mean*w*h)]' info:)
  [ "$right_white" -eq 36000 ]
}
shot_until 20 wide_window filled ||
  fail "the widened part of the window was not drawn ($right_white white pixels)"
# Rows of the lower-left quarter that hold blue text, then the runs of such rows.
bands=$(convert "$SHOT_DIR/wide_window.png" -crop 480x180+50+230 +repage -fuzz 20% \
  -fill black +opaque blue -fill white -opaque blue -scale '1x180!' -threshold 0 txt:- |
  awk -F'[ ,:]+' 'NR > 1 { on = ($0 ~ /white|#FFFFFF/); if (on && !was) n++; was = on } END { print n + 0 }')
echo "text bands in the wide window: $bands"
[ "$bands" -ge 4 ] || fail "the text lines of the wide window run into each other ($bands bands)"

key_in_3d_window q
wait "$app_pid" || fail "exit status $? after q"
app_pid=
echo PASS
