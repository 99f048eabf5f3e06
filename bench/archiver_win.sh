#!/usr/bin/env bash
# korvu-sample.exe under Wine against the Linux korvu-sample on the same folder of ARCHIVER_FILES
# small files (1,000 of 1 to 4 KB): packing it into a zip and extracting that zip, runs
# alternating, medians and their ratio in one table. Wine's own start-up, which every run of
# the Windows build pays, is timed alone too (--help). Each run is timed up to a sync.
# usage: bench/archiver_win.sh PATH-TO-korvu-sample PATH-TO-korvu-sample.exe
#        (ARCHIVER_FILES and ARCHIVER_RUNS change its size; WINEPREFIX picks the prefix)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

files=${ARCHIVER_FILES:-1000}
runs=${ARCHIVER_RUNS:-5}
usage="usage: bench/archiver_win.sh PATH-TO-korvu-sample PATH-TO-korvu-sample.exe"
linux=$(realpath "${1:?$usage}")
windows=$(realpath "${2:?$usage}")
command -v wine >/dev/null || { echo "archiver_win.sh: wine is needed (make test-win installs it)" >&2; exit 1; }
export WINEPREFIX=${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/doredaviro/wine64-bench}
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi
# One server for all runs, as a Windows machine has its services running already.
wineserver -p 60 >/dev/null 2>&1 || true

work=$(mktemp -d "${TMPDIR:-/var/tmp}/korvu-bench-win.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
python3 - "$files" <<'PY'
import os, random, sys
rnd = random.Random(1)
for i in range(int(sys.argv[1])):
    d = "tree/d%02d" % (i // 100)
    os.makedirs(d, exist_ok=True)
    with open("%s/f%04d.txt" % (d, i), "wb") as f:
        f.write(os.urandom(rnd.randint(1024, 4096) // 4) * 4)
PY
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

# timed NAME COMMAND...: appends "NAME milliseconds" to samples.
timed() {
  local name=$1 start
  shift
  sync
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1
  sync
  echo "$name $((($(date +%s%N) - start) / 1000000))" >>samples
}
linux_pack() { "$linux" tree; }
windows_pack() { wine "$windows" "$(winpath "$work/tree")"; }
linux_extract() { "$linux" in.zip; }
windows_extract() { wine "$windows" "$(winpath "$work/in.zip")"; }
linux_start() { "$linux" --help; }
windows_start() { wine "$windows" --help; }
tidy() { rm -rf tree.zip in; }

: >samples
"$linux" tree >/dev/null && mv tree.zip in.zip
windows_start >/dev/null 2>&1  # a warm-up for Wine
for i in $(seq "$runs"); do
  for who in $( ((i % 2)) && echo linux windows || echo windows linux); do
    timed "start.$who" "${who}_start"
    timed "pack.$who" "${who}_pack"
    tidy
    timed "extract.$who" "${who}_extract"
    tidy
  done
done

# shellcheck source=bench/samples.sh
. "$here/samples.sh"
echo
echo "korvu-sample.exe under $(wine --version) vs korvu-sample: $files files," \
  "$(du -sk tree | cut -f1) KB, $runs runs each alternating, $(nproc) CPUs," \
  "load $(cut -d ' ' -f 1 /proc/loadavg)"
printf '%-8s %12s %12s %16s %16s %7s\n' task "Wine ms" "Linux ms" "Wine range" "Linux range" ratio
for task in start pack extract; do
  w=$(median "$task.windows") l=$(median "$task.linux")
  printf '%-8s %12s %12s %16s %16s %6sx\n' "$task" "$w" "$l" "$(range "$task.windows")" \
    "$(range "$task.linux")" "$(awk -v a="$w" -v b="$l" 'BEGIN { printf "%.2f", a / b }')"
done
