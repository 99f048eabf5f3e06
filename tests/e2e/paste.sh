#!/usr/bin/env bash
# Files copied in another program and pasted with the keyboard alone: a real clipboard owner
# (xclip) offers text/uri-list or x-special/gnome-copied-files; Ctrl+V or Shift+Insert queues
# them as one drop, and plain text is passed over without a word.
# usage: paste.sh PROGRAM RECORDER DRAG_SOURCE SCREENSHOT_DIR
source "$(dirname "$0")/common.sh"
start_x wm

files="$work/files"
mkdir -p "$files"
names=("with space.txt" "日本語のファイル.txt" $'new\nline.txt' "percent %41 #hash?.txt"
       $'not-utf8-\xff.bin' "a folder")
paths=()
for name in "${names[@]}"; do
    if [ "$name" = "a folder" ]; then mkdir "$files/$name"; else : >"$files/$name"; fi
    paths+=("$files/$name")
done
# file:// URLs of the paths, percent-encoded byte for byte, CRLF after each.
urls() {
    /usr/bin/python3 -c 'import os, sys, urllib.parse
for p in sys.argv[1:]:
    sys.stdout.write("file://" + urllib.parse.quote(os.fsencode(p)) + "\r\n")' "$@"
}
# own_clipboard TARGET < DATA: a clipboard owner offering DATA as TARGET, until the next one.
own_clipboard() {
    local data="$work/clipboard.$RANDOM"
    cat >"$data"
    xclip -quiet -selection clipboard -t "$1" -i "$data" >/dev/null 2>&1 &
    background+=($!)
    sleep 0.5
}
no_message() {
    sleep 1
    [ -z "$(windows_of "$pid" DIALOG)" ]
}

export RECORDER_LOG="$work/recorder.log"
install_program "$work/app" "$RECORDER"
cd "$work" || exit 1
start_main "$work/app"
check "main window shown" [ -n "$main" ]
focus "$main"

# Plain text, even a path or a file URL, is not a copied file.
printf '%s\nfile://%s\n' "${paths[0]}" "${paths[0]}" | own_clipboard UTF8_STRING
xdotool key ctrl+v
check "plain text pasted: no message" no_message
xdotool key F1
empty_message=$(wait_window "$pid" DIALOG 30)
check "plain text pasted: the list stays empty, F1 only warns" [ -n "$empty_message" ]
answer "$empty_message"
wait_gone "$empty_message"

# Four paths as text/uri-list with Ctrl+V, on the check box where the focus starts.
focus "$main"
urls "${paths[@]:0:4}" | own_clipboard text/uri-list
xdotool key ctrl+v
check "text/uri-list pasted: no message" no_message
# Two more as copied in GNOME's file manager, with Shift+Insert on the list.
{
    printf 'copy\n'
    urls "${paths[@]:4}" | tr -d '\r' | head -c -1
} | own_clipboard x-special/gnome-copied-files
focus "$main"
xdotool key Tab
xdotool key shift+Insert
check "gnome-copied-files pasted: no message" no_message
screenshot paste_queued

xdotool key F1
wait_message=$(wait_window "$pid" DIALOG 30)
check "F1 shows the wait message" [ -n "$wait_message" ]
answer "$wait_message"
wait_gone "$wait_message"
wait_records ${#paths[@]}
sleep 0.3
mapfile -t got < <(records)
check "one start per pasted item (${#got[@]} of ${#paths[@]})" [ ${#got[@]} -eq ${#paths[@]} ]
for ((i = 0; i < ${#paths[@]}; i++)); do
    # Each paste is one drop: the last pasted path of the last paste on top.
    path=${paths[${#paths[@]} - 1 - i]}
    read -r _ argc arg _ <<<"${got[i]:-- - - -}"
    check "start $((i + 1)) is $(printf '%q' "$path")" [ "$argc" = 2 -a "$arg" = "$(hex "$path")" ]
done

focus "$main"
xdotool key F4
check "F4 ends the program" wait_exit "$pid" 15
finish
