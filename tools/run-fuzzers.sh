#!/bin/sh
# Builds every libFuzzer target (the fuzz_* programs of the common layers, the
# launcher and both plug-ins) with clang in a build folder of their own and runs
# each for N seconds (default 20), starting from its seed inputs. Exits
# non-zero when a target does not build or finds a crash, a leak, undefined
# behaviour, a time-out or an input that needs too much memory.
#
#   tools/run-fuzzers.sh [SECONDS] [BUILD_DIR]
#
# A target is any executable BUILD_DIR/fuzz/fuzz_*; its seeds are the folder
# named after it below a fuzz/ folder of the sources (e.g.
# plugins/signing/fuzz/corpus/fuzz_config_ini/), so a new target needs no edit
# here. New inputs the fuzzer finds go to BUILD_DIR/fuzz/corpus/NAME/, a finding
# to BUILD_DIR/fuzz/NAME-crash-... (or -leak-, -timeout-, -oom-), its output to
# BUILD_DIR/fuzz/NAME.log.
set -eu

seconds=${1:-20}
case $seconds in
    ''|*[!0-9]*) echo "run-fuzzers: SECONDS debe ser un número entero: $seconds" >&2; exit 2 ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$root/build-fuzz}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    "-DZELVO_COMPONENTS=launcher;plugins/card;plugins/signing" -DZELVO_FUZZ=ON >/dev/null
cmake --build "$build" -j2 --target fuzzers

status=0
summary=""
for exe in "$build"/fuzz/fuzz_*; do
    [ -f "$exe" ] && [ -x "$exe" ] || continue
    t=$(basename "$exe")
    corpus=$build/fuzz/corpus/$t
    mkdir -p "$corpus"
    seeds=$(find "$root" \( -path "$root/build*" -o -name node_modules -o -name .git \) -prune \
        -o -type d -name "$t" -path '*/fuzz/*' -print | head -n 1)
    echo "== $t: $seconds s${seeds:+, semillas en ${seeds#"$root"/}}"
    # shellcheck disable=SC2086
    if ASAN_OPTIONS=detect_leaks=1 "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
            -print_final_stats=1 -artifact_prefix="$build/fuzz/$t-" "$corpus" $seeds >"$build/fuzz/$t.log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/fuzz/$t.log")
        summary="$summary$t: ${runs:-?} ejecuciones
"
    else
        tail -n 40 "$build/fuzz/$t.log" >&2
        echo "run-fuzzers: $t encontró un fallo (salida completa en $build/fuzz/$t.log)" >&2
        summary="$summary$t: FALLO
"
        status=1
    fi
done
printf '%s' "$summary"
exit $status
