#!/usr/bin/env bash
# Installs the Debian packages a build needs, only those that are missing.
# usage: scripts/install-deps.sh run|test|fuzz|win
set -eu
what=${1:-test}
pkgs=(cmake make g++ pkg-config qt6-base-dev libgl-dev libqt6svg6 libarchive-dev
      fonts-ipafont-gothic)
case "$what" in
  run) pkgs+=(xauth) ;;
  test) pkgs+=(libgtest-dev libgmock-dev clang-format xvfb xauth xdotool x11-utils wmctrl openbox
               imagemagick libarchive-tools desktop-file-utils) ;;
  fuzz) pkgs+=(clang libclang-rt-14-dev) ;;
  win) pkgs=(cmake make g++ googletest wine wine64 g++-mingw-w64-x86-64 g++-mingw-w64-i686
            binutils-mingw-w64-x86-64 libx11-dev xvfb xauth xdotool x11-utils imagemagick
            libmagickcore-6.q16-6-extra
            fonts-ipafont-gothic locales) ;;
  bench) pkgs+=(xvfb xauth xdotool x11-utils findutils libxcb1-dev) ;;
  *) echo "usage: $0 run|test|fuzz|bench|win" >&2; exit 2 ;;
esac
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
