#!/usr/bin/env bash
# A second copy started while one runs says so under its own title and ends;
# the first goes on with its window.
# usage: second_copy.sh PROGRAM RECORDER DRAG_SOURCE SCREENSHOT_DIR
source "$(dirname "$0")/common.sh"
start_x wm

install_program "$work/app" "$RECORDER"
cd "$work" || exit 1
start_program "$work/app"
first=$started
main=$(wait_window "$first" NORMAL 30)
check "first copy shows its window" [ -n "$main" ]

start_program "$work/app"
second=$started
message=$(wait_window "$second" DIALOG 30)
check "second copy shows a message" [ -n "$message" ]
title=$(window_name "$message")
check "its title is the load-error one (got '$title')" [ "$title" = "ロードエラー" ]
check "second copy shows no main window" [ -z "$(windows_of "$second" NORMAL)" ]
screenshot second_copy_message
answer "$message"
if wait_exit "$second" 10; then
    pass "second copy ends once answered (status $status)"
    check "it ends by itself, not by a signal" [ "$status" -lt 128 ]
else
    fail "second copy ends once answered"
fi

check "first copy still runs" kill -0 "$first"
check "first copy's window still shown" [ "$(windows_of "$first" NORMAL)" = "$main" ]
# Still answering: its own F4 ends it normally.
focus "$main"
xdotool key F4
check "first copy still answers keys (F4 ends it)" wait_exit "$first" 15
check "first copy ends with status 0 (got '$status')" [ "$status" = 0 ]

finish
