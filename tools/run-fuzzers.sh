#!/bin/sh
# Builds the card plug-in's libFuzzer targets with clang in a build folder of
# their own and runs each for N seconds (default 20). Exits non-zero when a
# target does not build or finds a crash, a leak or undefined behaviour.
#
#   tools/run-fuzzers.sh [SECONDS] [BUILD_DIR]
set -eu

seconds=${1:-20}
case $seconds in
    ''|*[!0-9]*) echo "run-fuzzers: SECONDS debe ser un número entero: $seconds" >&2; exit 2 ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$root/build-fuzz}
targets="fuzz_command fuzz_mrz fuzz_sm_unwrap fuzz_png fuzz_abi"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DZELVO_COMPONENTS=plugins/card -DZELVO_FUZZ=ON >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" -j2 --target $targets

status=0
for t in $targets; do
    corpus=$build/fuzz/corpus/$t
    mkdir -p "$corpus"
    echo "== $t: $seconds s"
    # A finding leaves its input in the build folder (crash-*, leak-*, timeout-*).
    if ! (cd "$build/fuzz" && ASAN_OPTIONS=detect_leaks=1 \
            "./$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -print_final_stats=1 "$corpus"); then
        echo "run-fuzzers: $t encontró un fallo" >&2
        status=1
    fi
done
exit $status
