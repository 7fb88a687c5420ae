#!/usr/bin/env bash
# Runs every benchmark and writes the report under bench/results/: REPORT.md (tables, goals
# met or not), scaling.png, and the raw results it was made from.
#   scripts/bench.sh              full run (about 15 minutes on 2 cores)
#   SESSIONS=500 scripts/bench.sh a smaller tocd load (the larger ones are skipped)
#   scripts/bench.sh --build-only build every target in Release (as measured), as CI does
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
out=bench/results
mkdir -p "$out"
cmake -S . -B build-perf -G Ninja -DCMAKE_BUILD_TYPE=Release -DONDREL_BUILD_QT=ON \
    -DONDREL_BUILD_TESTS=ON -DONDREL_BUILD_BENCH=ON >/dev/null
if [[ "${1:-}" == --build-only ]]; then
    ninja -C build-perf -j2
    exit 0
fi
ninja -C build-perf -j2 engine_bench engine_memory markup_bench tocd_load tocd_passwords tocd_hostile_tests \
    transcript_bench

{
    echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "commit: $(git rev-parse --short HEAD 2>/dev/null || echo unknown)"
    lscpu | grep -E '^(Model name|CPU\(s\)|Thread|Core|Socket|CPU max MHz|L2|L3)' || true
    echo "memory: $(free -h | awk '/^Mem:/ {print $2}')"
    echo "kernel: $(uname -sr)"
    echo "descriptors per process (hard limit): $(ulimit -Hn)"
    echo "compiler: $(c++ --version | head -1)"
    echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
} >"$out/machine.txt"
# A benchmark that fails or crashes is named in the report, not only in this script's output.
rm -f "$out/incomplete.txt"
incomplete() {
    echo "$1 (exit status $2)" | tee -a "$out/incomplete.txt"
}

build-perf/bin/engine_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
    --benchmark_min_time=0.2 --benchmark_out="$out/engine.json" --benchmark_out_format=json
build-perf/bin/markup_bench --benchmark_min_time=0.2 | tee "$out/markup.txt"
# The messenger's transcript, offscreen.
QT_QPA_PLATFORM=offscreen build-perf/bin/transcript_bench --benchmark_repetitions=3 \
    --benchmark_report_aggregates_only=true --benchmark_out="$out/transcript.json" \
    --benchmark_out_format=json
build-perf/bin/engine_memory | tee "$out/memory.txt" ||
    incomplete "engine_memory: a bound was exceeded" "${PIPESTATUS[0]}"
# tocd and the load generator each hold one descriptor per session: as many as allowed.
ulimit -Sn "$(ulimit -Hn)"
build-perf/bin/tocd_load --sessions "${SESSIONS:-2000}" --pairs 50 --messages 2000 --window 16 \
    --timeout 180 | tee "$out/tocd_load.txt" ||
    incomplete "tocd_load did not finish" "${PIPESTATUS[0]}"
rm -f "$out"/tocd_load_*.txt "$out"/fanout_*.txt
if [[ -z "${SESSIONS:-}" ]]; then
    # Each size runs several times, the sizes taking turns; the report takes the median. The
    # largest run is 20,000 sessions, or as many as a process's descriptor limit lets both tocd
    # and the generator hold (less 500 for everything else), in steps of 500.
    fit=$(( ($(ulimit -Hn) - 500) / 500 * 500 ))
    # tocd and the generator share one processor here, taking turns: on this virtual machine
    # two processors busy at once slow each other, and side by side tocd's figure per IM
    # changed by up to a factor of two from one run to the next.
    cpu=$(( $(nproc) - 1 ))
    for run in 1 2 3; do
        for sessions in 2000 10000 15000 $(( fit < 20000 ? fit : 20000 )); do
            taskset -c "$cpu" build-perf/bin/tocd_load --sessions "$sessions" --pairs 50 \
                --messages 2000 --window 16 --echo 0 --timeout 300 |
                tee "$out/tocd_load_${sessions}_$run.txt" ||
                incomplete "tocd_load --sessions $sessions did not finish" "${PIPESTATUS[0]}"
        done
    done
    for run in 1 2 3 4 5; do
        for watchers in 500 1000 2000 5000 10000; do
            build-perf/bin/tocd_load --fanout "$watchers" --timeout 120 |
                tee "$out/fanout_${watchers}_$run.txt" ||
                incomplete "tocd_load --fanout $watchers did not finish" "${PIPESTATUS[0]}"
        done
    done
fi
build-perf/bin/tocd_load --reconnect-storm 1000 --timeout 300 | tee "$out/storm.txt" ||
    incomplete "tocd_load --reconnect-storm did not finish" "${PIPESTATUS[0]}"
# 30 s a phase: 300 IMs each, so that the p99 is not merely the second slowest of 100.
build-perf/bin/tocd_load --im-under-attack 30 --timeout 90 | tee "$out/im_under_attack.txt" ||
    incomplete "tocd_load --im-under-attack did not finish" "${PIPESTATUS[0]}"
build-perf/bin/tocd_passwords | tee "$out/passwords.txt" ||
    incomplete "tocd_passwords did not finish" "${PIPESTATUS[0]}"
build-perf/bin/tocd_hostile_tests | tee "$out/hostile.txt" ||
    incomplete "tocd_hostile_tests failed" "${PIPESTATUS[0]}"
python3 bench/report.py "$out"
echo "report: $out/REPORT.md"
