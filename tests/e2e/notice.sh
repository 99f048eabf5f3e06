#!/usr/bin/env bash
# When the archivers a batch started have all ended, the desktop hears of it: progress on the
# task bar's launcher entry, reaching all of them, and one notice naming the one that failed.
# Nothing of the window changes. A private session bus with a stand-in desktop listens.
# usage: notice.sh PROGRAM RECORDER DRAG_SOURCE SCREENSHOT_DIR DESKTOP_STUB
source "$(dirname "$0")/common.sh"
STUB=${5:?the desktop stand-in}
start_x wm

dbus-daemon --session --fork --print-address=3 --print-pid=4 3>"$work/bus" 4>"$work/bus.pid"
background+=("$(cat "$work/bus.pid")")
DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus")
export DBUS_SESSION_BUS_ADDRESS
"$STUB" "$work/desktop.log" >"$work/stub.out" 2>&1 &
background+=($!)
for _ in $(seq 100); do grep -q ready "$work/stub.out" && break; sleep 0.05; done
check "the stand-in desktop listens" grep -q ready "$work/stub.out"

# An archiver that takes a few seconds, and fails on one path.
cat >"$work/korvu.sh" <<'SCRIPT'
#!/bin/sh
sleep 4
case "$1" in *fails*) exit 1 ;; esac
exit 0
SCRIPT
chmod +x "$work/korvu.sh"
install_program "$work/app" "$work/korvu.sh"
files="$work/files"
mkdir -p "$files"
start_main "$work/app" "$files/first" "$files/this one fails" "$files/last"
check "main window shown" [ -n "$main" ]
focus "$main"
xdotool key F1
w=$(wait_window "$pid" DIALOG 30)
check "the wait message as before" [ -n "$w" ]
answer "$w"
wait_gone "$w"
notices() { grep -c '^notify' "$work/desktop.log" 2>/dev/null; }
for _ in $(seq 200); do [ "$(notices)" -ge 1 ] && break; sleep 0.1; done
sleep 1
check "one notice ($(notices))" [ "$(notices)" = 1 ]
IFS=$'\t' read -r _ app icon entry urgency summary body < <(grep '^notify' "$work/desktop.log")
check "from the program's desktop entry" [ "$entry" = org.doredaviro.ZivevKorvu ]
check "with its icon" [ "$icon" = org.doredaviro.ZivevKorvu ]
check "urgent, since one failed" [ "$urgency" = 2 ]
check "titled" [ "$summary" = "+Korvuの処理が終わりました" ]
check "counting the failure and naming its path ($body)" \
    [ "$body" = "3件のうち1件が失敗しました。\\n$files/this one fails" ]
check "progress shown while they ran" grep -q $'^progress\tapplication://org.doredaviro.ZivevKorvu.desktop\t0\tshown\t3$' "$work/desktop.log"
check "progress reaching 3 of 3" grep -q $'\t1\tshown\t0$' "$work/desktop.log"
check "then taken away" [ "$(grep '^progress' "$work/desktop.log" | tail -n1 | cut -f4)" = hidden ]
focus "$main"
xdotool key F4
check "F4 ends the program" wait_exit "$pid" 15
finish
