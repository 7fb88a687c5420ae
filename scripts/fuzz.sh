#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer) in
# build-fuzz and runs each for a fixed time on a copy of its seed corpus. Qt is on because
# tocd_session runs tocd's own sessions.
#
#   scripts/fuzz.sh                 every target for 60 s (what CI runs)
#   scripts/fuzz.sh 3600            every target for an hour
#   scripts/fuzz.sh 600 receive     one target
#
# Crashes land in build-fuzz/artifacts/<target>/ and fail the script; the grown corpora stay
# in build-fuzz/corpus/<target>/ for the next run. Prints executions and seconds per target.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(receive commands tocd_text tocd_session terminal_text markup bridge_json)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DONDREL_BUILD_QT=ON -DONDREL_BUILD_TESTS=OFF -DONDREL_BUILD_FUZZ=ON >/dev/null
ninja -C build-fuzz -j2 "${targets[@]/%/_fuzz}"

status=0
summary=()
for t in "${targets[@]}"; do
    corpus=build-fuzz/corpus/$t
    artifacts=build-fuzz/artifacts/$t
    mkdir -p "$corpus" "$artifacts"
    cp -n fuzz/corpus/"$t"/* "$corpus"/ 2>/dev/null || true
    log=build-fuzz/$t.log
    echo "== $t: ${seconds} s"
    if ! build-fuzz/bin/${t}_fuzz -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=8192 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1; then
        status=1
        echo "!! $t failed; the input is in $artifacts:" >&2
        grep -E "ERROR|violation|does not split|runtime error|SUMMARY" "$log" | head -20 >&2
    fi
    runs=$(grep -h "stat::number_of_executed_units" "$log" | awk '{s += $2} END {print s + 0}')
    summary+=("$t: $runs executions in $seconds s, corpus $(ls "$corpus" | wc -l) inputs")
done
printf '%s\n' "${summary[@]}"
exit $status
