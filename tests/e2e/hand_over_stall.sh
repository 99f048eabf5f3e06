#!/usr/bin/env bash
# A later start never hangs on a copy that is stopped or swamped, and what it
# reports as not added was not added: a stopped copy with a frame larger than
# the socket's buffer, and with a full backlog, each reported within the
# 10 s limit and nothing queued once the copy runs again. A flood of
# connections past the descriptor limit neither spins nor freezes the window.
# A copy that stalls between its answer and reading the confirmation, past the
# later start's 10 s, has the path all the same: the later start reports it
# taken, so it is never tried again and never queued twice.
# usage: hand_over_stall.sh PROGRAM RECORDER DRAG_SOURCE SCREENSHOT_DIR FLOOD
source "$(dirname "$0")/common.sh"
FLOOD=${5:?the flood helper}
start_x wm

export RECORDER_LOG="$work/recorder.log"
install_program "$work/app" "$RECORDER"
files="$work/files"
mkdir -p "$files"
socket="$XDG_RUNTIME_DIR/Zivev+Korvu-$DISPLAY.sock"
took=0

execute() {
    local w
    focus "$main"
    xdotool key F1
    w=$(wait_window "$pid" DIALOG 30) && answer "$w" && wait_gone "$w"
}
# reported_not_added ARG...: a later start shows its own message within 11 s
# and, once it is answered, ends with 1.
reported_not_added() {
    local begin=$SECONDS w
    start_program "$work/app" "$@"
    w=$(wait_window "$started" DIALOG 15)
    [ -n "$w" ] || return 1
    took=$((SECONDS - begin))
    answer "$w"
    wait_exit "$started" 10 && [ "$status" = 1 ] && [ "$took" -le $((11 + ${STARTUP_SLACK_S:-0})) ]
}
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

start_main "$work/app"
check "main window shown" [ -n "$main" ]

# 400 paths of about 1000 bytes: 400 KB, more than the socket takes unread.
large=()
for i in $(seq 400); do large+=("$files/$(printf 'p%03d-%0990d' "$i" 0)"); done
kill -STOP "$pid"
reported_not_added "${large[@]}"
check "stopped copy, 400 KB frame: the later start reports in time ($took s)" [ $? -eq 0 ]
kill -CONT "$pid"

kill -STOP "$pid"
"$FLOOD" "$socket" 200 14 >"$work/backlog" &
flood=$!
background+=("$flood")
sleep 1
check "the backlog is full ($(cat "$work/backlog") waiting)" [ "$(cat "$work/backlog")" -lt 200 ]
reported_not_added "$files/b1"
check "stopped copy, full backlog: the later start reports in time ($took s)" [ $? -eq 0 ]
kill -CONT "$pid"
wait "$flood"
sleep 1
execute
check "nothing was queued by the starts that reported" [ "$(records | wc -l)" -eq 0 ]
focus "$main"
xdotool key F4
wait_exit "$pid" 15

# Few descriptors, many connections.
soft=$(ulimit -Sn)
ulimit -Sn 96
start_main "$work/app"
ulimit -Sn "$soft"
check "main window shown with 96 descriptors" [ -n "$main" ]
"$FLOOD" "$socket" 400 8 >"$work/flood" &
flood=$!
background+=("$flood")
sleep 1.5
before=$(cpu_ticks "$pid")
sleep 2
used=$(($(cpu_ticks "$pid") - before))
check "no spinning while flooded ($used ticks in 2 s)" [ "$used" -lt 60 ]
xdotool windowsize "$main" 700 420
focus "$main"
xdotool key F1
w=$(wait_window "$pid" DIALOG 10)
check "the window still answers, resized, during the flood" [ -n "$w" ]
[ -n "$w" ] && answer "$w" && wait_gone "$w"
wait "$flood"
start_program "$work/app" "$files/after"
wait_exit "$started" 15
check "after the flood a later start is taken" [ "$status" = 0 ]
execute
check "and its path queued once" wait_records 1
focus "$main"
xdotool key F4
check "F4 still ends the program" wait_exit "$pid" 15

# The stall: strace holds the copy's second read, the confirmation's (the first
# is the frame's), for 12 s.
trace="$work/strace.log"
if strace -qq -o /dev/null true 2>/dev/null; then
    start_main "$work/app"
    check "main window shown for the stall" [ -n "$main" ]
    strace -qq -o "$trace" -p "$pid" -e trace=recvfrom \
        -e inject=recvfrom:delay_enter=12000000:when=2 &
    tracer=$!
    background+=("$tracer")
    sleep 0.5  # attached
    before=$(records | wc -l)
    begin=$SECONDS
    start_program "$work/app" "$files/stalled"
    w=$(wait_window "$started" DIALOG 20) && answer "$w"
    wait_exit "$started" 20
    first=$status
    check "stalled copy: the later start reports taken (status $first)" [ "$first" = 0 ]
    check "stalled copy: the copy was held in reading the confirmation" \
        [ "$(grep -c '^recvfrom(' "$trace")" = 2 ]
    # Until the copy has read it; a start told "not added" is tried again, as a user would.
    while [ "$SECONDS" -le $((begin + 20)) ] && ! grep -q DELAYED "$trace"; do sleep 0.1; done
    kill "$tracer"
    if [ "$first" != 0 ]; then
        start_program "$work/app" "$files/stalled"
        w=$(wait_window "$started" DIALOG 15) && answer "$w"
        wait_exit "$started" 15
    fi
    execute
    check "stalled copy: its path queued once" wait_records $((before + 1))
    sleep 1
    stalled=$(records | tail -n +$((before + 1)) | awk '{print $3}' | grep -c "^$(hex "$files/stalled")$")
    check "stalled copy: and never twice ($stalled)" [ "$stalled" = 1 ]
    focus "$main"
    xdotool key F4
    wait_exit "$pid" 15
else
    echo "note: strace cannot trace here; the stalled copy is not tried"
fi
finish
