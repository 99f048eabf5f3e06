#!/usr/bin/env bash
# The Debian package as a user meets it, in a throwaway root of this machine's own Debian release
# (the one the package was built for), so that this machine stays untouched: installed with apt-get from the file (its dependencies pulled in), started from the
# /usr/bin link under Xvfb, a file dropped on it and the sample archiver seen to pack it, an
# edited settings file kept by a reinstall, and nothing of it left after apt-get purge.
# The base root is made once with mmdebstrap and kept as a tarball, with the downloaded packages,
# in the cache folder (DOREDAVIRO_CACHE, else ~/.cache/doredaviro).
# usage: deb_test.sh DEB DRAG_SOURCE SCREENSHOT_DIR   (as root)
[ "$(id -u)" -eq 0 ] || exec sudo "$0" "$@"
if [ -z "${DOREDAVIRO_DEB_TEST_NS:-}" ]; then
    # A mount namespace of its own: the root's /proc cannot outlive the test. Inside a chroot,
    # whose root is no mount, the mounts cannot be made private; the test unmounts them itself.
    propagation=private
    unshare --mount --propagation private true 2>/dev/null || propagation=unchanged
    exec unshare --mount --propagation "$propagation" env DOREDAVIRO_DEB_TEST_NS=1 "$0" "$@"
fi
DEB=$(realpath "$1")
DRAG_SOURCE=$(realpath "$2")
SCREENSHOT_DIR=$(realpath -m "$3")
cache=${DOREDAVIRO_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/doredaviro}
source "$(dirname "$0")/../e2e/common.sh"
# apt-get, and the first mmdebstrap above all, take longer than the window tests' two minutes.
kill "${background[0]}"
(
    trap 'kill "$nap" 2>/dev/null; exit 0' TERM
    sleep 1200 &
    nap=$!
    wait "$nap" && kill -TERM $$
) >/dev/null 2>&1 &
background[0]=$!

suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$suite" ] || {
    echo "FAIL: /etc/os-release names no Debian release"
    exit 1
}
base=$cache/$suite-base.tar
debs=$cache/$suite-debs
mkdir -p "$cache" "$debs"
if [ ! -s "$base" ]; then
    echo "making the base root $base (once)"
    # From the mirrors this machine's apt uses.
    source "$(dirname "$0")/../../scripts/apt-mirrors.sh"
    [ -n "$debian_mirror" ] || { echo "FAIL: no Debian mirror in this machine's apt sources"; exit 1; }
    mapfile -t mirrors < <(mirror_lines "$suite")
    mmdebstrap --quiet --variant=apt --mode=root --format=tar "$suite" "$base.part" \
        "${mirrors[@]}" || {
        echo "FAIL: mmdebstrap could not make the base root"
        exit 1
    }
    mv "$base.part" "$base"
fi

root=$(mktemp -d /tmp/doredaviro-deb-root.XXXXXX)
leave_root() {
    umount "$root/proc" 2>/dev/null
    # Only once nothing is mounted inside may it go.
    if findmnt -rn -o TARGET | grep -q "^$root/"; then
        echo "note: $root still has mounts; left in place"
    else
        rm -rf --one-file-system "$root"
    fi
}
trap 'cleanup; leave_root' EXIT
tar -C "$root" -xf "$base" && mount -t proc proc "$root/proc" || {
    fail "unpacking the base root $base"
    finish
}
cp /etc/resolv.conf "$root/etc/resolv.conf"
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"; }
# Paths of the root, less those that change on their own or belong to apt and dpkg.
snapshot() {
    (cd "$root" && find . -xdev \( -path ./proc -o -path ./tmp -o -path ./var/cache -o \
        -path ./var/lib/apt -o -path ./var/lib/dpkg -o -path ./var/log -o -path ./etc/resolv.conf \
        -o -path ./etc/ld.so.cache -o -path ./root \) -prune -o -print | sort)
}

cp "$debs"/*.deb "$root/var/cache/apt/archives/" 2>/dev/null
in_root apt-get update -qq >"$work/apt.log" 2>&1 || {
    fail "apt-get update in the root"
    cat "$work/apt.log"
    finish
}
before=$(snapshot)
cp "$DEB" "$root/tmp/"
deb_name=$(basename "$DEB")
if in_root apt-get install -y -q "/tmp/$deb_name" >>"$work/apt.log" 2>&1; then
    pass "apt-get install ./$deb_name"
else
    fail "apt-get install ./$deb_name"
    tail -n 30 "$work/apt.log"
    finish
fi
# Kept for the next run: downloads are most of the time.
cp -u "$root"/var/cache/apt/archives/*.deb "$debs/" 2>/dev/null
package_files=$(in_root dpkg-query -L doredaviro)

check "program link in /usr/bin" [ "$(readlink "$root/usr/bin/Zivev+Korvu")" = ../lib/doredaviro/Zivev+Korvu ]
check "settings file is a conffile" \
    grep -qx ' /etc/doredaviro/Zivev+Korvu.ini [0-9a-f]*' <(in_root dpkg-query -W -f='${Conffiles}\n' doredaviro)
check "settings file name the sample archiver" \
    grep -qx 'Path=/usr/lib/doredaviro/korvu-sample' "$root/etc/doredaviro/Zivev+Korvu.ini"
check "settings linked beside the program" \
    [ "$(readlink "$root/usr/lib/doredaviro/Zivev+Korvu.ini")" = /etc/doredaviro/Zivev+Korvu.ini ]
check "man pages" [ -s "$root/usr/share/man/man1/Zivev+Korvu.1.gz" -a -s "$root/usr/share/man/man1/korvu-sample.1.gz" ]
check "Japanese font pulled in" in_root sh -c 'fc-list :lang=ja family | grep -q .'

# The installed program, as a user, from the /usr/bin link, in a folder of dropped files.
start_x wm
user=4242
mkdir -p "$root/tmp/home" "$root/tmp/runtime" "$root/tmp/drop"
chmod 0700 "$root/tmp/runtime"
printf 'dropped\n' >"$root/tmp/drop/report.txt"
chown -R "$user:$user" "$root/tmp/home" "$root/tmp/runtime" "$root/tmp/drop"
chroot --userspec="$user:$user" "$root" env -i HOME=/tmp/home XDG_RUNTIME_DIR=/tmp/runtime \
    DISPLAY="$DISPLAY" LANG=C.UTF-8 PATH=/usr/bin:/bin QT_QPA_PLATFORM=xcb \
    env -C /tmp/drop Zivev+Korvu >"$work/program.log" 2>&1 &
pid=$!
background+=("$pid")
main=$(wait_window "$pid" NORMAL 30)
check "installed program shows its window (settings read through the link)" [ -n "$main" ]
[ -n "$main" ] || {
    cat "$work/program.log"
    [ -n "$(windows_of "$pid" DIALOG)" ] && screenshot deb_startup_message
    finish
}

"$DRAG_SOURCE" /tmp/drop/report.txt >"$work/drag.log" 2>&1 &
background+=($!)
source_window=$(wait_window $! NORMAL 30)
xdotool windowmove "$source_window" 40 40
sleep 0.5
read -r sx sy sw sh <<<"$(geometry "$source_window")"
read -r mx my _ <<<"$(geometry "$main")"
check "the list takes the drop" \
    drag_and_drop "$work/drag.log" $((sx + sw / 2)) $((sy + sh / 2)) $((mx + 7 + 265)) $((my + 49 + 70))
sleep 0.5
screenshot deb_installed_program
focus "$main"
xdotool key F1
message=$(wait_window "$pid" DIALOG 30)
check "F1 shows the wait message" [ -n "$message" ]
[ -n "$message" ] && answer "$message"
zip="$root/tmp/drop/report.txt.zip"
for ((i = 0; i < 100; i++)); do [ -s "$zip" ] && break; sleep 0.1; done
check "the sample archiver packed the dropped file" \
    sh -c "bsdtar -xOf '$zip' report.txt | grep -qx dropped"
focus "$main"
xdotool key F4
check "F4 ends it" wait_exit "$pid" 10

# An edited settings file outlives a reinstall.
printf '[Korvu Path]\nPath=/opt/mine/korvu\n' >"$root/etc/doredaviro/Zivev+Korvu.ini"
in_root apt-get install -y -q --reinstall "/tmp/$deb_name" >>"$work/apt.log" 2>&1
check "an edited settings file survives a reinstall" \
    grep -qx 'Path=/opt/mine/korvu' "$root/etc/doredaviro/Zivev+Korvu.ini"

if in_root apt-get purge -y -q doredaviro >>"$work/apt.log" 2>&1; then
    pass "apt-get purge"
else
    fail "apt-get purge"
    tail -n 30 "$work/apt.log"
fi
left=()
while IFS= read -r f; do
    [ -e "$root$f" ] || [ -L "$root$f" ] || continue
    # Folders every system has stay; the package's own must go.
    case "$f" in /etc/doredaviro | /usr/lib/doredaviro | /usr/share/doc/doredaviro) left+=("$f") ;; esac
    [ -d "$root$f" ] && [ ! -L "$root$f" ] || left+=("$f")
done <<<"$package_files"
check "purge leaves none of the package's files" [ ${#left[@]} -eq 0 ]
[ ${#left[@]} -eq 0 ] || printf '  left: %s\n' "${left[@]}"
stray=$(comm -13 <(echo "$before") <(snapshot) | grep -i -e doredaviro -e zivev -e korvu)
check "and nothing else of it" [ -z "$stray" ]
[ -z "$stray" ] || echo "$stray"
finish
