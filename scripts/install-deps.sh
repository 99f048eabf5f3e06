#!/usr/bin/env bash
# Installs the Debian packages a build needs, only those that are missing.
# usage: scripts/install-deps.sh run|test|fuzz|bench|win|deb|packages|root...
set -eu
[ $# -gt 0 ] || set -- test
# Debian 12 and 13 name a few packages differently; anything else is taken for 13.
release=$(. /etc/os-release 2>/dev/null && echo "${VERSION_ID:-}")
case "$release" in
  12) magick_extra=libmagickcore-6.q16-6-extra clang_rt=libclang-rt-14-dev ;;
  *) magick_extra=libmagickcore-7.q16-10-extra clang_rt=libclang-rt-19-dev ;;
esac
linux=(cmake make g++ pkg-config qt6-base-dev libgl-dev libqt6svg6 libarchive-dev libseccomp-dev zlib1g-dev
       librsvg2-bin fonts-ipafont-gothic)
test=(libgtest-dev libgmock-dev clang-format xvfb xauth xdotool x11-utils wmctrl openbox
      dbus-daemon dbus-session-bus-common
      imagemagick libarchive-tools desktop-file-utils appstream file man-db procps
      xclip python3-pyatspi at-spi2-core dbus-bin dpkg-dev python3
      exfat-fuse exfatprogs strace passwd cpio xorriso)
# The sample archiver's libraries come as Debian source packages (scripts/win-libs.sh); bsdtar
# reads back what it packs, python3 writes the hostile zips.
win=(cmake make g++ googletest wine wine64 g++-mingw-w64-x86-64 g++-mingw-w64-i686
     binutils-mingw-w64-x86-64 libx11-dev xvfb xauth xdotool x11-utils imagemagick
     "$magick_extra" nsis fonts-ipafont-gothic locales
     dpkg-dev debian-archive-keyring xz-utils libarchive-tools python3)
# The Debian package's tools; its build dependencies are those of debian/control.
deb=(build-essential dpkg-dev debhelper lintian appstream desktop-file-utils)
pkgs=()
for what in "$@"; do
  case "$what" in
    run) pkgs+=("${linux[@]}" xauth) ;;
    test) pkgs+=("${linux[@]}" "${test[@]}") ;;
    fuzz) pkgs+=("${linux[@]}" clang "$clang_rt") ;;
    win) pkgs+=("${win[@]}") ;;
    bench) pkgs+=("${linux[@]}" xvfb xauth xdotool x11-utils findutils libxcb1-dev libarchive-tools) ;;
    deb) pkgs+=("${linux[@]}" "${deb[@]}") ;;
    # Both packages installed and tried: a throwaway Debian root (mount: a minimal system lacks
    # it), and Wine.
    packages) pkgs+=("${linux[@]}" "${test[@]}" "${deb[@]}" "${win[@]}" mmdebstrap mount) ;;
    # A fresh root of another release to run the tests in.
    root) pkgs+=(mmdebstrap mount git) ;;
    *) echo "usage: $0 run|test|fuzz|bench|win|deb|packages|root..." >&2; exit 2 ;;
  esac
done
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_=""; [ "$(id -u)" -eq 0 ] || sudo_=sudo
  $sudo_ apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_ apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
