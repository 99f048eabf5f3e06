#!/usr/bin/env bash
# An install into a staging root puts everything where a desktop finds it, with
# the settings file beside the program naming the installed sample archiver.
set -u
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
pass=0 fail=0
check() {
  if eval "$2"; then pass=$((pass + 1)); echo "PASS $1"; else fail=$((fail + 1)); echo "FAIL $1"; fi
}

DESTDIR="$stage" cmake --install "$build" --prefix /usr/local >"$stage/install.log" 2>&1
rc=$?
check "install succeeds" '[ $rc -eq 0 ] || { cat "$stage/install.log"; false; }'
app="$stage/usr/local/lib/doredaviro"
check "program installed" '[ -x "$app/Zivev+Korvu" ]'
check "sample archiver beside it" '[ -x "$app/korvu-sample" ]'
check "settings file names the installed archiver" \
  'grep -qx "Path=/usr/local/lib/doredaviro/korvu-sample" "$app/Zivev+Korvu.ini"'
desktop="$stage/usr/local/share/applications/org.doredaviro.ZivevKorvu.desktop"
check "desktop entry valid" 'desktop-file-validate "$desktop"'
check "desktop entry starts the program with the files" \
  'grep -qx "Exec=\"/usr/local/lib/doredaviro/Zivev+Korvu\" %F" "$desktop"'
check "desktop entry makes it no default handler" '! grep -q "^MimeType=" "$desktop"'
menu="$stage/usr/local/share/kio/servicemenus/org.doredaviro.ZivevKorvu.servicemenu.desktop"
check "Dolphin's send-to entry, for files and folders" \
  'grep -qx "Exec=\"/usr/local/lib/doredaviro/Zivev+Korvu\" %F" "$menu" && grep -qx "MimeType=all/all;" "$menu" && grep -qx "Name=Zivev+Korvuに送る" "$menu"'
check "icon installed" '[ -s "$stage/usr/local/share/icons/hicolor/scalable/apps/org.doredaviro.ZivevKorvu.svg" ]'
check "48-pixel icon drawn" \
  'file "$stage/usr/local/share/icons/hicolor/48x48/apps/org.doredaviro.ZivevKorvu.png" | grep -q "PNG image data, 48 x 48"'
check "bin link reaches the program" '[ "$(readlink -f "$stage/usr/local/bin/Zivev+Korvu")" = "$app/Zivev+Korvu" ]'
metainfo="$stage/usr/local/share/metainfo/org.doredaviro.ZivevKorvu.metainfo.xml"
check "metainfo valid, no warning" \
  'out=$(appstreamcli validate --no-net "$metainfo" 2>&1) && ! grep "^[EW]:" <<<"$out"'
check "metainfo launches the desktop entry" \
  'grep -q "<launchable type=\"desktop-id\">org.doredaviro.ZivevKorvu.desktop</launchable>" "$metainfo"'
for page in Zivev+Korvu korvu-sample; do
  check "man page $page renders without warnings" \
    '[ -z "$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$stage/usr/local/share/man/man1/$page.1" 2>&1 >/dev/null)" ]'
  # Japanese lines have no spaces to break at: a line groff cannot fit would warn here.
  check "Japanese man page $page renders without warnings" \
    '[ -z "$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$stage/usr/local/share/man/ja/man1/$page.1" 2>&1 >/dev/null)" ]'
  check "man pages $page fit 80 columns" \
    '[ "$(for l in "" ja/; do LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$stage/usr/local/share/man/${l}man1/$page.1"; done 2>/dev/null | wc -L)" -le 80 ]'
  check "Japanese man page $page says the keys or the exit status in Japanese" \
    'LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$stage/usr/local/share/man/ja/man1/$page.1" 2>/dev/null | grep -q -e "キー操作" -e "終了ステータス"'
done

# A settings file the user already edited is kept on reinstall.
echo "[Korvu Path]" >"$app/Zivev+Korvu.ini"
echo "Path=/opt/mine/korvu" >>"$app/Zivev+Korvu.ini"
DESTDIR="$stage" cmake --install "$build" --prefix /usr/local >/dev/null 2>&1
check "user's settings kept on reinstall" 'grep -qx "Path=/opt/mine/korvu" "$app/Zivev+Korvu.ini"'

echo "$pass passed, $fail failed"
[ "$fail" -eq 0 ]
