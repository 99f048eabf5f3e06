#!/usr/bin/env bash
# The two ways a Windows user gets the program, from a finished Windows build: the NSIS
# installer and the portable .zip, both written into the build folder.
# usage: scripts/win-packages.sh BUILD_DIR x64|x86
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1 arch=$2
case "$arch" in x64 | x86) ;; *) echo "usage: $0 BUILD_DIR x64|x86" >&2; exit 2 ;; esac
version=$(head -n1 VERSION)
program=$build/Zivev+Korvu.exe
sample=$build/sample/korvu-sample.exe
icon=$build/win32-resources/doredaviro.ico
for f in "$program" "$sample" "$icon"; do [ -s "$f" ] || { echo "$f is missing: build first" >&2; exit 1; }; done
# Dated by the last commit, so that the same tree gives the same files.
epoch=$(git log -1 --format=%ct 2>/dev/null || date +%s)

case "$arch" in x64) strip=${STRIP:-x86_64-w64-mingw32-strip} ;; x86) strip=${STRIP:-i686-w64-mingw32-strip} ;; esac

# Both ship the program without its debugging information.
stage=$build/portable
rm -rf "$stage"
mkdir -p "$stage/DoredAviro"
"$strip" -o "$stage/DoredAviro/Zivev+Korvu.exe" "$program"
"$strip" -o "$stage/DoredAviro/korvu-sample.exe" "$sample"

setup=$build/DoredAviro-$version-$arch-setup.exe
"${MAKENSIS:-makensis}" -V2 -INPUTCHARSET UTF8 -DARCH="$arch" -DVERSION="$version" \
  -DPROGRAM="$(realpath "$stage/DoredAviro/Zivev+Korvu.exe")" \
  -DSAMPLE="$(realpath "$stage/DoredAviro/korvu-sample.exe")" -DICON="$(realpath "$icon")" \
  -DOUTFILE="$(realpath -m "$setup")" dist/windows/installer.nsi

# The portable copy: one folder, the settings file naming the sample archiver beside the
# program by a relative path (taken from the settings file's folder, so the folder may go
# anywhere), and a read-me in Notepad's terms (UTF-8 with a BOM, CRLF).
printf '[Korvu Path]\r\nPath=korvu-sample.exe\r\n' >"$stage/DoredAviro/Zivev+Korvu.ini"
{
  printf '\xef\xbb\xbf'
  sed -e "s/@VERSION@/$version/" -e 's/$/\r/' dist/windows/readme.txt
} >"$stage/DoredAviro/readme.txt"
zip=$build/DoredAviro-$version-$arch-portable.zip
rm -f "$zip"
(cd "$stage" && cmake -E tar cf "$(realpath -m "../$(basename "$zip")")" --format=zip \
  --mtime="$(date -u -d "@$epoch" "+%Y-%m-%d %H:%M:%S UTC")" DoredAviro)
echo "packaged: $setup $zip"
