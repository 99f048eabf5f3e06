#!/usr/bin/env bash
# What a screen reader finds: every control of the window under its role and name, read from
# the AT-SPI registry on a private session bus, and Tab moving the focus in the window's order.
# usage: accessibility.sh PROGRAM RECORDER DRAG_SOURCE SCREENSHOT_DIR
if [ -z "${DOREDAVIRO_PRIVATE_BUS:-}" ]; then
    # A session bus of its own, so that nothing of the desktop's registry is seen or changed.
    exec env DOREDAVIRO_PRIVATE_BUS=1 dbus-run-session -- bash "$0" "$@"
fi
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
atspi() { /usr/bin/python3 "$here/atspi.py" "$@"; }
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 NO_AT_BRIDGE=0
start_x wm

# The accessibility bus first: a program started before it registers nowhere.
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
    >/dev/null
install_program "$work/app" "$RECORDER"
cd "$work" || exit 1
start_main "$work/app"
check "main window shown" [ -n "$main" ]

tree=$(atspi tree "$CAPTION")
printf '%s\n' "$tree" | sed 's/^/  /'
has() { grep -qxF "$1" <<<"$tree"; }
tab=$'\t'
message='圧縮/解凍を行うファイルまたはフォルダをDrag＆Dropして下さい'
check "the window is a frame named by its caption" [ "$(head -n1 <<<"$tree")" = "frame$tab$CAPTION$tab" ]
check "the check box is named" has "check box${tab}常に手前に表示$tab"
check "the list takes its name from the label above it" has "list$tab$message$tab"
check "the label is there too" has "label$tab$message$tab"
check "Execute is named" has "push button${tab}実　行$tab"
check "Close is named" has "push button${tab}閉じる$tab"
check "the key caps are named" has "label${tab}Ｆ１$tab"
check "the progress bar is named" has "progress bar${tab}+Korvu起動の進行状況$tab"
check "nothing is left without a name" [ -z "$(awk -F'\t' '$2 == ""' <<<"$tree")" ]

# Tab from the check box, where the focus starts, through the window's order and round again.
focus "$main"
expected=("check box${tab}常に手前に表示" "list$tab$message" "push button${tab}実　行"
          "push button${tab}閉じる" "check box${tab}常に手前に表示")
for ((i = 0; i < ${#expected[@]}; i++)); do
    [ "$i" -gt 0 ] && xdotool key Tab
    got=
    for ((try = 0; try < 40; try++)); do
        got=$(atspi focused "$CAPTION")
        [ "$got" = "${expected[i]}" ] && break
        sleep 0.1
    done
    check "focus $((i + 1)) on ${expected[i]//$tab/ } (got '${got//$tab/ }')" [ "$got" = "${expected[i]}" ]
done

focus "$main"
xdotool key F4
check "F4 ends the program" wait_exit "$pid" 15
finish
