#!/usr/bin/env bash
# Runs a command of the project (by default the README's `make test`) in a fresh root of another
# Debian release, as a new user would on a minimal system of it (the required packages, and make
# and git): everything else the command installs itself. The tree is copied in as git sees it
# (uncommitted edits included, ignored files not), so this checkout and this machine stay
# untouched.
# The base root is made once with mmdebstrap and kept as a tarball, with the packages apt
# downloads, in the cache folder (DOREDAVIRO_CACHE, else ~/.cache/doredaviro).
# usage: scripts/fresh-root.sh [SUITE [COMMAND...]]   (as root: it uses chroot; SUITE: trixie)
[ "$(id -u)" -eq 0 ] || exec sudo "$0" "$@"
if [ -z "${DOREDAVIRO_FRESH_ROOT_NS:-}" ]; then
    # A mount namespace of its own, so that no mount outlives the run. Inside a chroot, whose
    # root is no mount, the mounts cannot be made private; they are taken down here instead.
    propagation=private
    unshare --mount --propagation private true 2>/dev/null || propagation=unchanged
    exec unshare --mount --propagation "$propagation" env DOREDAVIRO_FRESH_ROOT_NS=1 "$0" "$@"
fi
set -u
cd "$(dirname "$0")/.." || exit 2
suite=${1:-trixie}
[ $# -eq 0 ] || shift
[ $# -gt 0 ] || set -- make test
cache=${DOREDAVIRO_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/doredaviro}
base=$cache/$suite-fresh-base.tar
debs=$cache/$suite-fresh-debs
mkdir -p "$cache" "$debs" || exit 2

if [ ! -s "$base" ]; then
    echo "making the base root $base (once)"
    # From the mirrors this machine's apt uses.
    source scripts/apt-mirrors.sh
    [ -n "$debian_mirror" ] || { echo "FAIL: no Debian mirror in this machine's apt sources"; exit 1; }
    mapfile -t mirrors < <(mirror_lines "$suite")
    mmdebstrap --quiet --variant=minbase --mode=root --include=make,git,ca-certificates \
        --format=tar "$suite" "$base.part" \
        "${mirrors[@]}" || {
        rm -f "$base.part"
        echo "FAIL: mmdebstrap could not make a $suite root"
        exit 1
    }
    mv "$base.part" "$base"
fi

root=$(mktemp -d "${TMPDIR:-/tmp}/doredaviro-$suite-root.XXXXXX") || exit 2
# Other users must reach the system's programs: the tests run some as "nobody".
chmod 755 "$root"
mounts=(proc sys dev)
leave_root() {
    local m
    for m in "${mounts[@]}"; do umount -R "$root/$m" 2>/dev/null; done
    # Only once nothing is mounted inside may it go.
    if findmnt -rn -o TARGET | grep -q "^$root/"; then
        echo "note: $root still has mounts; left in place"
    else
        rm -rf --one-file-system "$root"
    fi
}
trap leave_root EXIT
fail() {
    echo "FAIL: $*"
    exit 1
}
tar -C "$root" -xf "$base" || fail "unpacking the base root $base"
mount -t proc proc "$root/proc" || fail "mounting /proc in the root"
# Slaves, so that taking them down again never reaches this system's own mounts.
for m in sys dev; do
    mount --rbind "/$m" "$root/$m" && mount --make-rslave "$root/$m" || fail "mounting /$m in the root"
done
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$debs"/*.deb "$root/var/cache/apt/archives/" 2>/dev/null
# The Windows archiver's libraries, built from this release's sources by an earlier run: building
# them takes half an hour, and the build decides for itself whether they are current.
winlibs=$cache/$suite-win-libs
if [ -d "$winlibs" ]; then
    mkdir -p "$root/root/.cache/doredaviro"
    cp -a "$winlibs" "$root/root/.cache/doredaviro/win-libs"
fi

project=/root/project
mkdir -p "$root$project"
git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
    tar -c --null -T - | tar -x -C "$root$project" || fail "copying the tree into the root"
# The commands list the sources through git: the copy gets an index of its own.
chroot "$root" git -C "$project" init -q && chroot "$root" git -C "$project" add -A ||
    fail "git in the root"

echo "running '$*' in a fresh $suite root ($root)"
start=$SECONDS
chroot "$root" env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 CI="${CI:-}" TERM="${TERM:-dumb}" bash -c 'cd "$0" && exec "$@"' "$project" "$@" \
    </dev/null
status=$?
# Kept for the next run: downloads are much of the time.
cp -u "$root"/var/cache/apt/archives/*.deb "$debs/" 2>/dev/null
if [ -d "$root/root/.cache/doredaviro/win-libs" ]; then
    rm -rf "$winlibs.part"
    cp -a "$root/root/.cache/doredaviro/win-libs" "$winlibs.part" &&
        rm -rf "$winlibs" && mv "$winlibs.part" "$winlibs"
fi
echo "'$*' in the $suite root exited $status after $((SECONDS - start)) s"
exit "$status"
