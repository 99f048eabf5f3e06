#!/usr/bin/env bash
# korvu-sample.exe under Wine: a folder with Japanese names packed, read back by bsdtar on this
# machine with the same names and bytes, and extracted again; then zips with names Windows
# would misread, each of which must leave nothing behind, inside its folder or out of it.
# usage: sample_archiver_win.sh WINE KORVU_SAMPLE_EXE
set -euo pipefail
wine=$1 exe=$2
: "${WINEPREFIX:?runs in the prefix scripts/win.sh test makes}"
work=$(mktemp -d /tmp/doredaviro-sample-win.XXXXXX)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }
pass() { echo "PASS: $*"; }
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
korvu() {  # korvu PATH: sets $out, $err and $rc
  set +e
  out=$("$wine" "$exe" "$(winpath "$1")" 2>"$work/err" | tr -d '\r')
  rc=${PIPESTATUS[0]}
  set -e
  err=$(tr -d '\r' <"$work/err")
}
listing() { (cd "$1" && find . -mindepth 1 | LC_ALL=C sort); }

# --- the round trip ------------------------------------------------------------------------
src=$work/rt/写真フォルダ
mkdir -p "$src/サブ フォルダ" "$src/空"
printf 'こんにちは\n' >"$src/挨拶.txt"
head -c 100000 /dev/urandom >"$src/サブ フォルダ/データ.bin"
printf '' >"$src/サブ フォルダ/空のファイル"
korvu "$src"
if [ "$rc" -eq 0 ] && [ -f "$work/rt/写真フォルダ.zip" ] && [[ $out == *写真フォルダ.zip ]]; then
  pass "a Japanese folder packed: $out"
else
  fail "packing a Japanese folder: status $rc, out '$out', err '$err'"
fi
names=$(bsdtar -tf "$work/rt/写真フォルダ.zip" | sed 's,/$,,' | LC_ALL=C sort)
want=$(cd "$work/rt" && find 写真フォルダ | LC_ALL=C sort)
[ "$names" = "$want" ] && pass "bsdtar reads the same names" ||
  fail "bsdtar reads other names: $names"
mkdir "$work/bsdtar"
bsdtar -xf "$work/rt/写真フォルダ.zip" -C "$work/bsdtar"
diff -r "$src" "$work/bsdtar/写真フォルダ" >/dev/null && pass "bsdtar extracts the same bytes" ||
  fail "bsdtar extracts other bytes"
korvu "$work/rt/写真フォルダ.zip"
if [ "$rc" -eq 0 ] && [[ $out == *"写真フォルダ (2)" ]] && diff -r "$src" "$work/rt/写真フォルダ (2)/写真フォルダ" >/dev/null; then
  pass "extracted back beside it as the same files"
else
  fail "extracting it back: status $rc, out '$out', err '$err'"
fi

# --- hostile names -------------------------------------------------------------------------
# One zip per name, made with Python's zipfile, which writes any name as it is given.
hostile() {  # hostile ZIP NAME...: a zip holding a harmless file, then one entry per NAME
  python3 - "$@" <<'EOF'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    z.writestr("ok.txt", "fine\n")
    for name in sys.argv[2:]:
        z.writestr(zipfile.ZipInfo(name), "pwned\n")
EOF
}
# The prefix's own drive, where C:\ names would land.
drive_c=$WINEPREFIX/drive_c
for name in '../escape.txt' '..\escape.txt' 'a/../../escape.txt' '/escape.txt' '\escape.txt' \
  'C:\escape.txt' 'C:escape.txt' 'C:/escape.txt' '\\?\C:\escape.txt' '\\.\C:\escape.txt' \
  '\\server\share\escape.txt' 'CON' 'nul.txt' 'sub/AUX.log' 'com1' 'LPT9.txt' 'CONIN$' \
  'trailing.' 'trailing ' 'dir./x.txt' 'name.txt:stream' 'ok.txt::$DATA'; do
  case_dir=$work/hostile/case
  rm -rf "$work/hostile"
  mkdir -p "$case_dir"
  hostile "$case_dir/h.zip" "$name"
  before=$(listing "$work/hostile")
  korvu "$case_dir/h.zip"
  after=$(listing "$work/hostile")
  if [ "$rc" -eq 1 ] && [ "$before" = "$after" ] && [ ! -e "$drive_c/escape.txt" ] &&
    [ ! -e "$work/escape.txt" ] && [ -z "$out" ]; then
    pass "refused, nothing left: $name (${err#korvu-sample: })"
  else
    fail "$name: status $rc, out '$out', err '$err', left: $(comm -13 <(echo "$before") <(echo "$after"))"
  fi
done

# Twins by case: the second gets a name of its own, with a warning.
rm -rf "$work/hostile" && mkdir -p "$work/hostile"
hostile "$work/hostile/t.zip" 'Readme.TXT' 'dir/x' 'DIR/y'
korvu "$work/hostile/t.zip"
if [ "$rc" -eq 0 ] && [ "$(listing "$work/hostile/t")" = $'./DIR (2)\n./DIR (2)/y\n./Readme.TXT\n./dir\n./dir/x\n./ok.txt' ] &&
  [[ $err == *"differs only in case"* ]]; then
  pass "case twins extracted apart, with a warning"
else
  fail "case twins: status $rc, err '$err', got $(listing "$work/hostile/t" | tr '\n' ' ')"
fi
# A link already where the output would go is not written through: the output takes the next name.
rm -rf "$work/hostile" "$work/elsewhere" && mkdir -p "$work/hostile" "$work/elsewhere"
hostile "$work/hostile/j.zip"
ln -s "$work/elsewhere" "$work/hostile/j"
korvu "$work/hostile/j.zip"
if [ "$rc" -eq 0 ] && [[ $out == *'j (2)' ]] && [ -f "$work/hostile/j (2)/ok.txt" ] &&
  [ -L "$work/hostile/j" ] && [ -z "$(ls -A "$work/elsewhere")" ]; then
  pass "a link in the output's place is left alone: the output is 'j (2)'"
else
  fail "a link in the output's place: status $rc, out '$out', err '$err'"
fi
# A short 8.3 name of an earlier folder is another name for it.
rm -rf "$work/hostile" && mkdir -p "$work/hostile"
hostile "$work/hostile/s.zip" 'longfoldername/a.txt' 'LONGFO~1/b.txt'
korvu "$work/hostile/s.zip"
if [ "$rc" -eq 0 ] && [ ! -e "$work/hostile/s/longfoldername/b.txt" ]; then
  pass "an 8.3 alias makes a folder of its own (this file system has no short names)"
elif [ "$rc" -eq 1 ] && [ "$(listing "$work/hostile")" = ./s.zip ]; then
  pass "an 8.3 alias of an earlier folder is refused"
else
  fail "8.3 alias: status $rc, err '$err', got $(listing "$work/hostile" | tr '\n' ' ')"
fi

# Links are never made: skipped and named, status 3, and a file under a link's name stays inside.
rm -rf "$work/hostile" && mkdir -p "$work/hostile"
python3 - "$work/hostile/l.zip" <<'EOF'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    link = zipfile.ZipInfo("out")
    link.create_system = 3
    link.external_attr = (0o120777 << 16)
    z.writestr(link, "../..")
    z.writestr("out/escape.txt", "pwned\n")
EOF
korvu "$work/hostile/l.zip"
if [ "$rc" -eq 3 ] && [[ $err == *"links are not extracted"* ]] && [ -f "$work/hostile/l/out/escape.txt" ] &&
  [ ! -e "$work/escape.txt" ] && [ ! -L "$work/hostile/l/out" ]; then
  pass "a symbolic link is skipped, status 3, its name stays inside"
else
  fail "symbolic link: status $rc, err '$err', got $(listing "$work/hostile" | tr '\n' ' ')"
fi
exit "$failed"
