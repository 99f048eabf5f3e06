#!/usr/bin/env bash
# The archive library of the Windows sample archiver and the compressors it reads, built from
# Debian's own source packages (with Debian's patches, as `apt-get source` unpacks them) as
# static mingw-w64 libraries. The sources come through an apt configuration of our own that
# names this machine's mirrors; the system's apt configuration is neither read for packages
# nor changed. Everything lands in a cache outside the checkout and is built only once.
# usage: scripts/win-libs.sh x64|x86   (prints the prefix the libraries are in)
#        scripts/win-libs.sh fetch     (only fetches the sources into the cache)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
arch=${1:-}
case "$arch" in
  x64) host=x86_64-w64-mingw32 toolchain=mingw-w64-x86_64.cmake ;;
  x86) host=i686-w64-mingw32 toolchain=mingw-w64-i686.cmake ;;
  fetch) ;;
  *) echo "usage: $0 x64|x86|fetch" >&2; exit 2 ;;
esac
cache=${DOREDAVIRO_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/doredaviro}/win-libs
prefix=$cache/$arch
# A change to this script rebuilds the libraries.
stamp=$prefix/.built-$(md5sum "$0" | cut -c1-12)
if [ "$arch" != fetch ] && [ -f "$stamp" ]; then echo "$prefix"; exit 0; fi
jobs=${JOBS:-2}
[ "$jobs" -gt 2 ] && jobs=2  # the machine is shared
run() { nice -n 10 "$@"; }
log() { echo "win-libs: $*" >&2; }

# --- the sources ---------------------------------------------------------------------------
# Those the Linux build of the archive library reads, and the library itself.
packages=(zlib bzip2 xz-utils libzstd lz4 libarchive)
apt=$cache/apt
src=$cache/src
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$codename" ] || { echo "win-libs: no VERSION_CODENAME in /etc/os-release" >&2; exit 1; }
fetch_sources() {
  # shellcheck source=scripts/apt-mirrors.sh
  . "$root/scripts/apt-mirrors.sh"
  [ -n "$debian_mirror" ] || { echo "win-libs: no Debian mirror in apt's sources" >&2; exit 1; }
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/state" "$src"
  local keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  {
    printf 'deb-src [signed-by=%s] %s %s main\n' "$keyring" "$debian_mirror" "$codename"
    printf 'deb-src [signed-by=%s] %s %s-updates main\n' "$keyring" "$debian_mirror" "$codename"
    [ -z "$security_mirror" ] ||
      printf 'deb-src [signed-by=%s] %s %s-security main\n' "$keyring" "$security_mirror" "$codename"
  } >"$apt/sources.list"
  aptopts=(-o "Dir::Etc::SourceList=$apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
    -o "Dir::State=$apt/state" -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache"
    -o Debug::NoLocking=1 -o "APT::Sandbox::User=$(id -un)" -q)
  log "reading the source lists of $debian_mirror ($codename)"
  apt-get "${aptopts[@]}" update >&2
  for p in "${packages[@]}"; do
    [ -z "$(find "$src" -maxdepth 1 -name "$p-[0-9]*" -type d -print -quit)" ] || continue
    fetch_package "$p"
  done
}
# source_versions PACKAGE: the versions of it the lists name, newest first.
source_versions() {
  local v sorted=() i
  while read -r v; do
    i=${#sorted[@]}
    while [ "$i" -gt 0 ] && dpkg --compare-versions "$v" gt "${sorted[i - 1]}"; do
      sorted[i]=${sorted[i - 1]}
      i=$((i - 1))
    done
    sorted[i]=$v
  done < <(apt-cache "${aptopts[@]}" showsrc "$1" |
    awk -v p="$1" '/^Package:/ { ours = ($2 == p) } ours && /^Version:/ { print $2 }' | sort -u)
  [ "${#sorted[@]}" -eq 0 ] || printf '%s\n' "${sorted[@]}"
}
# A mirror may list a version whose files it lacks (an update not yet copied, say): each listed
# version is tried in turn, in a folder of its own so that no part of a failed try is kept.
fetch_package() {
  local p=$1 v newest=""
  local try=$src/.try-$p
  while read -r v; do
    [ -n "$newest" ] || newest=$v
    rm -rf "$try"
    mkdir -p "$try"
    if (cd "$try" && apt-get "${aptopts[@]}" --only-source source "$p=$v" </dev/null >&2); then
      mv "$try"/* "$src"/
      rm -rf "$try"
      [ "$v" = "$newest" ] || log "$p: took $v; the newest listed, $newest, could not be fetched"
      return 0
    fi
    log "$p: $v could not be fetched whole"
  done < <(source_versions "$p")
  rm -rf "$try"
  if [ -z "$newest" ]; then
    echo "win-libs: the source lists name no version of $p" >&2
  else
    echo "win-libs: no version of $p the source lists name could be fetched whole" >&2
  fi
  exit 1
}
source_dir() { find "$src" -maxdepth 1 -name "$1-[0-9]*" -type d | sort | tail -n1; }
fetch_sources
if [ "$arch" = fetch ]; then log "sources in $src"; exit 0; fi

# --- the build -----------------------------------------------------------------------------
rm -rf "$prefix"
mkdir -p "$prefix/include" "$prefix/lib"
work=$cache/build-$arch
rm -rf "$work"
mkdir -p "$work"
cc="$host-gcc-posix"
cflags="-O2 -g0"

# compile_lib NAME SOURCE_DIR FILES...: a static library from plain C files.
compile_lib() {
  local name=$1 dir=$2
  shift 2
  local out=$work/$name objs=()
  mkdir -p "$out"
  for f in "$@"; do
    local o="$out/$(basename "${f%.c}").o"
    run "$cc" $cflags -c "$dir/$f" -o "$o" &
    objs+=("$o")
    [ "$(jobs -rp | wc -l)" -lt "$jobs" ] || wait -n
  done
  wait
  rm -f "$prefix/lib/lib$name.a"
  "$host-ar" rcs "$prefix/lib/lib$name.a" "${objs[@]}"
}

log "zlib"
d=$(source_dir zlib)
compile_lib z "$d" adler32.c compress.c crc32.c deflate.c gzclose.c gzlib.c gzread.c gzwrite.c \
  infback.c inffast.c inflate.c inftrees.c trees.c uncompr.c zutil.c
cp "$d/zlib.h" "$d/zconf.h" "$prefix/include/"

log "bzip2"
d=$(source_dir bzip2)
compile_lib bz2 "$d" blocksort.c huffman.c crctable.c randtable.c compress.c decompress.c bzlib.c
cp "$d/bzlib.h" "$prefix/include/"

log "lz4"
d=$(source_dir lz4)
compile_lib lz4 "$d/lib" lz4.c lz4hc.c lz4frame.c xxhash.c
cp "$d/lib/lz4.h" "$d/lib/lz4hc.h" "$d/lib/lz4frame.h" "$prefix/include/"

# The project's toolchain, with the libraries built so far findable.
printf 'include(%s)\nlist(APPEND CMAKE_FIND_ROOT_PATH %s)\n' \
  "$root/cmake/toolchains/$toolchain" "$prefix" >"$work/toolchain.cmake"
cmake_lib() {  # cmake_lib SOURCE_DIR BUILD_NAME TARGET ARGS...
  local dir=$1 name=$2 target=$3
  shift 3
  run cmake -S "$dir" -B "$work/$name" -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS="$cflags" "$@" >"$work/$name.log" 2>&1 ||
    { tail -n 30 "$work/$name.log" >&2; exit 1; }
  run cmake --build "$work/$name" -j "$jobs" --target "$target" >>"$work/$name.log" 2>&1 ||
    { tail -n 30 "$work/$name.log" >&2; exit 1; }
}

log "zstd"
d=$(source_dir libzstd)
cmake_lib "$d/build/cmake" zstd libzstd_static -DZSTD_BUILD_SHARED=OFF -DZSTD_BUILD_STATIC=ON \
  -DZSTD_BUILD_PROGRAMS=OFF -DZSTD_BUILD_TESTS=OFF -DZSTD_MULTITHREAD_SUPPORT=OFF
cp "$work/zstd/lib/libzstd.a" "$prefix/lib/"
cp "$d/lib/zstd.h" "$d/lib/zstd_errors.h" "$d/lib/zdict.h" "$prefix/include/"

log "xz"
d=$(source_dir xz-utils)
cmake_lib "$d" xz liblzma -DBUILD_SHARED_LIBS=OFF
cp "$work/xz/liblzma.a" "$prefix/lib/"
cp -r "$d/src/liblzma/api/lzma.h" "$d/src/liblzma/api/lzma" "$prefix/include/"

log "libarchive"
d=$(source_dir libarchive)
cmake_lib "$d" libarchive archive_static -DENABLE_TEST=OFF -DENABLE_TAR=OFF -DENABLE_CPIO=OFF \
  -DENABLE_CAT=OFF -DENABLE_OPENSSL=OFF -DENABLE_NETTLE=OFF -DENABLE_MBEDTLS=OFF \
  -DENABLE_LIBXML2=OFF -DENABLE_EXPAT=OFF -DENABLE_LIBB2=OFF -DENABLE_LZO=OFF -DENABLE_CNG=OFF \
  -DENABLE_ICONV=OFF -DENABLE_ACL=OFF -DENABLE_XATTR=OFF -DENABLE_PCREPOSIX=OFF \
  -DENABLE_ZLIB=ON -DENABLE_BZip2=ON -DENABLE_LZMA=ON -DENABLE_ZSTD=ON -DENABLE_LZ4=ON \
  -DLZMA_API_STATIC=ON
# Each compressor must have been found: a library without one would quietly lack it.
for h in HAVE_ZLIB_H HAVE_BZLIB_H HAVE_LZMA_H HAVE_ZSTD_H HAVE_LZ4_H; do
  grep -q "^#define $h 1" "$work/libarchive/config.h" ||
    { echo "win-libs: the archive library was configured without $h" >&2; exit 1; }
done
cp "$work/libarchive/libarchive/libarchive.a" "$prefix/lib/libarchive.a" 2>/dev/null ||
  cp "$work/libarchive/libarchive/libarchive_static.a" "$prefix/lib/libarchive.a"
cp "$d/libarchive/archive.h" "$d/libarchive/archive_entry.h" "$prefix/include/"

# What was built from what, for anyone asking later.
for p in "${packages[@]}"; do basename "$(source_dir "$p")"; done >"$prefix/SOURCES"
rm -rf "$work"
touch "$stamp"
log "built into $prefix"
echo "$prefix"
