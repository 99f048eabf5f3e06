#!/usr/bin/env bash
# What a run leaves: a record of every archiver, a notice that names the failures truthfully on
# a server that renders markup, and its action putting the failures back into the list. Then a
# window closed while its archivers run: a later start is the copy at once, the closed one's
# notice still comes, its action hands the failures to the new copy, and the old process ends;
# a signal or the end of the display ends a closed one at once.
# A private session bus with a stand-in desktop that renders markup and takes the action.
# usage: run_record.sh PROGRAM RECORDER DRAG_SOURCE SCREENSHOT_DIR DESKTOP_STUB
source "$(dirname "$0")/common.sh"
STUB=${5:?the desktop stand-in}
start_x wm
export QT_LOGGING_RULES="doredaviro.list.info=true"

dbus-daemon --session --fork --print-address=3 --print-pid=4 3>"$work/bus" 4>"$work/bus.pid"
background+=("$(cat "$work/bus.pid")")
DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus")
export DBUS_SESSION_BUS_ADDRESS
DESKTOP_STUB_CAPS=body,body-markup,actions DESKTOP_STUB_ACTION=put-back \
    "$STUB" "$work/desktop.log" >"$work/stub.out" 2>&1 &
background+=($!)
for _ in $(seq 100); do grep -q ready "$work/stub.out" && break; sleep 0.05; done
check "the stand-in desktop listens" grep -q ready "$work/stub.out"

# Fails on names with "fail", saying why on its standard error.
cat >"$work/korvu.sh" <<'SCRIPT'
#!/bin/sh
sleep "$(cat "$(dirname "$0")/delay")"
case "$1" in *fail*) echo "why: $1" >&2; exit 1 ;; esac
exit 0
SCRIPT
chmod +x "$work/korvu.sh"
echo 3.5 >"$work/delay"
install_program "$work/app" "$work/korvu.sh"
files="$work/files"
mkdir -p "$files"
records="$HOME/.local/state/doredaviro"
count() { grep -c "^$1" "$work/desktop.log" 2>/dev/null; }
wait_count() { for _ in $(seq 300); do [ "$(count "$1")" -ge "$2" ] && return 0; sleep 0.1; done; return 1; }
run_batch() {
    focus "$main"
    xdotool key F1
    local w
    w=$(wait_window "$pid" DIALOG 30)
    answer "$w"
    wait_gone "$w"
}

odd="R&D <資料> fail.txt"
start_main "$work/app" "$files/ok" "$files/$odd" "$files/z fail"
check "main window shown" [ -n "$main" ]
run_batch
check "the notice comes" wait_count notify 1
body=$(grep '^notify' "$work/desktop.log" | head -n1 | cut -f7)
check "it counts, and names the odd file as it is ($body)" \
    bash -c '[[ $1 == "3件のうち2件が失敗しました。\n"* && $1 == *"$2"* ]]' _ "$body" "$files/$odd"
check "it offers to put the failures back" \
    grep -qx $'actions\tdefault||put-back|失敗した項目をリストに戻す' "$work/desktop.log"
# Written beside the notice, not before it.
for _ in $(seq 50); do ls "$records"/run-*.tsv >/dev/null 2>&1 && break; sleep 0.1; done
record=$(ls "$records"/run-*.tsv 2>/dev/null | head -n1)
check "a record is kept" [ -n "$record" ]
check "private" [ "$(stat -c %a "$record" 2>/dev/null):$(stat -c %a "$records")" = 600:700 ]
check "one line per archiver" [ "$(grep -vc '^#' "$record")" = 3 ]
check "with how each ended and why a failure failed" \
    grep -qF "$(printf 'exit 1\t%s\twhy: %s\\n' "$files/$odd" "$files/$odd")" "$record"
check "the action put both back as one drop" wait_count invoked 1
for _ in $(seq 50); do grep -q 'added 2 rows' "$work/program.log" && break; sleep 0.1; done
check "two rows added" grep -q 'added 2 rows' "$work/program.log"
# Run again: the record of that run lists them in the order they were listed before.
echo 0 >"$work/delay"
run_batch
for _ in $(seq 100); do [ "$(ls "$records" | wc -l)" -ge 2 ] && break; sleep 0.1; done
second=$(ls "$records"/run-*.tsv | tail -n1)
check "in their order" [ "$(grep -v '^#' "$second" | cut -f4)" = \
    "$(grep -v '^#' "$record" | grep -v 'exit 0' | cut -f4)" ]

# Closing during a run.
echo 3 >"$work/delay"
before=$(count notify)
start_program "$work/app" "$files/c fail"
for _ in $(seq 50); do grep -q 'added 1 rows' "$work/program.log" && break; sleep 0.1; done
old=$pid
run_batch
focus "$main"
xdotool key F4
check "the window closes at once" wait_gone "$main" 5
check "its process waits for its archiver" kill -0 "$old"
start_main "$work/app"
check "a later start is the copy at once" [ -n "$main" -a "$pid" != "$old" ]
check "the closed window's notice still comes" wait_count notify $((before + 1))
check "its action is taken" wait_count invoked 2
check "then the old process ends" wait_exit "$old" 15
for _ in $(seq 100); do [ "$(grep -c 'added 1 rows' "$work/program.log")" -ge 2 ] && break; sleep 0.1; done
check "the failure went to the new copy" [ "$(grep -c 'added 1 rows' "$work/program.log")" -ge 2 ]
focus "$main"
xdotool key F4
check "F4 ends the new copy" wait_exit "$pid" 15

# A closed copy goes with the session: a signal, or the display's end at logout, ends it at once.
echo 8 >"$work/delay"
closed() { wait_gone "$main" 5 && kill -0 "$pid"; }
for ender in signal display; do
    start_main "$work/app" "$files/ok"
    run_batch
    focus "$main"
    xdotool key F4
    check "closed, its process waits for its archiver" closed
    if [ "$ender" = signal ]; then kill "$pid"; else kill "$xserver"; fi
    check "the $ender ends it at once" wait_exit "$pid" 3
done
finish
