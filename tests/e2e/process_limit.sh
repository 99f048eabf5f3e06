#!/usr/bin/env bash
# At the user's process limit, with archivers still running: the launches the
# system refuses stay queued, and the program keeps painting and answering,
# also once Qt's idle helper threads would have ended (after 30 s) and a new
# one could not be started. Runs the program as "nobody", since the limit does
# not bind root.
# usage: process_limit.sh PROGRAM RECORDER DRAG_SOURCE SCREENSHOT_DIR
if [ "$(id -u)" != 0 ]; then
    echo "SKIP: needs root, to run the program as another user under a process limit"
    exit 77
fi
readonly NOBODY=65534
# Where other users cannot even reach the system's programs (a root folder closed to them, as
# in some build roots), the test cannot run.
if ! setpriv --reuid="$NOBODY" --regid="$NOBODY" --clear-groups true 2>/dev/null; then
    echo "SKIP: user $NOBODY cannot run programs here"
    exit 77
fi
source "$(dirname "$0")/common.sh"
start_x wm

readonly LIMIT=24 ROWS=40 NAP=91.25
# The archivers: each holds one process of the user's until the test ends.
stop_archivers() { pkill -u "$NOBODY" -f "sleep $NAP" 2>/dev/null; }
trap 'stop_archivers; cleanup' EXIT

chmod 755 "$work"
install_program "$work/app" "$work/app/slow-archiver"
printf '#!/bin/sh\nexec sleep %s\n' "$NAP" >"$work/app/slow-archiver"
chmod 755 "$work/app" "$work/app/slow-archiver"
mkdir -p "$work/files" "$work/nobody-runtime" "$work/nobody-home"
chown "$NOBODY" "$work/nobody-runtime" "$work/nobody-home"
chmod 700 "$work/nobody-runtime"
files=()
for ((i = 0; i < ROWS; i++)); do
    : >"$work/files/f$i"
    files+=("$work/files/f$i")
done

cd "$work/app" || exit 1
XDG_RUNTIME_DIR="$work/nobody-runtime" HOME="$work/nobody-home" \
    prlimit --nproc="$LIMIT:$LIMIT" setpriv --reuid="$NOBODY" --regid="$NOBODY" --clear-groups \
    "$work/app/Zivev+Korvu" >>"$work/program.log" 2>&1 &
pid=$!
background+=("$pid")
main=$(wait_window "$pid" NORMAL 30)
check "main window shown" [ -n "$main" ]
check "the list takes $ROWS paths" drop_on_list "$main" "${files[@]}"
sleep 0.5

# answer_all: answers every message, in turn, until none comes for a second.
answer_all() {
    local w said=""
    while w=$(wait_window "$pid" DIALOG 1); do
        said+="$(window_name "$w");"
        answer "$w"
        wait_gone "$w" 10 || return 1
    done
    [ -n "$said" ]
}
focus "$main"
xdotool key F1
check "the first batch stops at the limit and says so" answer_all
running=$(pgrep -u "$NOBODY" -fc "sleep $NAP")
check "some archivers run ($running), not all $ROWS" [ "$running" -gt 0 -a "$running" -lt "$ROWS" ]

# Past the idle time of Qt's helper threads, with the limit still reached.
sleep 35
focus "$main"
xdotool key F1
check "a second batch still answers: its message comes and goes" answer_all
xdotool windowsize "$main" 900 700
sleep 0.5
screenshot process_limit_after
focus "$main"
xdotool key F4
check "F4 still ends the program" wait_exit "$pid" 15
check "with status 0 (got '$status')" [ "$status" = 0 ]
finish
