#!/usr/bin/env bash
# Installs every Debian package that building and testing need; installs
# nothing that is already there, so it is cheap to run before every build.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  clang clang-format libclang-rt-14-dev
  zlib1g-dev libminizip-dev libgtest-dev libgmock-dev libbenchmark-dev
  # minizip for Windows is built from Debian's source package
  # (scripts/build-mingw-minizip.sh, run when a Windows build is configured)
  dpkg-dev
  # other ZIP readers that the archive tests check our archives with
  unzip python3
  libcurl4-openssl-dev nginx
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 libz-mingw-w64-dev
  # fonts-wine: the font Wine draws the title-bar buttons with, which
  # scripts/wine-env.sh copies into the prefix (without it they read "0 1 r")
  wine64 fonts-wine xvfb
  imagemagick x11-utils fonts-wqy-microhei
  binutils file
  libminizip-dev zip
  liblnk-utils
)

missing=()
for package in "${packages[@]}"; do
  [[ $package == \#* ]] && continue
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
