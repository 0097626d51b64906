# Shared steps of the window tests: a private Xvfb, the program started in a folder of scans,
# clicks on panel controls by the rectangles it prints, keys, screenshots, and clean-up.
# Expects KESTREL (the program) and SHOT_DIR (where screenshots go) in the environment.
set -euo pipefail

work=$(mktemp -d)
xvfb_pid=
app_pid=
app_out=$work/stdout.txt
app_err=$work/stderr.txt

cleanup() {
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then kill "$app_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  if [ -f "$app_out" ]; then echo "--- program stdout:" >&2; tr '\r' '\n' <"$app_out" | tail -20 >&2; fi
  if [ -f "$app_err" ]; then echo "--- program stderr:" >&2; tail -20 "$app_err" >&2; fi
  exit 1
}

# Starts Xvfb on the first free display number (Xvfb picks it and reports it when ready).
start_xvfb() {
  local fifo=$work/displayfd
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  local n
  read -r -t 20 n <"$fifo" || fail "Xvfb did not start"
  export DISPLAY=":$n"
}

# Copies the named example scans into a fresh folder; echoes the folder.
scan_folder() {
  local dir=$work/scans
  mkdir -p "$dir"
  for f in "$@"; do cp "$EXAMPLES/$f" "$dir/"; done
  echo "$dir"
}

# Starts the program in folder $1 with the options that follow; waits for its panel.
start_app() {
  local dir=$1
  shift
  # Emptied here, not by the program's own redirection: a second start must not find the panel
  # lines of the first before the new program has truncated the file.
  : >"$app_out"
  (cd "$dir" && exec env KESTREL_WIDGET_RECTS=1 "$KESTREL" "$@" >"$app_out" 2>"$app_err") &
  app_pid=$!
  wait_for_line 'widgets-end' 1 20 || fail "the panel did not appear"
}

# Waits until at least $2 lines of the program's output match $1 (at most $3 seconds).
wait_for_line() {
  local pattern=$1 count=$2 limit=$3 start=$SECONDS
  while [ $((SECONDS - start)) -lt "$limit" ]; do
    [ "$(tr '\r' '\n' <"$app_out" | grep -c -- "$pattern" || true)" -ge "$count" ] && return 0
    kill -0 "$app_pid" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}

# Number of panel actions finished so far.
actions_done() { grep -c '^action-done' "$app_out" || true; }

# Frames the 3D window has drawn so far.
frames_drawn() { tr '\r' '\n' <"$app_out" | grep -c 'frame.3d' || true; }

# Waits (at most $1 seconds) until the 3D window has drawn a frame since the last panel action
# ended, so a screenshot shows the action's outcome.
wait_for_frame_after_action() {
  local start=$SECONDS
  until tr '\r' '\n' <"$app_out" |
    awk '/^action-done/ { f = 0 } /frame.3d/ { f = 1 } END { exit !f }'; do
    [ $((SECONDS - start)) -lt "$1" ] || return 1
    sleep 0.05
  done
}

# Progress lines the program has printed on the console so far (each run's trials begin with one).
trial_lines() { tr '\r' '\n' <"$app_out" | grep -c '^trial ' || true; }

# CPU time the program has used so far, in clock ticks (user plus system).
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$app_pid/stat"; }

# Takes screenshot $2 again and again, at most $1 seconds long, until the command that follows
# succeeds on it: a slow machine may still be working through queued input.
shot_until() {
  local shot_limit=$1 shot_name=$2 shot_start=$SECONDS
  shift 2
  while :; do
    shot "$shot_name"
    "$@" "$shot_name" && return 0
    [ $((SECONDS - shot_start)) -lt "$shot_limit" ] || return 1
    sleep 0.2
  done
}

# Centre of the control named $1 (last printed rectangle), as "x y".
widget_centre() {
  local line
  line=$(grep -P "^widget\t\Q$1\E\t" "$app_out" | tail -1)
  [ -n "$line" ] || fail "no control named '$1'"
  echo "$line" | awk -F'\t' '{ printf "%d %d\n", $3 + $5 / 2, $4 + $6 / 2 }'
}

# Input that reaches the program before its next idle cycle counts as made during the last
# action and is dropped; a person never clicks that fast, so neither do the tests: each click and
# key waits until the program says it takes input again after its last action.
wait_input_ready() {
  wait_for_line '^input-ready' "$(actions_done)" 30 || fail "input was not taken again after an action"
  sleep 0.1
}

click_widget() {
  local xy
  wait_input_ready
  xy=$(widget_centre "$1")
  # shellcheck disable=SC2086
  xdotool mousemove $xy click 1
}

# Clicks control $1 until at least $3 output lines match $2 (at most $4 seconds). A click the X
# server loses under a heavily loaded, sanitized build is made again; one that lands while the
# action it started still works is dropped by the program, so a repeat never starts a second one.
click_until() {
  local name=$1 pattern=$2 count=$3 limit=$4 start=$SECONDS
  while :; do
    click_widget "$name"
    wait_for_line "$pattern" "$count" 10 && return 0
    [ $((SECONDS - start)) -lt "$limit" ] || return 1
  done
}

# Clicks control $1, waits (at most $2 seconds) until the action it started has run, and checks
# that it was action $3 (the names the program prints: load-p, start-kestrel, ...).
run_action() {
  local before done
  before=$(actions_done)
  click_widget "$1"
  wait_for_line '^action-done' $((before + 1)) "$2" || fail "'$1' did not finish within $2 s"
  done=$(grep '^action-done' "$app_out" | tail -1 | cut -f2)
  [ "$done" = "$3" ] || fail "'$1' ran '$done' instead of '$3'"
}

# Keys go to the window under the pointer (no window manager under Xvfb).
key_in_3d_window() {
  wait_input_ready
  xdotool mousemove 360 360
  sleep 0.2
  xdotool key "$@"
}

# Presses s and waits (at most 20 s) until full1.obj in folder $1 holds the $2 points of Model P.
expect_saved_full_p() {
  local dir=$1 n=$2 start=$SECONDS
  key_in_3d_window s
  until [ "$(grep -c '^v ' "$dir/full1.obj" 2>/dev/null || true)" -eq "$n" ]; do
    [ $((SECONDS - start)) -lt 20 ] || fail "key s wrote no full1.obj holding the $n points of P"
    sleep 0.1
  done
}

# Presses o and waits (at most 20 s) until results.tfm in folder $1 is written whole.
expect_results_file() {
  local dir=$1 start=$SECONDS
  key_in_3d_window o
  until grep -q 'Units: mm' "$dir/results.tfm" 2>/dev/null; do
    [ $((SECONDS - start)) -lt 20 ] || fail "key o wrote no results.tfm"
    sleep 0.1
  done
}

shot() {
  mkdir -p "$SHOT_DIR"
  import -window root "$SHOT_DIR/$1.png"
}

# Pixels of image $1 whose colour is within 20 % of $2.
count_colour_in() {
  convert "$1" -fuzz 20% -fill black +opaque "$2" -fill white -opaque "$2" \
    -format '%[fx:round(mean*w*h)]' info:
}

# The 3D window of screenshot $1 as plain pixels.
view_pixels() { convert "$SHOT_DIR/$1.png" -crop 620x620+50+50 ppm:-; }

# Takes screenshot $2 until the 3D window differs from screenshot $1, for at most $3 seconds;
# fails when it never does. Frames come late on a busy machine or in a sanitized build.
shot_until_changed() {
  local start=$SECONDS
  while :; do
    sleep 0.3
    shot "$2"
    cmp -s <(view_pixels "$1") <(view_pixels "$2") || return 0
    [ $((SECONDS - start)) -lt "$3" ] || return 1
  done
}

# Pixels of screenshot $1 inside the 3D window whose colour is within 20 % of $2.
count_colour() {
  convert "$SHOT_DIR/$1.png" -crop 620x620+50+50 +repage "$work/crop.png"
  count_colour_in "$work/crop.png" "$2"
}

window_id() { xdotool search --name "^$1\$" | head -1; }

# "x,y wxh" of the window titled $1.
window_geometry() {
  local id
  id=$(window_id "$1")
  [ -n "$id" ] || fail "no window titled '$1'"
  xdotool getwindowgeometry "$id" | awk '/Position/ { p = $2 } /Geometry/ { g = $2 } END { print p, g }'
}
