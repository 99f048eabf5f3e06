#!/usr/bin/env bash
# The check box keeps the window above others under a real window manager,
# without moving or resizing it, and unticking gives that up again.
# usage: always_on_top.sh PROGRAM RECORDER DRAG_SOURCE SCREENSHOT_DIR
source "$(dirname "$0")/common.sh"
start_x wm

above() { xprop -id "$1" _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE; }
# wait_above WINDOW yes|no
wait_above() {
    local end=$((SECONDS + 5))
    while [ "$SECONDS" -le "$end" ]; do
        if above "$1"; then [ "$2" = yes ] && return 0; else [ "$2" = no ] && return 0; fi
        sleep 0.05
    done
    return 1
}
# True when window $1 is stacked above window $2.
stacked_above() {
    xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g' |
        awk -v a="$(printf '0x%x' "$1")" -v b="$(printf '0x%x' "$2")" \
            '{for (i = 1; i <= NF; i++) {if ($i == a) pa = i; if ($i == b) pb = i}}
             END {exit !(pa && pb && pa > pb)}'
}

install_program "$work/app" "$RECORDER"
cd "$work" || exit 1
start_main "$work/app"
check "main window shown" [ -n "$main" ]
# Another window to compete with.
"$DRAG_SOURCE" "$work" >/dev/null 2>&1 &
background+=($!)
other=$(wait_window $! NORMAL 30)
check "other window shown" [ -n "$other" ]
# Over the main window's right-hand corner, so that who is on top shows.
read -r mx my mw mh <<<"$(geometry "$main")"
xdotool windowmove "$other" $((mx + mw - 60)) $((my + mh - 120))
sleep 0.5

before=$(geometry "$main")
check "not above others at first" wait_above "$main" no

# The focus starts on the check box: Space ticks it.
focus "$main"
xdotool key space
check "ticked: _NET_WM_STATE_ABOVE set" wait_above "$main" yes
sleep 0.3
after=$(geometry "$main")
check "ticked: same place and size ($before / $after)" [ "$after" = "$before" ]
check "ticked: same window, still shown" [ "$(windows_of "$pid" NORMAL)" = "$main" ]
focus "$other"
sleep 0.3
check "ticked: stays above the window that was activated after it" stacked_above "$main" "$other"
screenshot always_on_top_ticked

# Unticked with the mouse this time.
xdotool mousemove $((mx + 16)) $((my + 15)) click 1
check "unticked: _NET_WM_STATE_ABOVE gone" wait_above "$main" no
sleep 0.3
after=$(geometry "$main")
check "unticked: same place and size ($before / $after)" [ "$after" = "$before" ]
check "unticked: same window, still shown" [ "$(windows_of "$pid" NORMAL)" = "$main" ]
focus "$other"
sleep 0.3
check "unticked: the window activated after it goes above it" stacked_above "$other" "$main"

check "still running" kill -0 "$pid"
finish
