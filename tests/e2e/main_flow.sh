#!/usr/bin/env bash
# The main flow with the real program: files with awkward names dragged in
# from another program, F1, the wait message, and the archiver started once
# per row, top to bottom, each path as exactly one argument, in the directory
# the program was started from.
# usage: main_flow.sh PROGRAM RECORDER DRAG_SOURCE SCREENSHOT_DIR
source "$(dirname "$0")/common.sh"
start_x wm

files="$work/files"
mkdir -p "$files"
names=(
    "with space.txt"
    "it's \"quoted\".txt"
    'cost $HOME; rm -rf x.txt'
    "-leading-dash.txt"
    "日本語のファイル.txt"
    $'new\nline.txt'
    "percent %41 and #hash.txt"
    $'not-utf8-\xff.bin'
    "a folder"
)
dropped=()
for name in "${names[@]}"; do
    if [ "$name" = "a folder" ]; then mkdir "$files/$name"; else : >"$files/$name"; fi
    dropped+=("$files/$name")
done

export RECORDER_LOG="$work/recorder.log"
install_program "$work/app" "$RECORDER"
start_dir="$work/start dir"
mkdir -p "$start_dir"
cd "$start_dir" || exit 1
# As under Wayland with no platform chosen: the program picks X11 for itself, and sets more for
# its own painting; the archivers must see none of it.
unset QT_QPA_PLATFORM
export WAYLAND_DISPLAY=doredaviro-no-such-wayland
start_main "$work/app"
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY
check "main window shown" [ -n "$main" ]
started_with=$(LC_ALL=C sort -z "/proc/$pid/environ" | od -An -v -tx1 | tr -d ' \n')

# The drop, from another program, with the mouse.
if drop_on_list "$main" "${dropped[@]}"; then
    pass "the list takes the drop"
else
    fail "the list takes the drop; the drag source said:"
    cat "$work/drag.log"
fi
sleep 0.5
screenshot main_flow_queued

focus "$main"
xdotool key F1
wait_message=$(wait_window "$pid" DIALOG 30)
check "F1 shows the wait message" [ -n "$wait_message" ]
check "titled with the caption" [ "$(window_name "$wait_message")" = "$CAPTION" ]
screenshot main_flow_wait_message
# While it waits, the close box does not end the program.
wmctrl -i -c "$main"
sleep 0.5
check "close box refused while the message waits" kill -0 "$pid"
check "window still shown" [ "$(windows_of "$pid" NORMAL)" = "$main" ]
answer "$wait_message"
check "wait message answered" wait_gone "$wait_message"
sleep 1
check "no other message follows the one key press" [ -z "$(windows_of "$pid" DIALOG)" ]
for w in $(windows_of "$pid" DIALOG); do answer "$w" && wait_gone "$w"; done

wait_records ${#dropped[@]}
sleep 0.3
mapfile -t got < <(records)
check "one start per dropped item (${#got[@]} of ${#dropped[@]})" [ ${#got[@]} -eq ${#dropped[@]} ]
expected_cwd=$(hex "$start_dir")
for ((i = 0; i < ${#dropped[@]}; i++)); do
    # Top of the list first, and the last dropped went in on top.
    path=${dropped[${#dropped[@]} - 1 - i]}
    read -r _ argc arg cwd <<<"${got[i]:-- - - -}"
    shown=$(printf '%q' "$path")
    check "start $((i + 1)) is $shown as one argument" [ "$argc" = 2 -a "$arg" = "$(hex "$path")" ]
    check "start $((i + 1)) runs in the start directory" [ "$cwd" = "$expected_cwd" ]
done
given=$(sed -n 's/^env=//p' "$RECORDER_LOG" | sort -u)
check "every start gets the environment the program was started with, unchanged" \
    [ -n "$given" -a "$given" = "$started_with" ]

# The list was emptied: F1 again starts nothing and only warns.
focus "$main"
xdotool key F1
empty_message=$(wait_window "$pid" DIALOG 30)
check "F1 on the emptied list only warns" [ -n "$empty_message" ]
sleep 0.3
check "and starts nothing more" [ "$(records | wc -l)" -eq ${#dropped[@]} ]
answer "$empty_message"
wait_gone "$empty_message"
sleep 1
check "and no other message follows" [ -z "$(windows_of "$pid" DIALOG)" ]
for w in $(windows_of "$pid" DIALOG); do answer "$w" && wait_gone "$w"; done

focus "$main"
xdotool key F4
check "F4 ends the program" wait_exit "$pid" 15
check "with status 0 (got '$status')" [ "$status" = 0 ]

finish
