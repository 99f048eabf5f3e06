#!/usr/bin/env bash
# Times the program against plain baselines, side by side and interleaved,
# under an X server of its own, and prints one table.
# usage: bench/run.sh BUILD_DIR    (the tree built with DOREDAVIRO_BENCH=ON)
# STARTUP_RUNS, DROP_REPEATS and EXEC_ROUNDS override the repetitions.
set -euo pipefail

STARTUP_RUNS=${STARTUP_RUNS:-50}
DROP_REPEATS=${DROP_REPEATS:-12}
EXEC_ROUNDS=${EXEC_ROUNDS:-7}

build=${1:?usage: bench/run.sh BUILD_DIR}
[ -d "$build" ] || { echo "run.sh: no build folder $build" >&2; exit 1; }
bin=$(cd "$build" && pwd)/bench
for tool in timed_exec minimal_window startup_probe queue_probe exec_probe; do
  if [ ! -x "$bin/$tool" ]; then
    echo "run.sh: $bin/$tool is missing; build $build with DOREDAVIRO_BENCH=ON first" >&2
    exit 1
  fi
done
for tool in Xvfb xargs timeout; do
  command -v "$tool" >/dev/null || { echo "run.sh: $tool is needed (make bench installs it)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/doredaviro-bench.XXXXXX")
xvfb_pid=
cleanup() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The single-copy lock lives in the runtime folder: a private one means no
# running copy of the program, nor an earlier probe, can refuse a start.
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb

# Xvfb picks a free display and writes its number once it takes connections.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 200); do
  [ -s "$work/display" ] && break
  if ! kill -0 "$xvfb_pid" 2>/dev/null; then
    echo "run.sh: Xvfb did not start:" >&2
    cat "$work/xvfb.log" >&2
    exit 1
  fi
  sleep 0.05
done
[ -s "$work/display" ] || { echo "run.sh: Xvfb gave no display" >&2; exit 1; }
export DISPLAY=:$(head -n 1 "$work/display")

samples=$work/samples
: >"$samples"
# The launches' working folder.
cd "$work"

# run SECONDS COMMAND...: its samples are kept; a failure or a hang ends the bench.
run() {
  local limit=$1
  shift
  if ! timeout "$limit" "$@" >>"$samples" 2>>"$work/stderr.log"; then
    echo "run.sh: failed: $*" >&2
    tail -n 20 "$work/stderr.log" >&2
    exit 1
  fi
}

load_before=$(cut -d ' ' -f 1 /proc/loadavg)
started=$SECONDS

echo "1/3 start-up: $STARTUP_RUNS runs each, alternating" >&2
# Unmeasured first runs fill the page cache and the font cache.
for _ in 1 2; do
  timeout 60 "$bin/timed_exec" "$bin/minimal_window" >/dev/null 2>&1 || true
  timeout 60 "$bin/timed_exec" "$bin/startup_probe" >/dev/null 2>&1 || true
done
for i in $(seq "$STARTUP_RUNS"); do
  if ((i % 2)); then
    run 30 "$bin/timed_exec" "$bin/minimal_window"
    run 30 "$bin/timed_exec" "$bin/startup_probe"
  else
    run 30 "$bin/timed_exec" "$bin/startup_probe"
    run 30 "$bin/timed_exec" "$bin/minimal_window"
  fi
done

echo "2/3 drops of 32767 paths: $DROP_REPEATS each way; memory" >&2
run 120 "$bin/queue_probe" "$DROP_REPEATS"

echo "3/3 launches: $EXEC_ROUNDS rounds" >&2
run 300 "$bin/exec_probe" "$EXEC_ROUNDS"

load_after=$(cut -d ' ' -f 1 /proc/loadavg)

# --- the table ---------------------------------------------------------------

values() { awk -v k="$1" '$1 == "sample" && $2 == k { print $3 }' "$samples"; }
count() { values "$1" | wc -l; }
median_of() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
median() { values "$1" | median_of | awk '{ printf "%.1f", $1 }'; }
range() { values "$1" | sort -g | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%.1f-%.1f", lo, hi }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# Median of the ratios of samples taken in the same round.
paired() { paste <(values "$1") <(values "$2") | awk '{ print $1 / $2 }' | median_of | awk '{ printf "%.2f", $1 }'; }
meets() { awk -v v="$1" -v op="$2" -v g="$3" 'BEGIN { ok = (op == "<=") ? v <= g : (op == "<") ? v < g : v >= g; print ok ? "yes" : "NO" }'; }

row() { printf '%-46s %10s %-6s %-16s %3s  %-11s %s\n' "$@"; }

su_prog=$(median startup.program)
su_min=$(median startup.minimal)
su_ratio=$(ratio "$su_prog" "$su_min")
su_paired=$(paired startup.program startup.minimal)
su_cpu=$(ratio "$(median startup.program_cpu)" "$(median startup.minimal_cpu)")
drop_u=$(median drop.uniform_ms)
drop_n=$(median drop.nonuniform_ms)
ex_prog=$(median exec.program)
ex_bare=$(median exec.bare)
ex_ratio=$(ratio "$ex_prog" "$ex_bare")
ex_paired=$(paired exec.program exec.bare)
hp_prog=$(median exec.heap.program)
hp_bare=$(median exec.heap.bare)
hp_ratio=$(ratio "$hp_prog" "$hp_bare")
hp_paired=$(paired exec.heap.program exec.heap.bare)
qp=$(median exec.heap.qprocess)

echo
echo "DoredAviro bench: $(nproc) CPUs, load $load_before before / $load_after after," \
     "$((SECONDS - started)) s; medians, ranges are min-max over n"
row "figure" "median" "" "range" "n" "goal" "met"
row "start-up to first paint: program" "$su_prog" "ms" "$(range startup.program)" \
    "$(count startup.program)" "" ""
row "start-up to first paint: minimal Qt window" "$su_min" "ms" "$(range startup.minimal)" \
    "$(count startup.minimal)" "(~37 ms)" ""
row "  program / minimal (paired: ${su_paired}x)" "${su_ratio}x" "" "" "" "<= 1.10x" \
    "$(meets "$su_ratio" "<=" 1.10)"
row "  CPU time to first paint: program / minimal" "${su_cpu}x" "" \
    "$(median startup.program_cpu) / $(median startup.minimal_cpu) ms" "" "" ""
row "drop 32767 paths ($(median drop.path_bytes) B avg) until painted" "$drop_u" "ms" "$(range drop.uniform_ms)" \
    "$(count drop.uniform_ms)" "< 50 ms" "$(meets "$drop_u" "<" 50)"
row "  same, uniform item sizes off" "$drop_n" "ms" "$(range drop.nonuniform_ms)" \
    "$(count drop.nonuniform_ms)" "(contrast)" ""
row "Execute 2000 rows, /bin/true: program" "$ex_prog" "/s" "$(range exec.program)" \
    "$(count exec.program)" "" ""
row "  bare posix_spawn loop, same paths" "$ex_bare" "/s" "$(range exec.bare)" \
    "$(count exec.bare)" "" ""
row "  program / bare (paired per round: ${ex_paired}x)" "${ex_ratio}x" "" "" "" ">= 0.90x" \
    "$(meets "$ex_ratio" ">=" 0.90)"
row "  xargs -0 -P0 -n1, to its exit (incl. waiting)" "$(median exec.xargs)" "/s" \
    "$(range exec.xargs)" "$(count exec.xargs)" "" ""
echo "with 40 MB of heap touched (VmRSS $(median exec.heap.rss_mib) MiB):"
row "  program" "$hp_prog" "/s" \
    "$(range exec.heap.program)" "$(count exec.heap.program)" "" ""
row "  bare posix_spawn loop" "$hp_bare" "/s" "$(range exec.heap.bare)" \
    "$(count exec.heap.bare)" "" ""
row "  program / bare (paired: ${hp_paired}x)" "${hp_ratio}x" "" "" "" ">= 0.90x" \
    "$(meets "$hp_ratio" ">=" 0.90)"
row "  bare with heap / bare without" "$(ratio "$hp_bare" "$ex_bare")x" "" "" "" "~1x" ""
row "  QProcess::startDetached, 200 a round" "$qp" "/s" "$(range exec.heap.qprocess)" \
    "$(count exec.heap.qprocess)" "" ""
row "  QProcess / bare with heap" "$(ratio "$qp" "$hp_bare")x" "" "" "" "(~0.15x)" ""
row "VmRSS idle (window shown, empty list)" "$(median rss.idle_mib)" "MiB" "" "1" "" ""
row "VmRSS with 32767 rows queued" "$(median rss.queued_mib)" "MiB" "" "1" "" ""
