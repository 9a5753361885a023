#!/usr/bin/env bash
# The demo: generates two example land-cover scenes, runs experiments on the first (windowed
# colour average + multilayer perceptron), classifies the second with the model written, and
# prints the accuracies, how many windows of the second scene were labelled correctly, and where
# the class-map picture of the second scene is.
# Usage: run_demo.sh <build folder> <output folder>
set -euo pipefail

build="$(cd "$1" && pwd)"
mkdir -p "$2"
out="$(cd "$2" && pwd)"
# Only what an earlier demo run wrote is removed; other files in the folder are left alone.
rm -f "$out"/training.png "$out"/training.cct "$out"/training.cct_* "$out"/scene.png \
    "$out"/scene_truth.cct "$out"/scene_processing_*.cct "$out"/scene_results_*.cct \
    "$out"/scene_results_*.png "$out"/scene_results_*.html "$out"/scene_results_*.gpkg \
    "$out"/scene_results_*.legend "$out"/processing_*.cct \
    "$out"/results_*.cct "$out"/results_*.png "$out"/results_*.html

"$build/tools/make_demo_scenes" "$out"
cd "$out"

echo
echo "== Experiments on training.png (colour average, window 5; perceptron, 3 repetitions)"
"$build/ordana/ordana" --image "$out/training.png" --file "$out/training.cct" --experiments 3 \
    --wca --aws 5 --aam true \
    --mlp --mhidden 8 --mlr 0.3 --mm 0.1 --merr 0.5 --miter 300

results=$(ls -t "$out"/training.cct_*.wca-mlp | head -n 1)
model=$(ls -t "$out"/training.cct_*.mlp | head -n 1)
echo
echo "== Accumulated accuracies ($(basename "$results"))"
cat "$results"
echo
echo "== Accuracy report ($(basename "$results").report)"
cat "$results.report"

echo
echo "== Classifying scene.png with $(basename "$model")"
# The protocol is kept in a variable and printed from there: a tee to /dev/stderr would reopen a
# redirected log file and write over what the demo printed before.
protocol=$("$build/ordana/ordana" --image "$out/scene.png" --modelfile "$model" --sampling window \
    --chatty true)
echo "$protocol"
status=$(echo "$protocol" | sed -n 's/^\[STATUS\] !\(.*\)!$/\1/p')
if [ -z "$status" ]; then
    echo "The classification run wrote no results file." >&2
    exit 1
fi

echo
echo "== Windows of scene.png labelled correctly ($(basename "$status"))"
"$build/tools/score_classification" "$status" "$out/scene_truth.cct"
echo
echo "Everything the demo wrote is in $out"
echo "The class map of scene.png (each window in its class's colour): ${status%.cct}.png"
echo "The report pages, to open in a browser: $(ls -t "$out"/training.cct_*.html | head -n 1) and ${status%.cct}.html"
