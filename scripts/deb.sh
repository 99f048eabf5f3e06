#!/usr/bin/env bash
# Builds the Debian package in build-deb/ from a copy of the tree (dpkg-buildpackage writes its
# results beside the source folder, which must not be the checkout's parent), then checks it:
# lintian with no error or warning, the metainfo and the desktop entry it installs.
# usage: scripts/deb.sh
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
[ "$jobs" -gt 2 ] && jobs=2  # the machine is shared

version=$(head -n1 VERSION)
out=build-deb
src=$out/doredaviro-$version
rm -rf "$out"
mkdir -p "$src"

# The tree as git sees it, edits not yet committed included, less what it ignores; outside a
# git checkout (an unpacked tarball), all of it but the build folders.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
    tar -c --null -T - | tar -x -C "$src"
else
  tar -c --exclude='./build*' --exclude=./.git . | tar -x -C "$src"
fi

# The package's version is the tree's VERSION: the changelog entry is written here, dated by
# the last commit so that the same tree gives the same package.
epoch=$(git log -1 --format=%ct 2>/dev/null || date +%s)
maintainer=$(sed -n 's/^Maintainer: //p' debian/control)
cat >"$src/debian/changelog" <<EOF
doredaviro ($version) unstable; urgency=medium

  * Version $version, built from the project's own tree.

 -- $maintainer  $(LC_ALL=C date -R -u -d "@$epoch")
EOF

(cd "$src" && SOURCE_DATE_EPOCH=$epoch dpkg-buildpackage -us -uc -j"$jobs")
deb=$(ls "$out"/doredaviro_"$version"_*.deb)
echo "built: $deb"

status=0
echo "lintian:"
lintian --fail-on error,warning --info --pedantic "$out"/doredaviro_"$version"_*.changes || status=1

files=$(mktemp -d)
trap 'rm -rf "$files"' EXIT
dpkg-deb -x "$deb" "$files"
echo "appstreamcli:"
# Warnings do not make it fail; they count here.
report=$(appstreamcli validate --no-net "$files"/usr/share/metainfo/*.metainfo.xml 2>&1) || status=1
echo "$report"
! grep -q '^[EW]:' <<<"$report" || status=1
echo "desktop-file-validate:"
for desktop in "$files"/usr/share/applications/*.desktop; do
  # It prints only what it finds wrong, and fails only on errors.
  report=$(desktop-file-validate "$desktop" 2>&1) || status=1
  [ -z "$report" ] || { echo "$report"; status=1; }
done
[ "$status" -eq 0 ] && echo "checked: $deb" || echo "FAILED: $deb does not pass its checks"
exit "$status"
