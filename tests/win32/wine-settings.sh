#!/usr/bin/env bash
# Settings a Wine prefix needs for the tests: Japanese fonts where the program asks for the
# Windows ones, and windows that Wine frames and focuses itself, as no window manager runs.
# usage: wine-settings.sh WINE   (WINEPREFIX names the prefix)
set -eu
wine=${1:-wine}
reg=$(mktemp --suffix=.reg)
trap 'rm -f "$reg"' EXIT
# regedit reads non-ASCII names only from a UTF-16 file.
printf '%s\r\n' \
  'Windows Registry Editor Version 5.00' '' \
  '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
  '"ＭＳ ゴシック"="IPAGothic"' '"ＭＳ Ｐゴシック"="IPAPGothic"' '"ＭＳ 明朝"="IPAMincho"' \
  '"MS Gothic"="IPAGothic"' '"MS PGothic"="IPAPGothic"' '"MS UI Gothic"="IPAPGothic"' \
  '"MS Mincho"="IPAMincho"' '' \
  '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]' \
  '"Managed"="N"' '"UseTakeFocus"="N"' '' |
  iconv -f UTF-8 -t UTF-16 > "$reg"
"$wine" regedit /S "$(winepath -w "$reg" 2>/dev/null || echo "$reg")"
