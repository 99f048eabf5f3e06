#!/usr/bin/env bash
# The x86-64 installer as a user meets it, under Wine in a fresh prefix of its own: a silent
# install naming an archiver in a folder with Japanese and a space in its name, files, shortcuts
# and uninstall entry where they belong, the program started from its Start-menu shortcut and a
# drop launched through the archiver from its settings, then a silent uninstall that leaves
# nothing. A Japanese archiver path on a Western system. Then an install without an archiver:
# an empty Path= and the program's own message; the user edits the settings file, and neither a
# reinstall nor the uninstall takes it. Last, the portable .zip.
# usage: win_installer_test.sh WINE SETUP RECORDER PROBE XDND_DROP RESOURCE_CHECK
set -euo pipefail
wine=$1 setup=$(realpath "$2") recorder=$3 probe=$4 xdnd=$5 resource_check=$6
version=$(head -n1 "$(dirname "$0")/../../VERSION")
: "${DISPLAY:?needs an X display: scripts/win.sh test starts one}"

work=$(mktemp -d /tmp/doredaviro-installer.XXXXXX)
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all
# No installer dialogs for Wine's own parts, and no menu entries on this machine for the
# shortcuts the installer makes.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
cleanup() {
  WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
pass() { echo "PASS: $*"; }
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
probe() { "$wine" "$probe" "$@" 2>/dev/null | tr -d '\r'; }
unhex() {
  local hex=$1 out=""
  while [ -n "$hex" ]; do out+="\\x${hex:0:2}"; hex=${hex:2}; done
  printf '%b' "$out"
}
hex() { od -An -v -tx1 | tr -d ' \n'; }
utf16() { printf '\xff\xfe'; printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE; }
# Runs a command line exactly as typed at a Windows prompt, from a batch file in the OEM code
# page, so that quotes reach the installer as a user's would.
run_cmd() {
  printf '@%s\r\n' "$1" | iconv -f UTF-8 -t CP932 >"$work/run.bat"
  "$wine" cmd /c "$(winpath "$work/run.bat")" >/dev/null 2>&1
}
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\DoredAviro'
reg_value() {  # the data of one value of the uninstall entry
  "$wine" reg query "$uninstall_key" /v "$1" 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$1 *REG_[A-Z_]* *//p"
}
# Waits for the uninstaller, which runs on from a copy of itself, to remove its entry.
wait_uninstalled() {
  for _ in $(seq 100); do
    "$wine" reg query "$uninstall_key" >/dev/null 2>&1 || { sleep 0.5; return 0; }
    sleep 0.2
  done
  return 1
}
listing() { (cd "$1" && find . -mindepth 1 | LC_ALL=C sort); }

echo "making a fresh Wine prefix"
wineboot -i >/dev/null 2>&1 || true
wineserver -w || true  # the registry is written out when the server ends
[ -f "$WINEPREFIX/system.reg" ] || fail "no Wine prefix"
"$(dirname "$0")/../win32/wine-settings.sh" "$wine" >/dev/null 2>&1
drive_c=$WINEPREFIX/drive_c
profile=$(ls -d "$drive_c"/users/*/AppData | grep -v /Public/ | head -n1)
app=$profile/Local/Programs/DoredAviro
start_menu=$profile/Roaming/Microsoft/Windows/Start\ Menu/Programs/Zivev+Korvu.lnk
send_to=$profile/Roaming/Microsoft/Windows/SendTo/Zivev+Korvu.lnk

# The archiver stand-in, where a user might keep one.
mkdir -p "$drive_c/アーカイバ ツール" "$work/files"
cp "$recorder" "$drive_c/アーカイバ ツール/korvu.exe"
archiver='C:\アーカイバ ツール\korvu.exe'
touch "$work/files/日本語 ファイル.txt"

run_cmd "\"$(winpath "$setup")\" /S /ARCHIVER=\"$archiver\"" || fail "silent install"
[ "$(listing "$app")" = $'./Zivev+Korvu.exe\n./Zivev+Korvu.ini\n./korvu-sample.exe\n./uninstall.exe' ] ||
  fail "installed files:"$'\n'"$(listing "$app")"
pass "program, sample archiver, settings file and uninstaller in %LOCALAPPDATA%\\Programs\\DoredAviro"
cmp -s "$app/Zivev+Korvu.ini" <(utf16 $'[Korvu Path]\r\nPath='"$archiver"$'\r\n') ||
  fail "settings file: $(od -c "$app/Zivev+Korvu.ini" | head)"
pass "settings file names the archiver (UTF-16)"
"$resource_check" --installer "$version" "$app/uninstall.exe" >/dev/null ||
  fail "the uninstaller's version record or icon"
pass "the uninstaller carries the version record and the icon"

install_dir='C:\users\'"$(basename "$(dirname "$profile")")"'\AppData\Local\Programs\DoredAviro'
exe="$install_dir\\Zivev+Korvu.exe"
for lnk in "$start_menu" "$send_to"; do
  [ -s "$lnk" ] || fail "no shortcut $lnk"
  # A shortcut keeps its target's path in the ANSI code page, in UTF-16, or both.
  grep -q -e "$(printf '%s' "$exe" | iconv -t CP932 | hex)" \
    -e "$(printf '%s' "$exe" | iconv -t UTF-16LE | hex)" \
    <(hex <"$lnk") || fail "$lnk does not lead to $exe"
done
pass "Start menu and Send To shortcuts lead to the program"

[ "$(reg_value DisplayName)" = "Zivev+Korvu (DoredAviro)" ] || fail "DisplayName $(reg_value DisplayName)"
[ "$(reg_value DisplayVersion)" = "$version" ] ||
  fail "DisplayVersion $(reg_value DisplayVersion)"
[ "$(reg_value Publisher)" = DoredAviro ] || fail "Publisher $(reg_value Publisher)"
[ "$(reg_value DisplayIcon)" = "$exe,0" ] || fail "DisplayIcon $(reg_value DisplayIcon)"
[ "$(reg_value UninstallString)" = "\"$install_dir\\uninstall.exe\"" ] ||
  fail "UninstallString $(reg_value UninstallString)"
size=$(reg_value EstimatedSize)
kib=$(find "$app" -type f -printf '%s\n' | awk '{ n += $1 } END { print int(n / 1024) }')
# In KiB, as the system shows it: within a rounding of each file.
[ -n "$size" ] && [ $((size)) -ge $((kib - 3)) ] && [ $((size)) -le $((kib + 3)) ] ||
  fail "EstimatedSize $size for $kib KiB"
pass "uninstall entry: name, version, publisher, icon, size $((size)) KiB"

# The installed program, from its Start-menu shortcut; a file dropped on it and F1.
RECORDER_LOG=$(winpath "$work/launches.log")
export RECORDER_LOG
"$wine" start /unix "$start_menu" >/dev/null 2>&1 &
read -r xid lx ly < <(probe find) || fail "the installed program shows no window"
pass "the installed program starts from its shortcut and finds its settings"
"$xdnd" "$xid" "$lx" "$ly" "$work/files/日本語 ファイル.txt" || fail "drop"
for _ in $(seq 50); do [ -n "$(probe rows)" ] && break; sleep 0.1; done
xdotool windowfocus --sync "$xid"
xdotool key F1
mapfile -t dialog < <(probe dialog) || true
[ "${#dialog[@]}" -ge 3 ] || fail "no wait message"
xdotool windowfocus --sync "${dialog[0]}"
xdotool key Return
for _ in $(seq 100); do grep -q '^end$' "$work/launches.log" 2>/dev/null && break; sleep 0.1; done
grep -q '^end$' "$work/launches.log" 2>/dev/null || fail "the archiver was not started"
arg=$(unhex "$(sed -n 's/^arg=//p' "$work/launches.log")")
[ "$arg" = "$(winpath "$work/files/日本語 ファイル.txt")" ] || fail "archiver started with $arg"
cwd=$(unhex "$(sed -n 's/^cwd=//p' "$work/launches.log")")
[ "${cwd,,}" = "${install_dir,,}" ] || fail "archiver started in $cwd, not the shortcut's folder"
pass "a drop and F1 start the archiver from the settings file on the dropped file"
xdotool windowfocus --sync "$xid"
xdotool key F4
probe gone || fail "F4 left the window open"

# Left as written, the settings file goes with everything else.
"$wine" "$(winpath "$app/uninstall.exe")" /S >/dev/null 2>&1 || fail "silent uninstall"
wait_uninstalled || fail "the uninstall entry stays"
[ ! -e "$app" ] || fail "after uninstalling:"$'\n'"$(listing "$app")"
[ ! -e "$start_menu" ] && [ ! -e "$send_to" ] || fail "shortcuts left behind"
pass "a silent uninstall leaves nothing when the settings file is as written"

# On a Western system (code page 1252) the program, which reads its settings in the ANSI code
# page, could not spell a Japanese folder: the installer writes the archiver's short name.
mkdir -p "$drive_c/アーカイバ"
cp "$recorder" "$drive_c/アーカイバ/korvu.exe"
LC_ALL=C.UTF-8 "$wine" "$setup" /S '/ARCHIVER=C:\アーカイバ\korvu.exe' >/dev/null 2>&1 ||
  fail "silent install on a Western system"
value=$(iconv -f UTF-16 "$app/Zivev+Korvu.ini" | tr -d '\r' | sed -n 's/^Path=//p')
LC_ALL=C grep -qix 'C:\\[ -~]*\\korvu\.exe' <<<"$value" || fail "a Western system's settings name $value"
(cd "$work/files" && LC_ALL=C.UTF-8 exec "$wine" "$app/Zivev+Korvu.exe" >/dev/null 2>&1) &
read -r xid _ < <(probe find) || fail "the program on a Western system did not find $value"
xdotool windowfocus --sync "$xid"
xdotool key F4
probe gone || fail "F4 left the window open"
LC_ALL=C.UTF-8 "$wine" "$(winpath "$app/uninstall.exe")" /S >/dev/null 2>&1 || fail "uninstall"
wait_uninstalled || fail "the uninstall entry stays"
[ ! -e "$app" ] || fail "after uninstalling:"$'\n'"$(listing "$app")"
pass "on a Western system a Japanese archiver path is written as its short name ($value)"

# archiver_missing EXE WHAT: EXE, started, says the archiver is missing and ends once answered.
archiver_missing() {
  local started message
  (cd "$work/files" && exec "$wine" "$1" >/dev/null 2>&1) &
  started=$!
  mapfile -t message < <(probe message) || true
  [ "${#message[@]}" -ge 3 ] && [ "${message[2]}" = "+KorvuのPATHが見つかりません。" ] ||
    fail "$2: no message about the missing archiver: ${message[*]:-none}"
  xdotool windowfocus --sync "${message[0]}"
  xdotool key Return
  for _ in $(seq 50); do kill -0 "$started" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$started" 2>/dev/null; then fail "$2: the program still runs after its message"; fi
}

# Started by hand, the installer's archiver page proposes the sample archiver in the folder
# chosen on the page before; cancelled there, it installs nothing.
"$wine" "$setup" >/dev/null 2>&1 &
setup_pid=$!
title="DoredAviro Zivev+Korvu"
page_shows() {  # waits for an edit field reading $1
  for _ in $(seq 100); do
    probe fields "$title" | grep -qxF "$1" && return 0
    sleep 0.1
  done
  return 1
}
probe press "$title" 1 || fail "no installer window"
page_shows "$install_dir" || fail "no folder page"
probe press "$title" 1
page_shows "$install_dir\korvu-sample.exe" ||
  fail "the archiver page proposes: $(probe fields "$title" | tr '\n' ' ')"
kill -9 "$setup_pid" 2>/dev/null || true
wait "$setup_pid" 2>/dev/null || true
[ ! -e "$app" ] || fail "a cancelled install left:"$'\n'"$(listing "$app")"
pass "the installer's archiver page proposes korvu-sample.exe in the chosen folder"

# No /ARCHIVER=: the settings name the sample archiver beside the program, which works.
run_cmd "\"$(winpath "$setup")\" /S" || fail "silent install without /ARCHIVER="
cmp -s "$app/Zivev+Korvu.ini" <(utf16 $'[Korvu Path]\r\nPath='"$install_dir"$'\\korvu-sample.exe\r\n') ||
  fail "settings file without /ARCHIVER=: $(iconv -f UTF-16 "$app/Zivev+Korvu.ini")"
"$wine" "$app/korvu-sample.exe" "$(winpath "$work/files/日本語 ファイル.txt")" >/dev/null 2>&1 ||
  fail "the installed sample archiver failed"
[ "$(bsdtar -tf "$work/files/日本語 ファイル.txt.zip")" = "日本語 ファイル.txt" ] ||
  fail "the installed sample archiver made no zip of the file"
rm "$work/files/日本語 ファイル.txt.zip"
"$wine" "$(winpath "$app/uninstall.exe")" /S >/dev/null 2>&1 || fail "uninstall"
wait_uninstalled || fail "the uninstall entry stays"
[ ! -e "$app" ] || fail "after uninstalling:"$'\n'"$(listing "$app")"
pass "without /ARCHIVER= the settings name the installed korvu-sample.exe, which packs"

# An empty archiver named: an empty Path=, and the program says what is missing.
run_cmd "\"$(winpath "$setup")\" /S /ARCHIVER=" || fail "silent install without an archiver"
cmp -s "$app/Zivev+Korvu.ini" <(utf16 $'[Korvu Path]\r\nPath=\r\n') || fail "settings file without an archiver"
archiver_missing "$app/Zivev+Korvu.exe" "installed"
pass "without an archiver: an empty Path= and the program's message"

# The user names the archiver in Notepad; a reinstall (silent, naming another) keeps the file,
# and so does the uninstall, which takes everything else.
edited=$'[Korvu Path]\r\nPath=C:\\mine\\korvu.exe\r\n'
printf '%s' "$edited" >"$app/Zivev+Korvu.ini"
run_cmd "\"$(winpath "$setup")\" /S /ARCHIVER=C:\\other.exe" || fail "reinstall"
cmp -s "$app/Zivev+Korvu.ini" <(printf '%s' "$edited") || fail "a reinstall replaced the edited settings"
pass "a reinstall keeps the edited settings file"
"$wine" "$(winpath "$app/uninstall.exe")" /S >/dev/null 2>&1 || fail "second uninstall"
wait_uninstalled || fail "the uninstall entry stays"
[ "$(listing "$app")" = ./Zivev+Korvu.ini ] || fail "after uninstalling:"$'\n'"$(listing "$app")"
cmp -s "$app/Zivev+Korvu.ini" <(printf '%s' "$edited") || fail "the edited settings changed"
[ ! -e "$start_menu" ] && [ ! -e "$send_to" ] || fail "shortcuts left behind"
pass "a silent uninstall leaves the edited settings file and nothing else"
# The portable .zip beside the installer: the program, the sample archiver, a settings file
# naming it by a relative path and the read-me in one folder; started from another folder, a
# drop and F1 run the sample archiver beside it.
mkdir "$work/portable"
(cd "$work/portable" && cmake -E tar xf "${setup%-setup.exe}-portable.zip")
[ "$(listing "$work/portable")" = \
  $'./DoredAviro\n./DoredAviro/Zivev+Korvu.exe\n./DoredAviro/Zivev+Korvu.ini\n./DoredAviro/korvu-sample.exe\n./DoredAviro/readme.txt' ] ||
  fail "portable .zip holds"$'\n'"$(listing "$work/portable")"
cmp -s "$work/portable/DoredAviro/Zivev+Korvu.ini" <(printf '[Korvu Path]\r\nPath=korvu-sample.exe\r\n') ||
  fail "the portable settings: $(cat "$work/portable/DoredAviro/Zivev+Korvu.ini")"
(cd "$work/files" && exec "$wine" "$work/portable/DoredAviro/Zivev+Korvu.exe" >/dev/null 2>&1) &
read -r xid lx ly < <(probe find) || fail "the portable copy shows no window"
"$xdnd" "$xid" "$lx" "$ly" "$work/files/日本語 ファイル.txt" || fail "drop on the portable copy"
for _ in $(seq 50); do [ -n "$(probe rows)" ] && break; sleep 0.1; done
xdotool windowfocus --sync "$xid"
xdotool key F1
mapfile -t dialog < <(probe dialog) || true
[ "${#dialog[@]}" -ge 3 ] || fail "no wait message in the portable copy"
xdotool windowfocus --sync "${dialog[0]}"
xdotool key Return
zip="$work/files/日本語 ファイル.txt.zip"
for _ in $(seq 150); do [ -s "$zip" ] && break; sleep 0.2; done
[ "$(bsdtar -tf "$zip" 2>/dev/null)" = "日本語 ファイル.txt" ] ||
  fail "the portable copy's sample archiver made no zip of the dropped file"
xdotool windowfocus --sync "$xid"
xdotool key F4
probe gone || fail "F4 left the portable copy open"
pass "the portable copy runs the sample archiver beside it, named by a relative Path"
echo "PASS"
