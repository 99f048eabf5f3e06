#!/usr/bin/env bash
# Ending the program: F4 with the focus on a button, the window manager's
# close request, and a click on the close box of the frame.
# usage: close.sh PROGRAM RECORDER DRAG_SOURCE SCREENSHOT_DIR
source "$(dirname "$0")/common.sh"
start_x wm

install_program "$work/app" "$RECORDER"
cd "$work" || exit 1

# start_main_checked WHAT: start_main, checked.
start_main_checked() {
    start_main "$work/app"
    check "$1: main window shown" [ -n "$main" ]
    # Without it every later step would only wait out its time (xprop waits for a click).
    [ -n "$main" ] || finish
}

start_main_checked "F4 on a button"
focus "$main"
# From the check box, Tab reaches the list and then the execute button.
xdotool key Tab Tab
# Space there presses it: with nothing queued it only warns, which shows
# that the focus is where it should be.
xdotool key space
message=$(wait_window "$pid" DIALOG 15)
check "F4 on a button: the focus is on the execute button" [ -n "$message" ]
[ -n "$message" ] && answer "$message" && wait_gone "$message"
focus "$main"
xdotool key F4
check "F4 on a button: the program ends" wait_exit "$pid" 15
check "F4 on a button: with status 0 (got '$status')" [ "$status" = 0 ]

start_main_checked "close request"
wmctrl -i -c "$main"
check "close request: the program ends" wait_exit "$pid" 15 || finish
check "close request: with status 0 (got '$status')" [ "$status" = 0 ]

start_main_checked "close box"
# The close box is the last button on the frame's title bar, at its right end.
read -r mx my mw _ <<<"$(geometry "$main")"
read -r _ right top _ <<<"$(frame_extents "$main")"
check "close box: the frame has a title bar" [ "${top:-0}" -gt 10 ]
xdotool mousemove $((mx + mw + right - top / 2 - 1)) $((my - top / 2)) click 1
check "close box: the program ends" wait_exit "$pid" 15
check "close box: with status 0 (got '$status')" [ "$status" = 0 ]

finish
