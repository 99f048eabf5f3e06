#!/usr/bin/env bash
# The real window under Wine, end to end: files dropped through Wine's own X11 drop handling,
# F1 pressed, the wait message answered with Return, and what the archiver was started with
# read back from the recorder's log. Leaves screenshots in OUT_DIR.
# usage: e2e_window.sh WINE PROGRAM RECORDER PROBE XDND_DROP OUT_DIR
set -euo pipefail
wine=$1 program=$2 recorder=$3 probe=$4 xdnd=$5 out=$6
: "${DISPLAY:?needs an X display: scripts/win.sh test starts one}"

work=$(mktemp -d /tmp/doredaviro-e2e.XXXXXX)
app_pid=""
cleanup() {
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then kill "$app_pid" || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
probe() { "$wine" "$probe" "$@" 2>/dev/null | tr -d '\r'; }
rows() { probe rows; }
wait_rows() {  # wait until the list holds $1 rows
  for _ in $(seq 100); do [ "$(rows | grep -c .)" -eq "$1" ] && return 0; sleep 0.1; done
  fail "the list holds $(rows | grep -c .) rows, not $1"
}
unhex() {
  local hex=$1 out=""
  while [ -n "$hex" ]; do out+="\\x${hex:0:2}"; hex=${hex:2}; done
  printf '%b' "$out"
}

# The program and the archiver stand-in in folders named in Japanese; the settings file in the
# ANSI code page, as a Japanese user's editor writes it.
mkdir -p "$work/アプリ" "$work/ツール" "$work/files/dir"
cp "$program" "$work/アプリ/Zivev+Korvu.exe"
cp "$recorder" "$work/ツール/korvu.exe"
printf '[Korvu Path]\r\nPath=%s\r\n' "$(winpath "$work/ツール/korvu.exe")" |
  iconv -f UTF-8 -t CP932 > "$work/アプリ/Zivev+Korvu.ini"
touch "$work/files/x.txt" "$work/files/a b.txt" "$work/files/日本語.txt" "$work/files/café.txt"
RECORDER_LOG=$(winpath "$work/launches.log")
export RECORDER_LOG

# Without a settings file: both start-up messages wait for the user, then the program ends
# with status 1 and no window.
mkdir -p "$work/空"
cp "$program" "$work/空/Zivev+Korvu.exe"
"$wine" "$work/空/Zivev+Korvu.exe" >/dev/null 2>&1 &
app_pid=$!
box() {  # box LINE1 LINE2: the start-up message of these lines, answered once it has stayed
  local found
  mapfile -t found < <(probe message) || true
  [ "${found[2]:-}|${found[3]:-}" = "$1|$2" ] || fail "start-up message '${found[*]:2}', not '$1 $2'"
  sleep 1
  mapfile -t found < <(probe message 1) || true
  [ "${found[2]:-}" = "$1" ] || fail "the start-up message '$1' closed by itself"
  xdotool windowfocus --sync "${found[0]}"
  xdotool key Return
}
box "設定ファイルが見つかりません。" "Zivev+Korvu.iniが存在するか確認して下さい。"
box "+KorvuのPATHが見つかりません。" "Zivev+Korvu.iniの設定を見直して下さい。"
status=0
wait "$app_pid" || status=$?
app_pid=""
[ "$status" = 1 ] || fail "without settings the program ended with status $status, not 1"

(cd "$work/files" && exec "$wine" "$work/アプリ/Zivev+Korvu.exe" >/dev/null 2>&1) &
app_pid=$!
read -r xid lx ly < <(probe find) || fail "no window"
echo "window: X id $xid, list centre at $lx,$ly"
expect() {  # expect WHAT VALUE: poll the probe until it tells VALUE
  for _ in $(seq 30); do [ "$(probe "$1")" = "$2" ] && return 0; sleep 0.1; done
  fail "$1 is $(probe "$1"), not $2"
}

# What assistive technology reads. Wine's accessibility interface gives the window's and the
# progress bar's names; it does not name a list after its label as Windows does, so for the
# list the window order is checked: the instruction label right before it.
mapfile -t acc < <(probe accessible) || true
printf '  %s\n' "${acc[@]}"
tab=$'\t'
[ "${acc[0]%$tab*}" = "window$tab+Korvu支援Tool  Zivev+Korvu" ] || fail "window: ${acc[0]:-}"
[ "${acc[1]%$tab*}" = "progress$tab+Korvu起動の進行状況" ] || fail "progress bar: ${acc[1]:-}"
[ "${acc[2]:-}" = "before list${tab}Static${tab}圧縮/解凍を行うファイルまたはフォルダをDrag＆Dropして下さい" ] ||
  fail "before the list: ${acc[2]:-}"
[ "${acc[3]:-}" = "before progress${tab}Button" ] || fail "before the progress bar: ${acc[3]:-}"

# Keys: Tab walks check box, list, Execute, Close; Space on the check box keeps the window on
# top and lets it go again; Enter and Esc on a button do nothing at all.
ids=(100 102 105 106)  # control IDs: check box, list, Execute, Close
xdotool windowfocus --sync "$xid"
expect focus "${ids[0]}"
for want in "${ids[1]}" "${ids[2]}" "${ids[3]}" "${ids[0]}"; do
  xdotool key Tab
  expect focus "$want"
done
xdotool key space
expect topmost 1
xdotool key space
expect topmost 0
xdotool key Tab Tab
expect focus "${ids[2]}"
xdotool key Return Escape
probe dialog 1 >/dev/null && fail "Enter or Esc on the Execute button opened a message"
probe find >/dev/null || fail "Enter or Esc closed the window"

# Two drops: each one's paths go in at the top, the last dropped on top.
"$xdnd" "$xid" "$lx" "$ly" "$work/files/x.txt" || fail "first drop"
wait_rows 1
"$xdnd" "$xid" "$lx" "$ly" "$work/files/a b.txt" "$work/files/日本語.txt" "$work/files/café.txt" \
  "$work/files/dir" || fail "second drop"
wait_rows 5
expected=$(for f in dir café.txt 日本語.txt "a b.txt" x.txt; do winpath "$work/files/$f"; echo; done)
[ "$(rows)" = "$expected" ] || fail "rows are"$'\n'"$(rows)"$'\n'"not"$'\n'"$expected"
import -window root "$out/e2e-window.png"

# Delete takes the selected row out, and only that one.
"$xdnd" "$xid" "$lx" "$ly" "$work/files/x.txt" || fail "third drop"
wait_rows 6
xdotool windowfocus --sync "$xid"
xdotool key Tab Tab Tab
expect focus "${ids[1]}"
xdotool key Home Delete
wait_rows 5
[ "$(rows)" = "$expected" ] || fail "after Delete the rows are"$'\n'"$(rows)"

xdotool windowfocus --sync "$xid"
xdotool key F1
mapfile -t dialog < <(probe dialog) || true
[ "${#dialog[@]}" -ge 3 ] || fail "no wait message"
[ "${dialog[2]}" = "+Korvuの処理が完了するまでお待ち下さい。" ] || fail "message: ${dialog[2]}"
[ "${dialog[1]}" = "+Korvu支援Tool  Zivev+Korvu" ] || fail "message title: ${dialog[1]}"
import -window root "$out/e2e-wait-message.png"
# Launched rows stay until the message is answered.
[ "$(rows | grep -c .)" -eq 5 ] || fail "rows went before the message was answered"
xdotool windowfocus --sync "${dialog[0]}"
xdotool key Return
wait_rows 0

# Five starts, top row first, each with its row as the one parameter, in the current folder.
for _ in $(seq 100); do [ "$(grep -c '^end$' "$work/launches.log" 2>/dev/null)" = 5 ] && break; sleep 0.1; done
[ "$(grep -c '^end$' "$work/launches.log")" = 5 ] || fail "$(grep -c '^end$' "$work/launches.log") starts"
started=$(awk -F= '
  $1 == "argc" { argc = $2 } $1 == "arg" { arg = $2 } $1 == "cwd" { cwd = $2 }
  $1 == "created" { created = $2 }
  $1 == "end" { print created, argc, arg, cwd; argc = arg = cwd = "" }' "$work/launches.log" |
  sort -n | while read -r _ argc arg cwd; do
    [ "$argc" = 2 ] || fail "argc $argc"
    [ "$(unhex "$cwd")" = "$(winpath "$work/files")" ] || fail "started in $(unhex "$cwd")"
    unhex "$arg"; echo
  done)
[ "$started" = "$expected" ] || fail "started with"$'\n'"$started"$'\n'"not"$'\n'"$expected"

# A later start with paths hands them to this copy, names the ANSI code page cannot spell
# included, and ends with 0; the paths reach the archiver intact.
handed=("$(winpath "$work/files/日本語.txt")" "$(winpath "$work/files/café.txt")")
status=0
(cd "$work/files" && "$wine" "$work/アプリ/Zivev+Korvu.exe" "${handed[@]}" >/dev/null 2>&1) || status=$?
[ "$status" = 0 ] || fail "the later start ended with status $status"
probe message 1 >/dev/null && fail "the later start showed a message"
wait_rows 2
[ "$(rows)" = "$(printf '%s\n%s' "${handed[1]}" "${handed[0]}")" ] || fail "handed over: $(rows)"
xdotool windowfocus --sync "$xid"
xdotool key F1
mapfile -t dialog < <(probe dialog) || true
[ "${#dialog[@]}" -ge 1 ] || fail "no wait message after the hand-over"
xdotool windowfocus --sync "${dialog[0]}"
xdotool key Return
wait_rows 0
for _ in $(seq 100); do [ "$(grep -c '^end$' "$work/launches.log")" = 7 ] && break; sleep 0.1; done
handed_started=$(awk -F= '$1 == "arg" { arg = $2 } $1 == "created" { created = $2 }
  $1 == "end" { print created, arg }' "$work/launches.log" | sort -n | tail -n 2 |
  while read -r _ arg; do unhex "$arg"; echo; done)
[ "$handed_started" = "$(printf '%s\n%s' "${handed[1]}" "${handed[0]}")" ] ||
  fail "the handed-over paths started as"$'\n'"$handed_started"

# Paste: plain text on the clipboard is passed over without a word; files copied in a file
# manager (CF_HDROP) go in with Ctrl+V or Shift+Insert, each paste as one drop.
probe copy-text "$(winpath "$work/files/x.txt")" || fail "could not put text on the clipboard"
xdotool windowfocus --sync "$xid"
xdotool key ctrl+v
sleep 1
[ "$(rows | grep -c .)" -eq 0 ] || fail "pasted text went in: $(rows)"
probe dialog 1 >/dev/null && fail "pasted text opened a message"
probe copy "$(winpath "$work/files/a b.txt")" "$(winpath "$work/files/日本語.txt")" ||
  fail "could not put files on the clipboard"
xdotool key ctrl+v
wait_rows 2
probe copy "$(winpath "$work/files/café.txt")" "$(winpath "$work/files/dir")" ||
  fail "could not put files on the clipboard"
xdotool key Tab  # on another control: the window takes the keys wherever the focus is
xdotool key shift+Insert
wait_rows 4
pasted=$(for f in dir café.txt 日本語.txt "a b.txt"; do winpath "$work/files/$f"; echo; done)
[ "$(rows)" = "$pasted" ] || fail "pasted rows are"$'\n'"$(rows)"$'\n'"not"$'\n'"$pasted"
probe dialog 1 >/dev/null && fail "the paste opened a message"

xdotool windowfocus --sync "$xid"
xdotool key F4
probe gone || fail "F4 left the window open"
for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app_pid" 2>/dev/null && fail "the program still runs after F4"
app_pid=""

# Sixteen starts at once, one path each, with no copy running before: one window holds all
# sixteen paths, each once, and the fifteen others end with 0.
burst=()
for i in $(seq 16); do
  (cd "$work/files" && exec "$wine" "$work/アプリ/Zivev+Korvu.exe" \
    "$(winpath "$work/files/burst$i.txt")" >/dev/null 2>&1) &
  burst+=($!)
done
begin=$SECONDS
ended=0 quiet=0
declare -A done_pid=()
while [ $((SECONDS - begin)) -le 40 ] && [ "$ended" -lt 15 ]; do
  for p in "${burst[@]}"; do
    [ -n "${done_pid[$p]:-}" ] && continue
    kill -0 "$p" 2>/dev/null && continue
    done_pid[$p]=1
    ended=$((ended + 1))
    status=0
    wait "$p" || status=$?
    [ "$status" = 0 ] && quiet=$((quiet + 1))
  done
  sleep 0.1
done
took=$((SECONDS - begin))
for p in "${burst[@]}"; do [ -z "${done_pid[$p]:-}" ] && app_pid=$p; done
[ "$ended" = 15 ] || fail "of sixteen started at once, $ended ended"
[ "$quiet" = 15 ] || fail "of fifteen later starts, $quiet ended with 0"
wait_rows 16
[ "$(rows | sort | uniq | wc -l)" = 16 ] || fail "the burst's rows: $(rows)"
echo "sixteen at once: one window, 16 rows, 15 ended with 0 in ${took} s"
read -r xid _ _ < <(probe find) || fail "no window for the burst"
xdotool windowfocus --sync "$xid"
xdotool key F4
probe gone || fail "F4 left the burst's window open"
for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
app_pid=""
echo "PASS"
