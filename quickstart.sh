#!/usr/bin/env bash
# Installs what is missing on a Debian 12 machine, builds, and runs the demo or the tests.
#   ./quickstart.sh demo       build, train on the first example scene, classify the second
#   ./quickstart.sh test       build and run every test (it also installs Chromium, in which a
#                              test opens the report pages, and Python's Dask, GDAL and pytest
#                              for the tile runner's tests)
#   ./quickstart.sh sanitize   build and run every test with AddressSanitizer + UBSan
#   ./quickstart.sh tsan       build and run the extraction and parallel-layer tests with
#                              ThreadSanitizer
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
jobs="$(nproc 2>/dev/null || echo 2)"
# Sanitizer builds compile at -O1 with line tables only: the sanitizers' own advice, and under
# AddressSanitizer GCC takes about 2.5 times longer at -O2 -g for the same tests.
sanitizer_flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
                 "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")
packages=(g++ cmake make libboost-dev libboost-program-options-dev libboost-filesystem-dev
          libboost-date-time-dev libboost-timer-dev libgdal-dev
          libtbb-dev libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev)

# install_missing [extra packages...]
install_missing() {
    local missing=()
    for package in "${packages[@]}" "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return
    fi
    echo "Installing missing packages: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}

# build <folder> <configure options...> [-- <build options...>]
build() {
    local dir="$1"
    shift
    local configure=()
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do
        configure+=("$1")
        shift
    done
    [ $# -gt 0 ] && shift
    cmake -S "$here" -B "$dir" "${configure[@]}"
    cmake --build "$dir" -j "$jobs" "$@"
}

case "${1:-}" in
    demo)
        install_missing
        # Only what the demo runs: the program and the two demo tools.
        build "$here/build" -DCMAKE_BUILD_TYPE=Release -- --target ordana make_demo_scenes \
            score_classification
        "$here/examples/run_demo.sh" "$here/build" "$here/demo-output"
        ;;
    test)
        install_missing chromium python3-distributed python3-gdal python3-pytest
        build "$here/build" -DCMAKE_BUILD_TYPE=Release
        ctest --test-dir "$here/build" --output-on-failure -j "$jobs"
        ;;
    sanitize)
        install_missing
        build "$here/build-sanitize" "${sanitizer_flags[@]}" -DVELKAR_SANITIZE=ON \
            -DVELKAR_BUILD_BENCH=OFF
        ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
            ctest --test-dir "$here/build-sanitize" --output-on-failure -j "$jobs"
        ;;
    tsan)
        install_missing
        cmake -S "$here" -B "$here/build-tsan" "${sanitizer_flags[@]}" \
            -DVELKAR_THREAD_SANITIZE=ON -DVELKAR_BUILD_BENCH=OFF
        cmake --build "$here/build-tsan" -j "$jobs" --target util_tests featureextraction_tests
        for suite in util_tests featureextraction_tests; do
            TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 "$here/build-tsan/tests/$suite"
        done
        ;;
    *)
        echo "usage: $0 demo|test|sanitize|tsan" >&2
        exit 2
        ;;
esac
