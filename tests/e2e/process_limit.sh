#!/usr/bin/env bash
# At the user's process limit, with archivers still running: the launches the
# system refuses stay queued, and the program keeps painting and answering,
# also once Qt's idle helper threads would have ended (after 30 s) and a new
# one could not be started. And with nearly all of the user's processes taken
# before it starts, so that Qt cannot start the threads it wants, F4 still ends
# it. Runs the program as a user made for the run, since the limit does not
# bind root and counts every process of the user on the machine.
# usage: process_limit.sh PROGRAM RECORDER DRAG_SOURCE SCREENSHOT_DIR
if [ "$(id -u)" != 0 ]; then
    echo "SKIP: needs root, to run the program as another user under a process limit"
    exit 77
fi
readonly LIMIT=24 ROWS=40 NAP=91.25 PREFIX=doredaviro-limit- GROUP=65534
# remove_user NAME UID: the user, and every process of theirs.
remove_user() {
    local end=$((SECONDS + 5))
    pkill -KILL -U "$2" 2>/dev/null
    while pgrep -U "$2" >/dev/null && [ "$SECONDS" -le "$end" ]; do sleep 0.05; done
    userdel "$1" 2>/dev/null
}
# Left behind by runs that were killed: each user is named after the shell that made it.
while IFS=: read -r name _ id _; do
    owner=${name#"$PREFIX"}
    if [[ $name == "$PREFIX"* && $owner =~ ^[0-9]+$ ]] && ! kill -0 "$owner" 2>/dev/null; then
        remove_user "$name" "$id"
    fi
done </etc/passwd
# An id no process on the machine has: each root beside this one hands out its own ids, and
# any process of the id counts against the limit. Checked before the user is made.
for ((try = 0; try < 8; try++)); do
    uid=$((3000000 + RANDOM * 32768 + RANDOM))
    ! getent passwd "$uid" >/dev/null && ! pgrep -U "$uid" >/dev/null && break
done
# Where other users cannot even reach the system's programs (a root folder closed to them, as
# in some build roots), the test cannot run.
if ! setpriv --reuid="$uid" --regid="$GROUP" --clear-groups true 2>/dev/null; then
    echo "SKIP: other users cannot run programs here"
    exit 77
fi
source "$(dirname "$0")/common.sh"
user=$PREFIX$$
if ! useradd --system --no-create-home --no-user-group --gid "$GROUP" --uid "$uid" \
    --home-dir /nonexistent --shell /usr/sbin/nologin "$user" >"$work/useradd.log" 2>&1; then
    cat "$work/useradd.log"
    echo "FAIL: could not make a user for the run"
    exit 1
fi
trap '[ "$failures" = 0 ] || cat "$work/program.log"; remove_user "$user" "$uid"; cleanup' EXIT
# Each step needs the one before: after a failure the test ends at once.
step() {
    check "$@"
    [ "$failures" = 0 ] || finish
}
as_user=(setpriv --reuid="$uid" --regid="$GROUP" --clear-groups)
start_x wm

chmod 755 "$work"
install_program "$work/app" "$work/app/slow-archiver"
printf '#!/bin/sh\nexec sleep %s\n' "$NAP" >"$work/app/slow-archiver"
chmod 755 "$work/app" "$work/app/slow-archiver"
mkdir -p "$work/files" "$work/user-runtime" "$work/user-home"
chown "$uid" "$work/user-runtime" "$work/user-home"
chmod 700 "$work/user-runtime"
files=()
for ((i = 0; i < ROWS; i++)); do
    : >"$work/files/f$i"
    files+=("$work/files/f$i")
done

cd "$work/app" || exit 1
# The program as the user, under the limit; its pid in $pid and its window in $main.
start_limited() {
    XDG_RUNTIME_DIR="$work/user-runtime" HOME="$work/user-home" \
        prlimit --nproc="$LIMIT:$LIMIT" "${as_user[@]}" "$work/app/Zivev+Korvu" >>"$work/program.log" 2>&1 &
    pid=$!
    background+=("$pid")
    main=$(wait_window "$pid" NORMAL 30)
}

# All but three of the user's processes taken before the program starts: room for it and two
# of Qt's threads, not for every thread Qt would start.
taken=$((LIMIT - 3))
for ((i = 0; i < taken; i++)); do
    "${as_user[@]}" sleep 600 &
    disown
done
start_limited
step "with $taken of $LIMIT processes taken: main window shown" [ -n "$main" ]
focus "$main"
xdotool key F4
step "F4 ends the program" wait_exit "$pid" 15
step "with status 0 (got '$status')" [ "$status" = 0 ]
pkill -U "$uid" -x sleep
end=$((SECONDS + 5))
while pgrep -U "$uid" >/dev/null && [ "$SECONDS" -le "$end" ]; do sleep 0.05; done

start_limited
step "main window shown" [ -n "$main" ]
step "the list takes $ROWS paths" drop_on_list "$main" "${files[@]}"
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
step "the first batch stops at the limit and says so" answer_all
running=$(pgrep -U "$uid" -fc "sleep $NAP")
step "some archivers run ($running), not all $ROWS" [ "$running" -gt 0 -a "$running" -lt "$ROWS" ]

# Past the idle time of Qt's helper threads, with the limit still reached.
sleep 35
focus "$main"
xdotool key F1
step "a second batch still answers: its message comes and goes" answer_all
xdotool windowsize "$main" 900 700
sleep 0.5
screenshot process_limit_after
focus "$main"
xdotool key F4
step "F4 still closes the window at once" wait_gone "$main" 15
# The closed window's process waits for its archivers, and then ends.
pkill -U "$uid" -f "sleep $NAP"
step "the program ends with its archivers" wait_exit "$pid" 15
step "with status 0 (got '$status')" [ "$status" = 0 ]
finish
