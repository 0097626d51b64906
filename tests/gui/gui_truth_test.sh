#!/usr/bin/env bash
# What the window tells: files named on the command line are loaded, also from another folder;
# the folder field with "Refresh" lists that folder and files written later; a clamped field
# says so on the status line; the verdict line is coloured and goes when Q moves ("Random
# position"), Undo brings it back; the distance view draws its colour bar; `p` draws points and
# `f` fits both models into the view.
source "$(dirname "$0")/gui_lib.sh"
start_xvfb
dir=$(scan_folder bun000.vrt bun045.vrt)
other=$work/elsewhere
mkdir -p "$other"
mv "$dir/bun045.vrt" "$other/"
start_app "$dir" bun000.vrt "$other/bun045.vrt"
wait_for_line '^action-done.load-q' 1 30 || fail "the files on the command line were not loaded"
grep -qx "Model Q: $other/bun045.vrt" "$app_out" || fail "Q was not read from $other"

# The folder field lists another folder, with a file written after the start.
cp "$other/bun045.vrt" "$other/later.vrt"
# A slow frame (the sanitizers) may take the first keys before the field has focus: wait for it.
click_widget folder
sleep 1
xdotool type "$other"
sleep 0.5
click_widget Refresh
wait_for_line $'^widget\tP:later.vrt' 1 30 || fail "Refresh did not list the folder's files"
run_action 'Q:bun045.vrt' 30 load-q
[ "$(grep -cx "Model Q: $other/bun045.vrt" "$app_out")" -eq 2 ] || fail "the list's file was not loaded"

# A field's value held at its limit is said in the window and on the console.
click_widget overlap
sleep 0.2
xdotool type 7
xdotool key Return
wait_for_line '^Overlap: 7 is above the limit 1; set to 1.000$' 1 10 || fail "the clamp was not said"
grep -q $'^widget\tnormal\t' "$app_out" || fail "no field for the normal tolerance (-nd)"
xdotool mousemove 1200 1000
sleep 0.5
shot clamped
[ "$(count_colour clamped red)" -gt 300 ] || fail "the status line does not show the clamp"

# Text pixels of the verdict's colours: green, amber (exact colours of bitmap text).
count_exact() {
  convert "$SHOT_DIR/$1.png" -crop 620x620+50+50 +repage -fuzz 4% -fill black +opaque "$2" \
    -fill white -opaque "$2" -format '%[fx:round(mean*w*h)]' info:
}
verdict_pixels() { echo $(($(count_exact "$1" 'rgb(0,153,0)') + $(count_exact "$1" 'rgb(230,140,0)'))); }
verdict_gone() { [ "$(verdict_pixels "$1")" -lt 20 ]; }
verdict_back() { [ "$(verdict_pixels "$1")" -gt 150 ]; }
run_action 'Start Kestrel' 60 start-kestrel
run_action 'Start ICP' 60 start-icp
xdotool mousemove 1200 1000
shot_until 20 verdict verdict_back || fail "no coloured verdict line after ICP"
run_action 'Random position' 20 random-position
shot_until 10 turned verdict_gone || fail "the verdict stayed after Random position"
run_action Undo 20 undo
shot_until 10 undone verdict_back || fail "Undo did not bring the verdict back"

# The distance view: a bar from blue at its foot to red at its head, right of the models.
key_in_3d_window d
bar_end() {
  convert "$SHOT_DIR/$1.png" -crop "18x12+540+$2" +repage "$work/bar.png"
  count_colour_in "$work/bar.png" "$3"
}
bar_drawn() { [ "$(bar_end "$1" 147 red)" -gt 150 ] && [ "$(bar_end "$1" 439 blue)" -gt 150 ]; }
shot_until 20 distance_view bar_drawn || fail "the distance view's colour bar is missing"

# Points, then the view zoomed in until the models leave it, then fitted again.
key_in_3d_window d
shot distances_off
key_in_3d_window p
shot_until_changed distances_off points 10 || fail "p did not change the drawing"
key_in_3d_window p
# White pixels of the 3-pixel frame of the 3D window (7404 when nothing reaches its edges).
edge_white() {
  convert "$SHOT_DIR/$1.png" -crop 620x620+50+50 +repage -fuzz 5% -fill black +opaque white \
    -fill white -opaque white "$work/mask.png"
  local all inner
  all=$(convert "$work/mask.png" -format '%[fx:round(mean*w*h)]' info:)
  inner=$(convert "$work/mask.png" -shave 3x3 -format '%[fx:round(mean*w*h)]' info:)
  echo $((all - inner))
}
models_cut() { [ "$(edge_white "$1")" -lt 7404 ]; }
models_whole() { [ "$(edge_white "$1")" -eq 7404 ]; }
xdotool click --repeat 12 --delay 30 4
shot_until 20 zoomed models_cut || fail "zooming in did not take the models past the edges"
key_in_3d_window f
shot_until 20 fitted models_whole || fail "f did not fit the models into the view"

key_in_3d_window q
wait "$app_pid" || fail "exit status $? after q"
app_pid=
echo PASS
