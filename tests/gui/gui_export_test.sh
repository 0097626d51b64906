#!/usr/bin/env bash
# Key o writes where the window shows Q: after "Random position", "Start Kestrel" and "Start
# ICP", lines 5 to 8 of results.tfm carry bun045.vrt onto bun000.vrt as the ground truth does
# (within 2 degrees, and 2 mm at Q's centroid), the random turn and the refinement included.
source "$(dirname "$0")/gui_lib.sh"
start_xvfb
dir=$(scan_folder bun000.vrt bun045.vrt)
start_app "$dir" -o 0.94 -nd 10

run_action 'P:bun000.vrt' 30 load-p
run_action 'Q:bun045.vrt' 30 load-q
run_action 'Random position' 20 random-position
run_action 'Start Kestrel' 60 start-kestrel
run_action 'Start ICP' 60 start-icp

expect_results_file "$dir"
sed -n 5,8p "$dir/results.tfm" >"$work/found.txt"
cat "$work/found.txt"
read -r degrees mm < <(awk -f "$(dirname "$0")/motion_error.awk" "$EXAMPLES/gt_world/bun000.txt" \
  "$EXAMPLES/gt_world/bun045.txt" "$work/found.txt" "$EXAMPLES/bun045.vrt")
echo "off the ground truth by $degrees degrees and $mm mm"
awk -v d="$degrees" -v m="$mm" 'BEGIN { exit !(d < 2 && m < 2) }' ||
  fail "results.tfm is $degrees degrees and $mm mm off the ground truth"
echo PASS
