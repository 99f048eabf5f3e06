#!/usr/bin/env bash
# Times the program against plain baselines, side by side and interleaved,
# under an X server of its own, and prints one table.
# usage: bench/run.sh BUILD_DIR    (the tree built with DOREDAVIRO_BENCH=ON)
# STARTUP_RUNS, DROP_REPEATS and EXEC_ROUNDS override the repetitions;
# ARCHIVER_FILES and ARCHIVER_RUNS scale down the archiver's part.
set -euo pipefail

STARTUP_RUNS=${STARTUP_RUNS:-50}
DROP_REPEATS=${DROP_REPEATS:-12}
EXEC_ROUNDS=${EXEC_ROUNDS:-7}

build=${1:?usage: bench/run.sh BUILD_DIR}
[ -d "$build" ] || { echo "run.sh: no build folder $build" >&2; exit 1; }
bin=$(cd "$build" && pwd)/bench
for tool in map_time minimal_window startup_probe queue_probe exec_probe; do
  if [ ! -x "$bin/$tool" ]; then
    echo "run.sh: $bin/$tool is missing; build $build with DOREDAVIRO_BENCH=ON first" >&2
    exit 1
  fi
done
program=$(cd "$build" && pwd)/Zivev+Korvu
archiver=$(cd "$build" && pwd)/sample/korvu-sample
here=$(cd "$(dirname "$0")" && pwd)
[ -x "$program" ] || { echo "run.sh: the program $program is missing; build $build first" >&2; exit 1; }
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
# The run records go to the work folder too; each run of the probes writes one.
export XDG_STATE_HOME=$work/state
unset WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb

# Xvfb picks a free display and writes its number once it takes connections.
# Without -noreset it starts afresh each time its last client leaves, and a
# start that comes meanwhile waits for that or fails to connect.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" \
  2>"$work/xvfb.log" &
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

# The program itself, with a settings file beside it naming an archiver that
# exists, as a user's copy has.
mkdir "$work/program"
cp "$program" "$work/program/"
program=$work/program/Zivev+Korvu
printf '[Korvu Path]\nPath=/bin/true\n' >"$work/program/Zivev+Korvu.ini"
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

echo "1/4 start-up: $STARTUP_RUNS runs each, interleaved" >&2
# The baseline must show what the program shows, or it measures something else.
for what in minimal_window startup_probe; do
  BENCH_GEOMETRY=1 timeout 60 "$bin/map_time" looks "$bin/$what" 2>>"$work/stderr.log" |
    grep '^looks' >"$work/$what.looks" || true
done
if [ ! -s "$work/startup_probe.looks" ] ||
   ! diff "$work/minimal_window.looks" "$work/startup_probe.looks" >"$work/looks.diff"; then
  echo "run.sh: minimal_window does not show what the program shows (< minimal, > program):" >&2
  cat "$work/looks.diff" "$work/stderr.log" >&2
  exit 1
fi
# A start-up message maps before the main window; it must not pass for it.
mkdir "$work/nosettings"
cp "$program" "$work/nosettings/"
timeout 30 "$bin/map_time" --end check "$work/nosettings/Zivev+Korvu" >/dev/null \
  2>"$work/check.log" || true
if ! grep -q 'a dialog mapped before the main window' "$work/check.log"; then
  echo "run.sh: map_time did not tell the missing-settings message from the main window:" >&2
  cat "$work/check.log" >&2
  exit 1
fi
# Unmeasured first runs fill the page cache and the font cache.
for _ in 1 2; do
  timeout 60 "$bin/map_time" minimal "$bin/minimal_window" >/dev/null 2>&1 || true
  timeout 60 "$bin/map_time" probe "$bin/startup_probe" >/dev/null 2>&1 || true
  timeout 60 "$bin/map_time" --end program "$program" >/dev/null 2>&1 || true
done
# The three take turns at going first, so each meets every phase of the load.
for i in $(seq "$STARTUP_RUNS"); do
  case $((i % 3)) in
    0) order="minimal probe program" ;;
    1) order="probe program minimal" ;;
    2) order="program minimal probe" ;;
  esac
  for what in $order; do
    case $what in
      minimal) run 30 "$bin/map_time" minimal "$bin/minimal_window" ;;
      probe) run 30 "$bin/map_time" probe "$bin/startup_probe" ;;
      program) run 30 "$bin/map_time" --end program "$program" ;;
    esac
  done
done

echo "2/4 drops of 32767 paths: $DROP_REPEATS each way; memory" >&2
run 120 "$bin/queue_probe" "$DROP_REPEATS"

echo "3/4 launches: $EXEC_ROUNDS rounds" >&2
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

map_prog=$(median map.program)
map_min=$(median map.minimal)
map_ratio=$(ratio "$map_prog" "$map_min")
map_paired=$(paired map.program map.minimal)
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
row "start-up to window mapped: program" "$map_prog" "ms" "$(range map.program)" \
    "$(count map.program)" "" ""
row "start-up to window mapped: minimal Qt window" "$map_min" "ms" "$(range map.minimal)" \
    "$(count map.minimal)" "" ""
row "  program / minimal (paired: ${map_paired}x)" "${map_ratio}x" "" "" "" "<= 1.10x" \
    "$(meets "$map_ratio" "<=" 1.10)"
row "  startup_probe / program (probe's fidelity)" \
    "$(ratio "$(median map.probe)" "$map_prog")x" "" "$(median map.probe) ms" \
    "$(count map.probe)" "(~1x)" ""
row "start-up to first paint: startup_probe" "$su_prog" "ms" "$(range startup.program)" \
    "$(count startup.program)" "" ""
row "start-up to first paint: minimal Qt window" "$su_min" "ms" "$(range startup.minimal)" \
    "$(count startup.minimal)" "(~37 ms)" ""
row "  startup_probe / minimal (paired: ${su_paired}x)" "${su_ratio}x" "" "" "" "<= 1.10x" \
    "$(meets "$su_ratio" "<=" 1.10)"
row "  CPU time to first paint: probe / minimal" "${su_cpu}x" "" \
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
row "  program, run record and error tails off" "$(median exec.norecord)" "/s" \
    "$(range exec.norecord)" "$(count exec.norecord)" "" ""
row "  record on / off (paired: $(paired exec.program exec.norecord)x)" \
    "$(ratio "$ex_prog" "$(median exec.norecord)")x" "" "" "" "~1x" ""
row "2000 archivers ending at once: reaped in" "$(median exec.ending.seconds)" "s" \
    "$(range exec.ending.seconds)" "$(count exec.ending.seconds)" "" ""
row "  task bar updates meanwhile" "$(median exec.ending.taskbar_updates)" "" \
    "$(range exec.ending.taskbar_updates)" "$(count exec.ending.taskbar_updates)" "a few/s" ""
row "  same: worst event-loop delay" "$(median exec.ending.worst_loop_delay_ms)" "ms" \
    "$(range exec.ending.worst_loop_delay_ms)" "$(count exec.ending.worst_loop_delay_ms)" "< 50 ms" \
    "$(meets "$(median exec.ending.worst_loop_delay_ms)" "<" 50)"
row "  same loop meanwhile idle, for as long" "$(median exec.idle.worst_loop_delay_ms)" "ms" \
    "$(range exec.idle.worst_loop_delay_ms)" "$(count exec.idle.worst_loop_delay_ms)" "" ""
row "  same, while 2000 unwatched processes end" "$(median exec.unwatched.worst_loop_delay_ms)" \
    "ms" "$(range exec.unwatched.worst_loop_delay_ms)" \
    "$(count exec.unwatched.worst_loop_delay_ms)" "" ""
row "  run records kept meanwhile (50 at most)" "$(ls "$XDG_STATE_HOME/doredaviro" | wc -l)" "" \
    "" "" "" ""
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

echo
echo "4/4 archiver: korvu-sample against bsdtar" >&2
"$here/archiver.sh" "$archiver"
