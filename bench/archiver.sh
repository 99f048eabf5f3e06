#!/usr/bin/env bash
# korvu-sample against bsdtar on the same input, runs alternating, in one
# table: packing a folder of ARCHIVER_FILES files (10,000, about 300 MB in
# all) into a zip, and extracting that zip. Each run is timed up to the end
# of a sync, so that data left in the page cache counts for both alike; the
# page cache is dropped before each run where this user may.
# usage: bench/archiver.sh PATH-TO-korvu-sample
#        (ARCHIVER_FILES and ARCHIVER_RUNS scale it down for a quick look)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

files=${ARCHIVER_FILES:-10000}
runs=${ARCHIVER_RUNS:-5}
korvu=$(cd "$(dirname "${1:?usage: bench/archiver.sh PATH-TO-korvu-sample}")" && pwd)/$(basename "$1")
command -v bsdtar >/dev/null || { echo "archiver.sh: bsdtar is needed (make bench installs it)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/var/tmp}/korvu-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# Text-like data, a quarter of it random, 30 KB a file on average.
python3 - "$files" <<'PY'
import os, random, sys
n = int(sys.argv[1])
rnd = random.Random(1)
words = [bytes(rnd.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rnd.randint(2, 9))) for _ in range(3000)]
for i in range(n):
    d = "tree/d%03d" % (i // 100)
    os.makedirs(d, exist_ok=True)
    size = rnd.randint(10000, 50000)
    text = b" ".join(rnd.choice(words) for _ in range(size * 3 // 4 // 6))
    with open("%s/f%05d.txt" % (d, i), "wb") as f:
        f.write(text[: size * 3 // 4] + os.urandom(size // 4))
PY
total_mb=$(du -sm tree | cut -f1)

dropped=no
drop() {
    sync
    if [ "$dropped" != never ] && { echo 3 >/proc/sys/vm/drop_caches; } 2>/dev/null; then
        dropped=yes
    else
        dropped=never
    fi
}
# timed NAME COMMAND...: appends "NAME milliseconds" to samples.
timed() {
    local name=$1 start
    shift
    drop
    start=$(date +%s%N)
    "$@" >/dev/null
    sync
    echo "$name $((($(date +%s%N) - start) / 1000000))" >>samples
}
korvu_pack() { "$korvu" tree && mv tree.zip korvu.zip; }
bsdtar_pack() { bsdtar -cf bsdtar.zip --format zip tree; }
korvu_extract() { "$korvu" in.zip; }
bsdtar_extract() { mkdir out && bsdtar -xf in.zip -C out; }
tidy() { rm -rf korvu.zip bsdtar.zip in out; }

: >samples
korvu_pack >/dev/null && mv korvu.zip in.zip  # the zip both extract, and a warm-up
for i in $(seq "$runs"); do
    for who in $( ((i % 2)) && echo korvu bsdtar || echo bsdtar korvu); do
        timed "pack.$who" "${who}_pack"
        tidy
        timed "extract.$who" "${who}_extract"
        tidy
    done
done

# shellcheck source=bench/samples.sh
. "$here/samples.sh"
echo
echo "korvu-sample vs bsdtar: $files files, $total_mb MB, $runs runs each alternating," \
     "$(nproc) CPUs, load $(cut -d ' ' -f 1 /proc/loadavg); page cache dropped: $dropped"
printf '%-8s %12s %12s %16s %16s %7s  %s\n' task "korvu ms" "bsdtar ms" "korvu range" "bsdtar range" ratio "goal <= 1.10x"
for task in pack extract; do
    k=$(median "$task.korvu") b=$(median "$task.bsdtar")
    ratio=$(awk -v a="$k" -v b="$b" 'BEGIN { printf "%.2f", a / b }')
    met=$(awk -v r="$ratio" 'BEGIN { print (r <= 1.10) ? "met" : "NOT met" }')
    printf '%-8s %12s %12s %16s %16s %6sx  %s\n' "$task" "$k" "$b" "$(range "$task.korvu")" \
        "$(range "$task.bsdtar")" "$ratio" "$met"
done
