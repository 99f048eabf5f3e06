#!/usr/bin/env bash
# Drives the sample archiver from outside: packing, extracting, choosing free
# names, refusing unsafe archives and reporting errors without leaving output.
# usage: sample_archiver_test.sh PATH-TO-korvu-sample [PATH-TO-korvu-sample-probe]
set -u

if [ $# -lt 1 ] || [ $# -gt 2 ] || [ ! -x "$1" ]; then
    echo "usage: $0 PATH-TO-korvu-sample [PATH-TO-korvu-sample-probe]" >&2
    exit 2
fi
bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
probe=
[ $# -eq 2 ] && probe=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
make7z=$(cd "$(dirname "$0")" && pwd)/sample_archiver_7z.py
# The sanitizer's shadow memory leaves no room for a memory cap.
asan=
ldd "$bin" 2>/dev/null | grep -q libasan && asan=1
for tool in bsdtar bsdcpio cpio xorriso tar cmp diff md5sum python3 ar cc xz flock; do
    command -v "$tool" >/dev/null || { echo "$0: '$tool' is needed" >&2; exit 1; }
done

export LC_ALL=C.UTF-8
top=$(mktemp -d)
trap 'chmod -R u+rwx "$top" 2>/dev/null; rm -rf "$top"' EXIT
passed=0
failed=0

pass() { passed=$((passed + 1)); }
fail() {
    failed=$((failed + 1))
    echo "FAIL [$case_name]: $*" >&2
}
# Records the status of the command just before it: cond; ok "what it means"
ok() {
    local status=$?
    if [ "$status" -eq 0 ]; then pass; else fail "$1"; fi
}

# Each case gets its own empty folder as the current directory.
begin() {
    [ -n "${TIMING:-}" ] && echo "$SECONDS ${case_name:-}" >&2
    case_name=$1
    mkdir "$top/$1"
    cd "$top/$1" || exit 1
}

# Runs the archiver; leaves rc, out and err behind.
run() {
    "$bin" "$@" >"$top/out" 2>"$top/err"
    rc=$?
    out=$(cat "$top/out")
    err=$(cat "$top/err")
}

# Names, types, modes and contents of everything under the current folder.
snapshot() {
    find . -printf '%p %y %m %s\n' | LC_ALL=C sort
    find . -type f -exec md5sum {} + | LC_ALL=C sort
}

no_temporaries() { [ -z "$(find "$top" -name '.korvu-*')" ]; }

# Runs bash -c with the rest in a private mount namespace, where a small file
# system needs no root; status 99 where none can be made (a chroot whose root
# is no mount point). Root needs no user namespace, and none is allowed inside
# a chroot.
in_private_mounts() {
    local namespace=(-rm)
    [ "$(id -u)" = 0 ] && namespace=(-m)
    unshare "${namespace[@]}" true 2>/dev/null || return 99
    unshare "${namespace[@]}" bash -c "$@"
}

listing() { bsdtar -tf "$1" | LC_ALL=C sort; }

# Runs the script $1 (where "$1" is the archiver) in a new exFAT file system
# of size $2, and leaves its output in result; false, saying why, where that
# needs what this machine lacks.
on_exfat() {
    local img=$top/exfat.img loop= status
    truncate -s "$2" "$img"
    if [ "$(id -u)" = 0 ] && command -v mount.exfat-fuse >/dev/null && mkfs.exfat "$img" >/dev/null 2>&1; then
        loop=$(losetup --find --show "$img" 2>/dev/null)
    fi
    if [ -z "$loop" ]; then
        echo "SKIP [$case_name]: needs root, a loop device and exfat-fuse" >&2
        rm -f "$img"
        return 1
    fi
    result=$(in_private_mounts '
        mkdir usb && mount.exfat-fuse "$2" usb >/dev/null 2>&1 || exit 99
        cd usb && eval "$3"
        cd .. && umount usb' _ "$bin" "$loop" "$1" 2>&1)
    status=$?
    losetup -d "$loop"
    rm -f "$img"
    [ $status -ne 99 ] || { echo "SKIP [$case_name]: cannot mount exFAT here" >&2; return 1; }
}

# Runs the archiver on $1 and expects a failure whose message holds $2, with
# the folder left exactly as it was.
refused() {
    local before
    before=$(snapshot)
    run "$1"
    [[ $rc -eq 1 && -z $out && $err == *"$2"* ]]; ok "$1 is refused with '$2' (rc=$rc out=$out err=$err)"
    [ "$(snapshot)" = "$before" ] && no_temporaries; ok "$1 leaves nothing behind"
}

make_tree() {
    mkdir -p docs/sub "docs/with space"
    echo nested >docs/sub/inner.txt
    echo spaced >"docs/with space/file name.txt"
    printf 'odd bytes\n' >"docs/bad$(printf '\377')name"
    printf '#!/bin/sh\n' >docs/run.sh
    chmod 750 docs/run.sh
    touch -d '2001-02-03 04:05:06' docs/sub/inner.txt
}

# --- packing ---------------------------------------------------------------

begin pack_file
printf 'quarterly numbers\n' >report.txt
run report.txt
[[ $rc -eq 0 && $out == report.txt.zip ]]; ok "packs to report.txt.zip (rc=$rc out=$out err=$err)"
[ "$(listing report.txt.zip)" = report.txt ]; ok "zip holds just the file"
cmp -s report.txt <(bsdtar -xOf report.txt.zip report.txt); ok "zip content equals the file"

begin pack_folder_round_trip
make_tree
run docs/
[[ $rc -eq 0 && $out == docs.zip && -f docs.zip ]]; ok "packs to docs.zip (rc=$rc out=$out err=$err)"
expected='docs/
docs/bad\377name
docs/run.sh
docs/sub/
docs/sub/inner.txt
docs/with space/
docs/with space/file name.txt'
[ "$(listing docs.zip)" = "$expected" ]; ok "entry names start at the folder's own name"
run docs.zip
[[ $rc -eq 0 && $out == "docs (2)" ]]; ok "extracts our zip to a free name (out=$out err=$err)"
diff -r docs "docs (2)/docs"; ok "bytes and names survive the round trip"
[ "$(stat -c %a "docs (2)/docs/run.sh")" = 750 ]; ok "file mode kept"
[ "$(stat -c %Y "docs (2)/docs/sub/inner.txt")" = "$(stat -c %Y docs/sub/inner.txt)" ]; ok "mtime kept"
no_temporaries; ok "no temporaries left"

begin not_archives
printf 'just some text\n' >notes.txt
: >empty.dat
head -c 4096 /dev/zero >zeros.img
printf '#mtree\nstolen type=file contents=/etc/hostname\n' >manifest.txt
head -c 65536 /dev/urandom >noise.bin
for f in notes.txt empty.dat zeros.img manifest.txt noise.bin; do
    run "$f"
    [[ $rc -eq 0 && $out == "$f.zip" ]]; ok "$f is packed, not extracted (out=$out err=$err)"
    cmp -s "$f" <(bsdtar -xOf "$f.zip" "$f"); ok "$f.zip holds the original bytes"
done

begin awkward_names
for name in -rf -- "two"$'\n'"lines" "it's \"quoted\"" $'esc\e[31m'; do
    printf '%s' "$name" >"$name"
    run "$name"
    [[ $rc -eq 0 && -f "$name.zip" ]]; ok "packs '$name' (err=$err)"
    cmp -s -- "$name" <(bsdtar -xOf "$name.zip"); ok "'$name' is stored under its own name"
done
[ "$out" = 'esc\x1B[31m.zip' ]; ok "control characters are escaped on stdout (out=$out)"

# --- extracting ------------------------------------------------------------

begin extract_tar_gz
make_tree
tar czf a.tar.gz docs
run a.tar.gz
[[ $rc -eq 0 && $out == a && -d a ]]; ok "extracts to a/ (rc=$rc out=$out err=$err)"
diff -r docs a/docs; ok "contents match"

# --- never overwriting -----------------------------------------------------

begin free_names
mkdir docs && echo v1 >docs/f
echo occupied >docs.zip
echo occupied too >"docs (2).zip"
mkdir photos && echo mine >photos/keep
mkdir pics && echo shot >pics/p.jpg && bsdtar -cf photos.zip --format zip pics
before=$(snapshot)
run docs
[[ $rc -eq 0 && $out == "docs (3).zip" ]]; ok "packs to the first free name (out=$out err=$err)"
run photos.zip
[[ $rc -eq 0 && $out == "photos (2)" ]]; ok "extracts to the first free name (out=$out err=$err)"
after=$(snapshot | grep -v -e '\./docs (3)\.zip' -e '\./photos (2)')
[ "$before" = "$after" ]; ok "nothing that existed changed"
cmp -s pics/p.jpg "photos (2)/pics/p.jpg"; ok "the new folder holds the archive"

# --- unsafe archives -------------------------------------------------------

begin unsafe_archives
mkdir victim && echo original >victim/target
mkdir build && cd build || exit 1
echo ok >ok.txt && echo payload >payload
bsdtar -cPf ../dotdot.tar -s ',^payload$,../evil,' ok.txt payload
bsdtar -cPf ../absolute.tar -s ",^payload\$,$top/$case_name/victim/target," payload
mkdir a b b/link && ln -s ../victim a/link && echo pwned >b/link/planted
bsdtar -cf ../symlink.tar -C a link && bsdtar -rf ../symlink.tar -C b link/planted
cd .. && rm -rf build
[ "$(bsdtar -tf dotdot.tar | tail -1)" = ../evil ]; ok "test archive really holds ../evil"
before=$(snapshot)
for f in dotdot.tar absolute.tar symlink.tar; do
    run "$f"
    [ "$rc" -ne 0 ]; ok "$f is refused (rc=$rc out=$out)"
    [[ $(wc -l <"$top/err") -eq 1 && $err == korvu-sample:* ]]; ok "$f gives a one-line reason ($err)"
    [ "$(snapshot)" = "$before" ]; ok "$f leaves everything as it was"
done
[[ ! -e ../evil && ! -e victim/planted ]]; ok "nothing written outside the new folder"
no_temporaries; ok "no temporaries left"

begin damaged_archive
printf 'PK\003\004 and then nothing sensible follows' >broken.zip
run broken.zip
[[ $rc -ne 0 && -n $err ]]; ok "refused (rc=$rc)"
[ "$(ls -A)" = broken.zip ]; ok "nothing created"
# Damage the test archives in their data, where the library's own checks
# alone miss it or only warn.
head -c 300k /dev/urandom >noise && printf 'hello world, hello\n' >hello.txt
bsdtar -cf - --format zip --options zip:compression=store hello.txt >crc.zip
at=$(grep -obUa 'hello world' crc.zip | head -1 | cut -d: -f1)
printf J | dd of=crc.zip bs=1 seek="$at" conv=notrunc status=none
tar czf flipped.tar.gz noise hello.txt
printf '\125' | dd of=flipped.tar.gz bs=1 seek=150000 conv=notrunc status=none
tar cf whole.tar hello.txt noise && head -c $((1024 + 512 + 300 * 1024)) whole.tar >cut.tar
tar czf bad-start.tar.gz hello.txt
printf '\377\377\377' | dd of=bad-start.tar.gz bs=1 seek=10 conv=notrunc status=none
cp broken.zip looks-like-zip.dat
rm broken.zip noise
refused crc.zip "'hello.txt': ZIP bad CRC"
refused flipped.tar.gz "damaged gzip data"
refused cut.tar "ends early, after 'noise'"
refused bad-start.tar.gz "damaged"
refused looks-like-zip.dat "damaged or not a supported archive"
rm -- *
printf 'plain text\n' >notes.txt && gzip notes.txt
run notes.txt.gz
[[ $rc -eq 0 && $out == notes.txt.gz.zip ]]; ok "an intact .gz of a text is packed (out=$out err=$err)"
cmp -s notes.txt.gz <(bsdtar -xOf notes.txt.gz.zip); ok "with its bytes unchanged"
printf 'x\n' >x && { tar cf - x; head -c 4096 /dev/zero; } | gzip >padded.tar.gz && bsdtar -cJf xz.tar.xz x
run padded.tar.gz
[[ $rc -eq 0 && -f padded/x ]]; ok "zero padding after the gzip data is no damage (err=$err)"
run xz.tar.xz
cmp -s x xz/x; ok "an intact .tar.xz extracts (rc=$rc err=$err)"
# The first member holds a tar without its end blocks, as when appending.
{ tar cf - x | head -c 1024 | gzip; printf 'y\n' >y && tar cf - y | gzip; } >members.tar.gz
run members.tar.gz
[[ $rc -eq 0 && -f members/x && -f members/y ]]; ok "gzip members one after another are one archive (err=$err)"
head -c 400k /dev/urandom >noise && bsdtar -cJf cut.tar.xz noise && truncate -s 300k cut.tar.xz
{ gzip -c xz.tar.xz; echo trailing; } >junk.tar.gz
refused cut.tar.xz "'noise'"
refused junk.tar.gz "unexpected data after the gzip data"

# --- limits ----------------------------------------------------------------

begin limits
# Both archives are tiny; their one entry is not: 1 TiB of holes, 20 MiB of zeros.
truncate -s 1T sparse && tar -cSf sparse.tar sparse && rm sparse
truncate -s 20M zeros && bsdtar -cf zeros.zip --format zip zeros && rm zeros
[ "$(stat -c %s sparse.tar)" -lt 100000 ]; ok "sparse.tar is small"
refused sparse.tar "'sparse' would make the output more than 200 times the archive's size"
refused zeros.zip "set KORVU_MAX_RATIO to allow more"
tar cf small.tar sparse.tar
KORVU_KEEP_FREE=1000P refused small.tar "would leave less than 1000.0 PiB free"
KORVU_MAX_RATIO=lots refused zeros.zip "KORVU_MAX_RATIO must be a whole number"
KORVU_MAX_RATIO=2000 run zeros.zip
[[ $rc -eq 0 && $(stat -c %s zeros/zeros) -eq $((20 << 20)) ]]; ok "KORVU_MAX_RATIO raises the limit (err=$err)"
rm -r zeros
# Read as a stream, the zip gives no size up front: its entry is stopped as it grows.
gzip -c zeros.zip >streamed.zip.gz
refused streamed.zip.gz "'zeros' would make the output more than 200 times"
# Nothing to write, but 20 MiB of zeros to decompress after the end of the tar.
{ tar cf - small.tar; head -c 20M /dev/zero; } | gzip >tail.tar.gz
refused tail.tar.gz "it expands to more than 200 times its size"

begin disk_full
head -c 150k /dev/urandom >blob && tar cf blob.tar blob
head -c 700k /dev/zero >zeros && tar czf zeros.tar.gz zeros
mkdir many && touch many/{1..40} && tar cf many.tar many
result=$(in_private_mounts '
    mkdir full && mount -t tmpfs -o size=256k tmpfs full || exit 99
    cp blob.tar full/ && "$1" full/blob.tar >/dev/null 2>err
    echo "extract $? $(ls -A full | tr "\n" " ")$(grep -c "free on the file system" err)"
    rm full/blob.tar && cp blob full/ && "$1" full/blob >/dev/null 2>err
    echo "pack $? $(ls -A full | tr "\n" " ")$(grep -c "No space left" err)"
    umount full && mount -t tmpfs -o size=1m tmpfs full && cp zeros.tar.gz full/
    KORVU_KEEP_FREE=512K "$1" full/zeros.tar.gz >/dev/null 2>err
    echo "keep 512K $? $(ls -A full | tr "\n" " ")$(grep -c "less than 512.0 KiB free" err)"
    "$1" full/zeros.tar.gz >/dev/null 2>err
    echo "default $? $(ls -A full | tr "\n" " ")$(cmp zeros full/zeros/zeros && echo same)"
    umount full && mount -t tmpfs -o size=1m,nr_inodes=30 tmpfs full && cp many.tar full/
    "$1" full/many.tar >/dev/null 2>err
    echo "inodes $? $(ls -A full | tr "\n" " ")$(grep -c "inodes free" err)"
' _ "$bin" 2>/dev/null)
if [ $? -eq 99 ] || [ -z "$result" ]; then
    echo "SKIP [$case_name]: cannot mount a small file system here" >&2
else
    grep -qx 'extract 1 blob.tar 1' <<<"$result"; ok "extracting past the free space is refused ($result)"
    grep -qx 'pack 1 blob 1' <<<"$result"; ok "packing onto a full disk fails cleanly ($result)"
    grep -qx 'keep 512K 1 zeros.tar.gz 1' <<<"$result"; ok "KORVU_KEEP_FREE is honoured ($result)"
    grep -qx 'default 0 zeros zeros.tar.gz same' <<<"$result"; ok "what fits is extracted ($result)"
    grep -qx 'inodes 1 many.tar 1' <<<"$result"; ok "running out of inodes is refused ($result)"
fi

# --- what is not run, read or opened --------------------------------------

begin outside_programs
# Decompressors that are outside programs, planted where a PATH search finds them.
mkdir bin
for prog in lzop lrzip grzip; do
    printf '#!/bin/sh\ntouch "%s/ran-%s"\ncat\n' "$PWD" "$prog" >"bin/$prog"
    chmod +x "bin/$prog" && cp "bin/$prog" .
done
printf '\211LZO\000\r\n\032\n%0100d' 0 >a.tar.lzo
printf 'LRZI\000\006%0100d' 0 >a.tar.lrz
printf 'GRZipII\000\002\004:)%0100d' 0 >a.tar.grz
for f in a.tar.lzo a.tar.lrz a.tar.grz; do
    PATH=":$PWD/bin:$PATH" refused "$f" "only an outside program can read"
done
[ -z "$(ls ran-* 2>/dev/null)" ]; ok "no outside program ran"
rm -r -- *
printf 'inside\n' >inside.txt
bsdtar -cf inside.uu --uuencode inside.txt && bsdtar -cf web.warc --format warc inside.txt
for f in inside.uu web.warc; do
    run "$f"
    [[ $rc -eq 0 && $out == "$f.zip" ]]; ok "$f is packed like any file (out=$out err=$err)"
done

begin private_sources
old_umask=$(umask) && umask 022
printf 'secret\n' >private.txt && chmod 600 private.txt
printf 'shared\n' >group.txt && chmod 640 group.txt
mkdir private && echo s >private/s && chmod 700 private
mkdir mixed && echo a >mixed/open && echo b >mixed/closed && chmod 600 mixed/closed
echo c >public.txt
for item in private.txt group.txt private mixed public.txt; do run "$item"; done
modes=$(stat -c '%n %a' private.txt.zip group.txt.zip private.zip mixed.zip public.txt.zip)
expected='private.txt.zip 600
group.txt.zip 640
private.zip 600
mixed.zip 600
public.txt.zip 644'
[ "$modes" = "$expected" ]; ok "no zip is more readable than what it holds ($modes)"
umask "$old_umask"

begin replacing_entries
mkdir a b && ln -s ../victim a/same && echo replaced >b/same && echo ok >b/ok && mkdir b/dir
bsdtar -cf link-then-file.tar -C a same && bsdtar -rf link-then-file.tar -C b same
bsdtar -cf file-then-file.tar -C b same ok && bsdtar -rf file-then-file.tar -C b ok
bsdtar -cf file-then-folder.tar -C b ok && bsdtar -rf file-then-folder.tar -C b -s ',^dir,ok,' dir
bsdtar -cf folder-twice.tar -C b dir ok && bsdtar -rf folder-twice.tar -C b dir
rm -r a b
for f in link-then-file.tar file-then-file.tar file-then-folder.tar; do
    refused "$f" "would replace an earlier entry of the same name"
done
run folder-twice.tar
[[ $rc -eq 0 && -d folder-twice/dir && -f folder-twice/ok ]]; ok "a folder listed twice is fine (err=$err)"

begin deep_cleanup
# A tree deeper than the descriptors allowed (within the depth limit), then an entry that fails it.
deep=$(printf 'd/%.0s' $(seq 1000))
echo x >f && bsdtar -cf deep.tar -s ",^f\$,${deep}f," f && bsdtar -rf deep.tar -s ",^f\$,${deep}f," f
rm f
(ulimit -n 16 && exec "$bin" deep.tar) >"$top/out" 2>"$top/err"
rc=$? err=$(cat "$top/err")
[[ $rc -eq 1 && $err == *"would replace an earlier entry"* ]]; ok "refused with few descriptors (rc=$rc)"
[ "$(ls -A)" = deep.tar ] && no_temporaries; ok "nothing left of the deep tree"
# Folders an archive leaves unreadable and unwritable go as well.
mkdir -p locked/in && echo x >locked/in/f && chmod 000 locked/in && chmod 500 locked
bsdtar -cf locked.tar locked && bsdtar -rf locked.tar locked/in/f 2>/dev/null
chmod -R u+rwx locked && rm -r locked
refused locked.tar "would replace an earlier entry"

begin argument_as_given
printf 'target\n' >file.txt && ln -s file.txt link && tar cf real.tar file.txt && ln -s real.tar tarlink
run link
[[ $rc -eq 0 && $out == link.zip ]]; ok "a symbolic link is packed (out=$out err=$err)"
entry=$(bsdtar -tvf link.zip)
[[ $entry == l*'link -> file.txt' ]]; ok "as the link itself ($entry)"
run tarlink
[[ $rc -eq 0 && $out == tarlink.zip && ! -e real ]]; ok "a link to an archive is not followed (out=$out)"
refused file.txt/ "Not a directory"
mkdir dots && cd dots || exit 1
for name in .zip ..zip .tar.gz; do
    echo x >x && bsdtar -cf "$name" -a x && rm x
done
names=$(for name in .zip ..zip .tar.gz; do run "$name"; printf '%s\n' "$out"; done)
cd .. && rm -r dots
[ "$names" = $'zip\nzip (2)\ntar' ]; ok "all-extension names give sensible folders ($names)"
before=$(snapshot)
"$bin" file.txt >/dev/full 2>"$top/err"
rc=$? err=$(cat "$top/err")
[[ $rc -eq 1 && "$(snapshot)" == "$before" ]]; ok "an unwritable result name fails and leaves nothing (rc=$rc $err)"
"$bin" real.tar >/dev/full 2>"$top/err"
rc=$?
[[ $rc -eq 1 && "$(snapshot)" == "$before" ]]; ok "so does an extraction (rc=$rc)"
mkdir folder && echo in >folder/in && ln -s folder folderlink
run folderlink/
[[ $rc -eq 0 && $(listing folderlink.zip) == $'folderlink/\nfolderlink/in' ]]; ok "'link/' packs the folder (out=$out)"
no_temporaries; ok "no temporaries left"
run --help
[[ $rc -eq 0 && $out == *"200 times"* && $out == *KORVU_MAX_RATIO* && $out == *KORVU_KEEP_FREE* ]]; ok "--help states the limits"

# --- errors ----------------------------------------------------------------

begin errors
run nope
[[ $rc -ne 0 && -z $out ]]; ok "missing path fails (rc=$rc)"
[ "$err" = "korvu-sample: cannot read 'nope': No such file or directory" ]; ok "clear message ($err)"
mkfifo pipe
run pipe
[[ $rc -ne 0 && -n $err ]]; ok "a FIFO is refused without hanging (rc=$rc)"
run
[[ $rc -eq 2 && $err == usage:* ]]; ok "no argument is a usage error (rc=$rc)"
run a b
[[ $rc -eq 2 && $err == usage:* ]]; ok "two arguments are a usage error (rc=$rc)"
run -- pipe
[[ $rc -eq 2 && $err == usage:* ]]; ok "'--' is not an option but a second argument (rc=$rc)"
[ "$(ls -A)" = pipe ]; ok "failures create nothing"

# --- second round: hostile and ordinary inputs ----------------------------

begin pack_long_names
# A zip gives a name 16 bits of length; past that the writer overflowed.
cat >mktree.py <<'PY'
import os, sys
# A folder holding one file whose name in the zip is exactly TOTAL bytes.
top, total = sys.argv[1], int(sys.argv[2])
os.mkdir(top)
fd = os.open(top, os.O_RDONLY | os.O_DIRECTORY)
left = total - len(top) - 1
while left > 256:
    os.mkdir("d" * 200, dir_fd=fd)
    sub = os.open("d" * 200, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
    os.close(fd)
    fd, left = sub, left - 201
f = os.open("f" * left, os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd)
os.write(f, b"deep\n")
PY
python3 mktree.py fits 65535 && python3 mktree.py over 65536 && python3 mktree.py far 70000 && rm mktree.py
run fits
[[ $rc -eq 0 && $(bsdtar -tf fits.zip | tail -1 | tr -d '\n' | wc -c) -eq 65535 ]]; ok "a 65535-byte name is packed and readable (rc=$rc)"
rm -f fits.zip
# The trees are too deep for snapshot's tools: only new names are looked for.
for tree in over far; do
    run "$tree"
    [[ $rc -eq 1 && -z $out && $err == *"bytes long, and a zip holds at most 65535"* ]]; ok "$tree is refused by name (rc=$rc ${err: -80})"
    [ "$(ls -A | tr '\n' ' ')" = "far fits over " ] && no_temporaries; ok "$tree leaves nothing behind"
done
[[ $err == "korvu-sample: cannot pack 'far/ddd"* ]]; ok "the message starts with the name"

begin parallel_free_space
# Runs side by side, as the program starts them: each must see the room the
# others still need, and what does not fit is refused, not cut short.
mkdir src && for i in $(seq 18); do head -c 1M /dev/zero >"src/f$i"; done
tar czf one.tar.gz src && rm -r src
result=$(KORVU_MAX_RATIO=0 in_private_mounts '
    mkdir full && mount -t tmpfs -o size=64m tmpfs full || exit 99
    pids=()
    for i in 1 2 3 4; do
        cp one.tar.gz full/a$i.tar.gz
        # Stopped until all four are there, then let go at once.
        bash -c "kill -STOP \$\$; exec \"\$0\" \"\$1\"" "$1" full/a$i.tar.gz >/dev/null 2>err$i &
        pids+=($!)
    done
    sleep 0.5
    kill -CONT "${pids[@]}"
    for p in "${pids[@]}"; do wait "$p"; printf "rc%s " $?; done
    echo
    cat err1 err2 err3 err4
    for d in full/a?; do [ -d "$d" ] && echo "made $(find "$d" -type f -size 1024k | wc -l)"; done
    find full -name ".korvu-*" | sed "s/^/left /"
    echo "free $(df -k --output=avail full | tail -1)"
' _ "$bin" 2>&1)
if [ $? -eq 99 ]; then
    echo "SKIP [$case_name]: cannot mount a small file system here" >&2
else
    ! grep -q "No space left" <<<"$result"; ok "no run ran out of space ($result)"
    # 64 MiB less the 5% kept free holds three of the four, and only one gives up.
    [ "$(grep -c '^made 18$' <<<"$result")" -eq 3 ]; ok "as many as fit are extracted whole ($result)"
    [ "$(grep -c '^made' <<<"$result")" = "$(grep -o 'rc0' <<<"$result" | wc -l)" ]; ok "each success made one whole folder ($result)"
    [ "$(grep -c 'free on the file system' <<<"$result")" = "$(grep -o 'rc1' <<<"$result" | wc -l)" ]; ok "each failure is a refusal for room ($result)"
    ! grep -q '^left' <<<"$result"; ok "refusals leave nothing ($result)"
    [ "$(grep '^free' <<<"$result" | tr -dc 0-9)" -ge 3276 ]; ok "5% of the file system stays free ($result)"
fi

begin memory_limit
# A few hundred bytes whose list of contents declares millions of entries.
python3 "$make7z" many-packed millions.7z 8000000 && python3 "$make7z" many million.7z 1000000
if [ -n "$asan" ]; then
    echo "SKIP [$case_name]: no memory cap under AddressSanitizer" >&2
else
    refused millions.7z "it needs more than 512.0 MiB of memory; set KORVU_MAX_MEMORY"
    KORVU_MAX_MEMORY=64M refused million.7z "it needs more than 64.0 MiB of memory"
fi
KORVU_MAX_MEMORY=lots refused million.7z "KORVU_MAX_MEMORY must be a whole number"

begin skipped_data
# A FIFO entry holding 384 MiB of zeros, before a file in the same solid
# stream: skipping it means decoding it all.
python3 "$make7z" fifo fifo.7z 384
refused fifo.7z "'pipe', which is skipped, expands the archive to more than 200 times its size"
KORVU_MAX_RATIO=0 "$bin" fifo.7z >/dev/null 2>"$top/err" &
pid=$!
sleep 0.3
kill -TERM "$pid" 2>/dev/null
sent=$(date +%s%N)
wait "$pid"
rc=$? waited=$((($(date +%s%N) - sent) / 1000000))
if [ "$rc" -eq 3 ]; then
    echo "SKIP [$case_name]: finished before it could be interrupted" >&2
    rm -r fifo
else
    [[ $rc -eq 143 && $waited -lt 1000 ]]; ok "a stop signal ends the skipping at once (rc=$rc after $waited ms)"
fi
[ "$(ls -A)" = fifo.7z ]; ok "and leaves nothing"

begin exfat
# exFAT has neither a no-replace rename nor hard links.
if on_exfat '
    echo hello >note.txt && mkdir docs && echo in >docs/in
    for i in 1 2; do "$1" note.txt; "$1" docs; done
    "$1" docs.zip
    echo "list $(bsdtar -tf "note.txt (2).zip") $(bsdtar -tf docs.zip | tr "\n" " ")"
    echo "content $(cat "docs (2)/docs/in")"
    ls -A | sed "s/^/has /"
' 32M; then
    expected='note.txt.zip
docs.zip
note.txt (2).zip
docs (2).zip
docs (2)
list note.txt docs/ docs/in 
content in'
    [ "$(grep -v '^has ' <<<"$result")" = "$expected" ]; ok "packs and extracts on exFAT ($result)"
    ! grep -q '^has \.korvu' <<<"$result"; ok "no temporaries left on exFAT"
fi

begin text_like_archives
printf '070701,2024-01-05,12.50\n070702,2024-01-06,13.00\n' >sales.csv
printf '0707070123 call back after lunch\n' >phone.txt
printf 'xar! said the pirate\n' >word.txt
printf '!<arch>\nno members here\n' >notes.md
for f in sales.csv phone.txt word.txt notes.md; do
    run "$f"
    [[ $rc -eq 0 && $out == "$f.zip" ]]; ok "$f is packed (rc=$rc out=$out err=$err)"
    cmp -s "$f" <(bsdtar -xOf "$f.zip"); ok "$f.zip holds its bytes"
done
mkdir in && echo inside >in/file
(cd in && echo file | bsdtar -cf ../real.cpio --format newc -T -)
cp real.cpio real.bin && gzip -k real.cpio
for f in real.cpio real.cpio.gz; do
    run "$f"
    [[ $rc -eq 0 ]] && cmp -s in/file "$out/file"; ok "$f, named as such, is extracted (rc=$rc out=$out err=$err)"
done
run real.bin
[[ $rc -eq 0 && $out == real.bin.zip ]]; ok "a cpio not named as one is a file (out=$out)"

begin typeless_members
echo alpha >a.txt && echo beta >b.txt
ar rc lib.a a.txt b.txt 2>/dev/null
# newc members whose mode has no type bits, as some writers leave them
python3 - <<'PY'
def member(name, data, mode):
    n = name.encode() + b"\0"
    fields = (1, mode, 0, 0, 1, 0, len(data), 0, 0, 0, 0, len(n), 0)
    out = b"070701" + b"".join(b"%08X" % v for v in fields) + n
    out += b"\0" * (-len(out) % 4) + data
    return out + b"\0" * (-len(data) % 4)
body = member("plain.txt", b"no type\n", 0o644) + member("TRAILER!!!", b"", 0)
open("typeless.cpio", "wb").write(body + b"\0" * (-len(body) % 512))
PY
for f in lib.a typeless.cpio; do
    mkdir "ref-$f" && bsdtar -xf "$f" -C "ref-$f"
    run "$f"
    [[ $rc -eq 0 && -z $err ]] && diff -r "ref-$f" "$out"; ok "$f extracts as bsdtar does (rc=$rc err=$err)"
done
[ "$(cat lib/a.txt lib/b.txt typeless/plain.txt)" = $'alpha\nbeta\nno type' ]; ok "with the members' data"
# A static library's symbol table is no member of it.
echo 'int f(void) { return 1; }' >f.c && cc -c f.c && ar rcs libf.a f.o
run libf.a
[[ $rc -eq 0 && $(ls -A libf) == f.o ]] && cmp -s f.o libf/f.o; ok "a static library gives its object files (rc=$rc err=$err)"

begin deep_and_many
# One file 1100 folders down: refused before any folder is made.
deep=$(printf 'd/%.0s' $(seq 1100))
echo x >f && bsdtar -cf deep.tar -s ",^f\$,${deep}f," f && rm f
refused deep.tar "is nested more than 1024 levels deep"
mkdir many && touch many/{1..60} && tar cf many.tar many && rm -r many
KORVU_MAX_ENTRIES=50 refused many.tar "is past the limit of 50 entries; set KORVU_MAX_ENTRIES"
KORVU_MAX_ENTRIES=0 run many.tar
[[ $rc -eq 0 && $(ls many/many | wc -l) -eq 60 ]]; ok "KORVU_MAX_ENTRIES=0 lifts the limit (rc=$rc err=$err)"

begin pack_deep
# Deeper than the descriptors allowed, yet within the depth limit: the file's
# name in the zip has 1,024 parts, as many as extraction takes.
inner=$(printf 'd/%.0s' $(seq 1022))
mkdir -p "deep/$inner" && echo bottom >"deep/${inner}f"
(ulimit -n 20 && exec "$bin" deep) >"$top/out" 2>"$top/err"
rc=$? err=$(cat "$top/err")
[[ $rc -eq 0 ]] && bsdtar -xOf deep.zip "deep/${inner}f" | grep -qx bottom; ok "a 1022-level folder packs with 20 descriptors (rc=$rc ${err:0:200})"
run deep.zip
[[ $rc -eq 0 ]] && cmp -s "deep/${inner}f" "$out/deep/${inner}f"; ok "and its zip extracts (rc=$rc ${err: -80})"
rm -rf deep.zip "$out" && mkdir "deep/${inner}e" && mv "deep/${inner}f" "deep/${inner}e/"
run deep
[[ $rc -eq 1 && $err == *"is nested more than 1024 levels deep" ]]; ok "a file one level deeper is refused (rc=$rc ${err: -60})"
rm -rf deep
mkdir -p "deeper/$(printf 'd/%.0s' $(seq 1030))"
before=$(snapshot)
run deeper
[[ $rc -eq 1 && $err == *"is nested more than 1024 levels deep" ]]; ok "deeper is refused (rc=$rc ${err: -60})"
[ "$(snapshot)" = "$before" ] && no_temporaries; ok "leaving nothing"

begin hard_link_data
# A pax hard link that carries data of its own, which a disk writer would
# pour into the file it links to.
python3 - <<'PY'
import io, tarfile
with tarfile.open("link.tar", "w", format=tarfile.PAX_FORMAT) as t:
    for name, data, pax in (("a", b"original\n", {}), ("b", b"rewritten\n", {"comment": "x"})):
        info = tarfile.TarInfo(name)
        info.size, info.pax_headers = len(data), pax
        t.addfile(info, io.BytesIO(data))
buf = bytearray(open("link.tar", "rb").read())
for at in range(0, len(buf), 512):
    if buf[at:at + 2] == b"b\0" and buf[at + 257:at + 262] == b"ustar":
        buf[at + 156:at + 158] = b"1a"  # type: hard link, to "a"
        buf[at + 148:at + 156] = b" " * 8
        buf[at + 148:at + 156] = b"%06o\0 " % sum(buf[at:at + 512])
open("link.tar", "wb").write(bytes(buf))
PY
[ "$(bsdtar -tvf link.tar | grep -c 'b link to a')" = 1 ]; ok "the test archive holds a hard link"
run link.tar
a=$(cat link/a 2>&1)
[[ $rc -eq 0 && $a == original && link/a -ef link/b ]]; ok "the link shares the earlier file, whose data stays (rc=$rc a=$a)"

begin true_causes
truncate -s 20M big && echo hi >first && tar cf whole.tar first big && head -c 100k whole.tar >cut.tar
echo one >one && echo two >two && echo three >three && tar cf three.tar one two three
rm big first whole.tar one two three
# The second header's checksum no longer matches.
python3 -c '
buf = bytearray(open("three.tar", "rb").read())
buf[1024 + 148] ^= 1
open("damaged.tar", "wb").write(bytes(buf))'
gzip -c damaged.tar >damaged.tar.gz && rm three.tar
python3 - <<'PY'
import zipfile
with zipfile.ZipFile("cp932.zip", "w") as z:
    z.writestr("XXXX.txt", "shift-jis name\n")
b = bytearray(open("cp932.zip", "rb").read())
at = 0
while (at := b.find(b"XXXX", at)) >= 0:
    b[at:at + 4] = "日本".encode("cp932")
# marked as UTF-8 in both headers
for sig, off in ((b"PK\x03\x04", 6), (b"PK\x01\x02", 8)):
    j = b.find(sig) + off
    b[j:j + 2] = (int.from_bytes(b[j:j + 2], "little") | 0x800).to_bytes(2, "little")
open("cp932.zip", "wb").write(bytes(b))
PY
python3 "$make7z" encrypted secret.7z
refused cut.tar "'big': the archive ends early"
refused damaged.tar "Damaged tar archive, after 'one'"
refused damaged.tar.gz "Damaged tar archive, after 'one'"
refused cp932.zip "entry 1: its name is not valid in the character set the archive gives for it"
refused secret.7z "its list of contents is encrypted (the archive has a password)"

begin interrupted
truncate -s 2G big.img
"$bin" big.img >/dev/null 2>&1 &
pid=$!
sleep 0.3
kill -TERM "$pid" 2>/dev/null
wait "$pid"
rc=$?
if [ "$rc" -eq 0 ]; then
    echo "SKIP [$case_name]: finished before it could be interrupted" >&2
else
    [ "$rc" -eq 143 ]; ok "ends by the signal (rc=$rc)"
    [ "$(ls -A)" = big.img ]; ok "leaves nothing behind"
fi

# --- third round -------------------------------------------------------------

begin hard_links_every_format
# Three names for one file, in every format that can say so; newc keeps the
# data with the last name only.
mkdir src && echo shared >src/a && ln src/a src/b && ln src/a src/c && echo own >src/d
for f in newc odc; do (cd src && printf '%s\n' a b c d | cpio -o -H "$f" --quiet >"../gnu-$f.cpio"); done
(cd src && printf '%s\n' a b c d | bsdcpio -o -H newc --quiet >../bsd-newc.cpio)
for f in pax ustar xar 7zip zip iso9660; do bsdtar -cf "bsd.$f" --format "$f" -C src a b c d; done
xorriso -as mkisofs -R -quiet -o xorriso.iso src 2>/dev/null
mv bsd.7zip bsd.7z && mv bsd.iso9660 bsd.iso
formats=(gnu-newc.cpio gnu-odc.cpio bsd-newc.cpio bsd.pax bsd.ustar bsd.xar bsd.7z bsd.zip bsd.iso xorriso.iso)
# newc where two links carry data: the later one must not rewrite the file.
python3 - <<'EOF'
def member(name, data, nlink):
    n = name.encode() + b"\0"
    fields = (7, 0o100644, 0, 0, nlink, 0, len(data), 0, 0, 0, 0, len(n), 0)
    out = b"070701" + b"".join(b"%08X" % v for v in fields) + n
    out += b"\0" * (-len(out) % 4) + data
    return out + b"\0" * (-len(data) % 4)
body = member("x", b"", 3) + member("y", b"first\n", 3) + member("z", b"second\n", 3)
body += member("TRAILER!!!", b"", 1)
open("twice.cpio", "wb").write(body + b"\0" * (-len(body) % 512))
EOF
for f in "${formats[@]}"; do
    run "$f"
    got=$(cd "$out" 2>/dev/null && cat a b c d | tr '\n' ' ')
    [[ $rc -eq 0 && $got == "shared shared shared own " ]]; ok "$f gives every name its data (rc=$rc got=$got err=$err)"
done
run twice.cpio
[[ $rc -eq 0 && $(cat twice/x twice/y twice/z | tr '\n' ' ') == "first first first " ]]; ok "a later link never rewrites the file"

begin tmpfs_turns_and_folders
# Runs into one folder take turns for the check and the claim: one waits for
# another holding the turn. A deep entry needs an inode for each folder.
mkdir src && head -c 1M /dev/zero >src/f1 && tar cf one.tar src && rm -r src
deep=$(printf 'd/%.0s' $(seq 120))
echo x >f && bsdtar -cf deep.tar -s ",^f\$,${deep}f," f && rm f
result=$(in_private_mounts '
    mkdir full && mount -t tmpfs -o size=8m,nr_inodes=100 tmpfs full || exit 99
    cp one.tar deep.tar full/
    flock full sleep 1 & sleep 0.2
    "$1" full/one.tar >/dev/null 2>&1 & pid=$!
    sleep 0.5
    echo "waiting $(find full -name f1 | wc -l)"
    wait $pid; echo "done $? $(find full/one -name f1 | wc -l)"
    "$1" full/deep.tar >/dev/null 2>err; echo "deep $? $(ls -A full | tr "\n" " ")$(cat err)"
' _ "$bin" 2>&1)
if [ $? -eq 99 ]; then
    echo "SKIP [$case_name]: cannot mount a small file system here" >&2
else
    grep -qx 'waiting 0' <<<"$result"; ok "nothing is written while another run holds the turn ($result)"
    grep -qx 'done 0 1' <<<"$result"; ok "then the run goes on ($result)"
    grep -q "^deep 1 deep.tar one one.tar .*'d/d/.*' would leave less than 5% of the file system's inodes free" <<<"$result"; ok "a deep entry's folders count as inodes ($result)"
fi

begin exfat_room_twins_leftovers
# exFAT has no unnamed files, no holes and no case: room is held in a named
# file, folders take clusters, twins in case get names of their own, and a
# failed run leaves nothing.
printf 'upper\n' >README && printf 'lower\n' >readme && : >E && : >e && mkdir Dir dir
echo x >Dir/x && echo y >dir/y
tar cf twins.tar README readme E e Dir dir && rm -r README readme E e Dir dir
deep=$(printf 'd/%.0s' $(seq 1000))
echo x >f && bsdtar -cf deep.tar -s ",^f\$,${deep}f," f && rm f
head -c 10M /dev/urandom >big && tar cf big.tar big && rm big
mkdir src && head -c 10M /dev/zero >src/zeros && tar czf ten.tar.gz src && rm -r src
if on_exfat '
    cp ../twins.tar ../deep.tar ../big.tar .
    "$1" twins.tar >/dev/null 2>../err; echo "twins $? $(grep -c "differs only in case" ../err)"
    (cd twins && for f in README "readme (2)" E "e (2)" Dir/x "dir (2)/y"; do printf "[%s]" "$(cat "$f")"; done; echo)
    free=$(df -B1 --output=avail . | tail -1)
    KORVU_KEEP_FREE=$((free - (2 << 20))) "$1" deep.tar >/dev/null 2>../err
    echo "deep $? $(grep -c "free on the file system" ../err) $(( $(df -B1 --output=avail . | tail -1) >= free - (2 << 20) ))"
    (trap "" XFSZ; ulimit -f 2048; exec "$1" big.tar) >/dev/null 2>../err; echo "big $?"
    rm -r twins *.tar && ls -A | sed "s/^/left /"
    for i in 1 2 3 4; do cp ../ten.tar.gz e$i.tar.gz; done
    lowest=$(df -k --output=avail . | tail -1)
    (while [ ! -e ../stop ]; do now=$(df -k --output=avail . | tail -1); [ "$now" -lt "$lowest" ] && lowest=$now && echo "$lowest" >../lowest; done) &
    watcher=$!
    for i in 1 2 3 4; do KORVU_MAX_RATIO=0 "$1" e$i.tar.gz >/dev/null 2>../err$i & pids+=($!); done
    wait "${pids[@]}"; touch ../stop; wait $watcher
    echo "lowest $(cat ../lowest)"
    cat ../err? | grep -v "free on the file system" | sed "s/^/error /"
    echo "made $(ls -d e? | wc -l) free $(df -k --output=avail . | tail -1)"
    ls -A | grep korvu | sed "s/^/left /"
' 40M; then
    grep -qx 'twins 0 3' <<<"$result"; ok "twins in case are extracted, each with a warning ($result)"
    grep -qxF '[upper][lower][][][x][y]' <<<"$result"; ok "under names of their own ($result)"
    grep -qx 'deep 1 1 1' <<<"$result"; ok "a deep entry's folders count against the room kept free ($result)"
    grep -qx 'big 1' <<<"$result" && ! grep -q '^left' <<<"$result"; ok "a run failing mid-entry leaves nothing ($result)"
    ! grep -q '^error' <<<"$result"; ok "runs side by side only ever give up for room ($result)"
    [[ $(grep -o 'made [0-9]' <<<"$result") == "made 3" && $(grep -o 'lowest *[0-9]*' <<<"$result" | tr -dc 0-9) -ge 2048 ]]; ok "as many as fit are extracted, and 5% stays free throughout ($result)"
fi

begin true_causes_memory_and_empty
# An xz stream asking for a 1.5 GiB dictionary is valid, only too big for the memory cap.
echo x >x && tar cf - x | xz -c >dict.tar.xz && rm x
python3 - <<'EOF'
import struct, zlib
b = bytearray(open("dict.tar.xz", "rb").read())
size = (b[12] + 1) * 4
header = b[12:12 + size]
header[header.index(b"\x21\x01") + 2] = 37  # LZMA2 dictionary: 1.5 GiB
header[-4:] = struct.pack("<I", zlib.crc32(bytes(header[:-4])))
b[12:12 + size] = header
open("dict.tar.xz", "wb").write(bytes(b))
EOF
if [ -z "$asan" ]; then
    refused dict.tar.xz "it needs more than 512.0 MiB of memory; set KORVU_MAX_MEMORY"
fi
# Empty archives are archives, not files to pack.
python3 -c 'import zipfile; zipfile.ZipFile("empty.zip", "w").close()'
tar czf empty.tar.gz -T /dev/null
for f in empty.zip empty.tar.gz; do
    run "$f"
    [[ $rc -eq 0 && $out == empty* && -d $out && -z $(ls -A "$out") ]]; ok "$f extracts to an empty folder (rc=$rc out=$out)"
done

begin pack_names_and_skips
# Packing refuses a name whose zip cannot be named before any work, and its
# status tells what it skipped.
long=$(printf 'n%.0s' $(seq 253))
echo x >"$long"
run "$long"
[[ $rc -eq 1 && $err == *"bytes, and this file system allows at most 255" ]]; ok "a name too long for its zip is refused (rc=$rc ${err: -80})"
rm -- "$long"
mkdir box && echo kept >box/file && mkfifo box/pipe
python3 -c 'import socket; socket.socket(socket.AF_UNIX).bind("box/socket")'
run box
[[ $rc -eq 3 && $(listing box.zip | tr '\n' ' ') == "box/ box/file " ]]; ok "skipping a FIFO and a socket ends with status 3 (rc=$rc)"
[[ $(grep -c 'skipping' <<<"$err") -eq 2 ]]; ok "each skipped item is named ($err)"

begin stop_means_stop
# The first stop ends the run at once and what it wrote goes after the exit;
# a second one ends it at once, leaving only the hidden temporary folder.
# Removing the 5,000 files written before the stop would take longer.
python3 -c '
import tarfile
with tarfile.open("many.tar", "w") as t:
    for i in range(12000): t.addfile(tarfile.TarInfo("d%02d/%05d" % (i // 1000, i)))'
for stops in TERM "TERM INT"; do
    "$bin" many.tar >/dev/null 2>"$top/err" &
    pid=$!
    for _ in $(seq 600); do
        [ "$(find . -path './.korvu-*' -type f 2>/dev/null | wc -l)" -ge 5000 ] && break
        sleep 0.05
    done
    sent=$(date +%s%N)
    for sig in $stops; do kill -"$sig" "$pid" 2>/dev/null && sleep 0.05; done
    wait "$pid"
    rc=$? waited=$((($(date +%s%N) - sent) / 1000000))
    if [ "$rc" -eq 0 ]; then
        echo "SKIP [$case_name]: finished before it could be stopped" >&2
        break
    fi
    [[ ($rc -eq 143 || $rc -eq 130) && $waited -lt 400 ]]; ok "$stops: ends at once (rc=$rc after $waited ms)"
    left=$(ls -A | grep -v '^many.tar$')
    [[ -z $(grep -v '^\.korvu-[0-9a-f]*\.tmp$' <<<"$left") ]]; ok "$stops: leaves at most its temporary folder ($left)"
    if [ "$stops" = TERM ]; then
        for _ in $(seq 100); do [ "$(ls -A)" = many.tar ] && break; sleep 0.1; done
        [ "$(ls -A)" = many.tar ]; ok "$stops: which then goes ($(ls -A | tr '\n' ' '))"
    fi
    rm -rf .korvu-*
done

begin confined
# A reader taken over by a hostile archive can write nowhere else, read no
# other file of the user's, start nothing, reach no network and gain nothing.
if [ -z "$probe" ]; then
    echo "SKIP [$case_name]: no probe build given" >&2
else
    mkdir -p home/.ssh src && echo secret >home/.ssh/id_test && echo a >src/probe && echo b >src/after
    (cd src && bsdtar -cf ../in.zip --format zip probe after)
    HOME=$PWD/home KORVU_PROBE_WRITE=$PWD/escaped KORVU_PROBE_READ=$PWD/home/.ssh/id_test \
        "$probe" in.zip >"$top/out" 2>"$top/err"
    rc=$? err=$(cat "$top/err")
    [[ $rc -eq 0 && $(cat in/after) == b ]]; ok "the extraction still succeeds (rc=$rc $err)"
    for try in write read fork exec connect unix-socket privileges; do
        if [[ $try == write || $try == read ]] && [[ $err == *"runs unconfined"* ]]; then
            echo "SKIP [$case_name]: $try: this kernel has no Landlock" >&2
            continue
        fi
        [[ $err == *"probe $try: blocked"* ]]; ok "$try is refused ($(grep "probe $try" <<<"$err"))"
    done
    [ ! -e escaped ]; ok "nothing was written outside"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
