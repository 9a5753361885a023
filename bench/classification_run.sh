#!/usr/bin/env bash
# Times whole classification runs on the `pixel` grid of a 1000 x 1000 RGB scene (1 Mpx, 970,225
# windows of 16 pixels) with a model of each windowed texture extractor: co-occurrence with the
# displacements (1, 0) and (0, 1), Fourier with 10 coefficients and db1 wavelets of 2 levels, each
# with a small perceptron. The scene and its 16 training fields come from make_large_scene.py;
# the models are trained once, then every classification runs `runs` times and the wall times
# are printed. Run it under `flock /work/build.lock` so that no build shares the cores.
#   bench/classification_run.sh <ordana binary> <work folder> [runs]
set -euo pipefail
ordana="$1"
folder="$2"
runs="${3:-3}"
here="$(cd "$(dirname "$0")" && pwd)"
mkdir -p "$folder"
cd "$folder"
if [ ! -f scene.png ]; then
    /usr/bin/python3 "$here/../tools/make_large_scene.py" scene.png --size 1000 --bands 3 \
        --type uint8 --polygons scene.cct >/dev/null
fi
perceptron="--mlp --mhidden 4 --mlr 0.3 --mm 0.1 --merr 0.01 --miter 50"
declare -A extractors=(
    [com]="--com --cnx 1,0 --cny 0,1 --cws 16"
    [dft]="--dft --fws 16 --fcoeff 10"
    [dwt]="--dwt --wws 16 --wscale 2 --wname db1"
)
for name in com dft dwt; do
    rm -rf "$name" && mkdir "$name"
    # shellcheck disable=SC2086
    "$ordana" --image scene.png --file scene.cct --experiments 1 --seed 1 \
        --output "$name/" ${extractors[$name]} $perceptron >/dev/null 2>&1
    model="$(ls "$name"/*.mlp | head -1)"
    for run in $(seq "$runs"); do
        start=$(date +%s.%N)
        "$ordana" --image scene.png --modelfile "$model" --sampling pixel \
            --output "$name/run${run}_" >/dev/null 2>&1
        end=$(date +%s.%N)
        printf '%s run %d: %.2f s\n' "$name" "$run" "$(echo "$end - $start" | bc)"
    done
done
