#!/usr/bin/env bash
# A later start with a path and F4 at the same moment: whatever the later start
# reports is what happened. Taken (status 0, nothing shown) only when its path
# joined the list before the window closed, as the program's trace of its list
# says; else it says "not added" (status 1). Two rounds hold the copy up with
# strace while F4 comes: in reading the confirmation, and just after its
# answer; six more race as they come.
# usage: hand_over_close.sh PROGRAM RECORDER DRAG_SOURCE SCREENSHOT_DIR
source "$(dirname "$0")/common.sh"
start_x wm

install_program "$work/app" "$RECORDER"
files="$work/files"
mkdir -p "$files"
export QT_LOGGING_RULES="doredaviro.list.info=true"
trace="$work/strace.log"

# until_traced COUNT: until the copy has begun its COUNT-th traced call.
until_traced() {
    local end=$((SECONDS + 15))
    while [ "$SECONDS" -le "$end" ]; do
        [ "$(grep -o "$syscall(" "$trace" 2>/dev/null | wc -l)" -ge "$1" ] && return 0
        sleep 0.02
    done
    return 1
}

# round NAME WAIT [STRACE ARG...]: a copy, a later start with one path, and F4
# once WAIT has passed: a number of seconds, or "traced N" for the copy's N-th
# traced call.
round() {
    local name=$1 wait=$2 tracer="" seen w joined
    shift 2
    seen=$(wc -l <"$work/program.log" 2>/dev/null || echo 0)
    start_main "$work/app"
    [ -n "$main" ] || { fail "$name: main window shown"; return; }
    if [ $# -gt 0 ]; then
        : >"$trace"
        strace -qq -o "$trace" -p "$pid" "$@" &
        tracer=$!
        background+=("$tracer")
        sleep 0.5  # attached
    fi
    focus "$main"
    start_program "$work/app" "$files/$name"
    later=$started
    if [ "${wait% *}" = traced ]; then
        until_traced "${wait#* }" || fail "$name: the copy's call was never traced"
    else
        sleep "$wait"
    fi
    xdotool key F4
    wait_exit "$pid" 30 || fail "$name: the copy ends"
    [ -n "$tracer" ] && kill "$tracer" 2>/dev/null
    # What the copy's list took before it closed.
    joined=$(tail -n +$((seen + 1)) "$work/program.log" |
        sed -n '/closed with/q; /added 1 rows/p' | wc -l)
    # The later start: quiet, or "not added" (its message answered), or the copy itself
    # when the first had gone before it came.
    own=""
    end=$((SECONDS + 20))
    while kill -0 "$later" 2>/dev/null && [ "$SECONDS" -le "$end" ] && [ -z "$own" ]; do
        w=$(windows_of "$later" DIALOG | head -n1)
        [ -n "$w" ] && answer "$w" && wait_gone "$w"
        own=$(windows_of "$later" NORMAL | head -n1)
        sleep 0.05
    done
    if [ -n "$own" ]; then
        check "$name: the first copy had gone, and the later start runs in its place" [ "$joined" = 0 ]
        focus "$own"
        xdotool key F4
        wait_exit "$later" 15
        return
    fi
    wait_exit "$later" 5 || fail "$name: the later start ends"
    case "$status" in
        0) check "$name: reported taken, and it joined the list before the close" [ "$joined" = 1 ] ;;
        1) check "$name: reported not added, and it never joined the list" [ "$joined" = 0 ] ;;
        *) fail "$name: the later start ended with $status" ;;
    esac
}

if strace -qq -o /dev/null true 2>/dev/null; then
    # The first read is the frame's, the second the confirmation's.
    syscall=recvfrom
    round held-in-reading "traced 2" -e trace=recvfrom -e inject=recvfrom:delay_enter=1500000:when=2
    # The copy's first send is its answer.
    syscall=sendto
    round held-after-answer "traced 1" -e trace=sendto -e inject=sendto:delay_exit=1500000:when=1
else
    echo "note: strace cannot trace here; only the races as they come"
fi
for wait in 0.1 0.2 0.3 0.4 0.5 0.6; do
    round "race-$wait" "$wait"
done
finish
