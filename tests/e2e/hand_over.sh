#!/usr/bin/env bash
# Paths from the command line and from later starts. A start with paths queues
# them as one drop, byte for byte, relative ones made absolute. A later start
# with paths hands them to the copy that runs, also while its wait message is
# open, and ends with 0 showing nothing. Eight copies started at once with a
# path each make one window that holds all eight.
# usage: hand_over.sh PROGRAM RECORDER DRAG_SOURCE SCREENSHOT_DIR
source "$(dirname "$0")/common.sh"
start_x wm

export RECORDER_LOG="$work/recorder.log"
install_program "$work/app" "$RECORDER"
files="$work/files"
mkdir -p "$files"
start_dir="$work/start dir"
mkdir -p "$start_dir/rel"
cd "$start_dir" || exit 1

# The paths the archiver was started with after the first SKIP starts, one a
# line, in hex.
launched_after() { records | tail -n +$(($1 + 1)) | awk '{print $3}'; }
hex_lines() { local p; for p in "$@"; do hex "$p"; echo; done; }
# execute: F1 in the running copy and its wait message answered.
execute() {
    local w
    focus "$main"
    xdotool key F1
    w=$(wait_window "$pid" DIALOG 30) && answer "$w" && wait_gone "$w"
}
# quiet_start ARG...: a later start; true when it ended with 0 without showing
# any window of its own.
quiet_start() {
    local shown="" w
    start_program "$work/app" "$@"
    while kill -0 "$started" 2>/dev/null; do
        for w in $(xdotool search --onlyvisible --pid "$started" 2>/dev/null); do shown+=" $w"; done
        sleep 0.05
    done
    wait "$started"
    status=$?
    [ "$status" = 0 ] && [ -z "$shown" ]
}

# Awkward names on the command line, and one relative to the start folder.
space="$files/with space.txt"
newline="$files/"$'new\nline.txt'
bad="$files/"$'bad-\xff.bin'
start_main "$work/app" "$space" "" "$newline" "$bad" "rel/r.txt"
check "started with paths: main window shown" [ -n "$main" ]
execute
check "four starts" wait_records 4
check "one drop, last on top, bytes kept, relative made absolute" \
    [ "$(launched_after 0)" = "$(hex_lines "$start_dir/rel/r.txt" "$bad" "$newline" "$space")" ]

check "a later start hands two paths over and ends quietly" quiet_start "$files/h1" "$files/h2"
check "the running copy still has one window" [ "$(windows_of "$pid" NORMAL)" = "$main" ]
execute
check "and they are queued as one drop" wait_records 6
check "launched in order" [ "$(launched_after 4)" = "$(hex_lines "$files/h2" "$files/h1")" ]

# While the wait message is open, a hand-over waits for it.
check "a path handed over" quiet_start "$files/w0"
focus "$main"
xdotool key F1
wait_message=$(wait_window "$pid" DIALOG 30)
check "the wait message is open" [ -n "$wait_message" ]
check "a later start during it ends quietly" quiet_start "$files/w1" "$files/w2"
check "the message still waits" xwininfo -id "$wait_message"
answer "$wait_message"
wait_gone "$wait_message"
execute
check "then its paths go in, after the batch" wait_records 9
check "launched: w0, then the later two" \
    [ "$(launched_after 6)" = "$(hex_lines "$files/w0" "$files/w2" "$files/w1")" ]

focus "$main"
xdotool key F4
check "F4 ends the first copy" wait_exit "$pid" 15

# Eight at once, none running before.
pids=()
for i in 0 1 2 3 4 5 6 7; do
    start_program "$work/app" "$files/c$i"
    pids+=("$started")
done
windows=()
end=$((SECONDS + 30))
while [ "$SECONDS" -le "$end" ] && [ ${#windows[@]} -eq 0 ]; do
    for p in "${pids[@]}"; do
        w=$(windows_of "$p" NORMAL)
        [ -n "$w" ] && windows+=("$p $w")
    done
    sleep 0.1
done
sleep 2
windows=()
quiet=0
for p in "${pids[@]}"; do
    w=$(windows_of "$p" NORMAL)
    if [ -n "$w" ]; then
        windows+=("$p $w")
    elif wait_exit "$p" 15 && [ "$status" = 0 ]; then
        quiet=$((quiet + 1))
    fi
done
check "of eight started at once, one window (${#windows[@]})" [ ${#windows[@]} -eq 1 ]
check "and seven ended with 0 ($quiet)" [ "$quiet" -eq 7 ]
read -r pid main <<<"${windows[0]:-}"
screenshot hand_over_eight
execute
check "that window held all eight" wait_records 17
check "each once" [ "$(launched_after 9 | sort)" = "$(hex_lines "$files"/c{0..7} | sort)" ]
focus "$main"
xdotool key F4
wait_exit "$pid" 15
finish
