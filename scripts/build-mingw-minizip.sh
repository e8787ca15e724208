#!/usr/bin/env bash
# Builds minizip as a static library for a mingw-w64 target from Debian's own
# source package, the same code that libminizip-dev carries on Linux.
#
#   scripts/build-mingw-minizip.sh x86_64|i686 <output folder>
#
# The output folder gets lib/libminizip.a and include/minizip/*.h. The
# unpacked source is kept in a cache folder (MINIZIP_SOURCE_CACHE, by default
# build/minizip-source of this tree) and shared by both targets. Source
# entries for apt are added beside the binary ones when none exist. Running it
# again with the library in place does nothing.
set -euo pipefail

arch=${1:?usage: build-mingw-minizip.sh x86_64|i686 <output folder>}
out=${2:?usage: build-mingw-minizip.sh x86_64|i686 <output folder>}
case $arch in
  x86_64 | i686) ;;
  *) echo "unknown architecture: $arch" >&2; exit 2 ;;
esac
here=$(cd "$(dirname "$0")/.." && pwd)
cache=${MINIZIP_SOURCE_CACHE:-$here/build/minizip-source}
package=minizip

if [[ -f $out/lib/libminizip.a && -f $out/include/minizip/unzip.h ]]; then
  exit 0
fi

# apt-get source needs source entries. Debian 12 describes its archives in
# deb822 files; older systems in one-line lists. Each gets a source twin of
# its binary entries, written once.
ensure_source_entries() {
  if grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    return 0
  fi
  local added=0 file
  for file in /etc/apt/sources.list.d/*.sources; do
    [[ -f $file ]] || continue
    local twin=/etc/apt/sources.list.d/source-$(basename "$file")
    sed -E 's/^Types:[[:space:]]*deb[[:space:]]*$/Types: deb-src/' "$file" >"$twin"
    added=1
  done
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f $file ]] || continue
    local twin=/etc/apt/sources.list.d/source-$(basename "$file" .list).list
    [[ $file == /etc/apt/sources.list ]] && twin=/etc/apt/sources.list.d/source-main.list
    sed -nE 's/^deb[[:space:]]+/deb-src /p' "$file" >"$twin"
    added=1
  done
  if ((added == 0)); then
    echo "no apt entries to derive source entries from" >&2
    return 1
  fi
  apt-get update -qq
}

fetch_source() {
  local version
  mkdir -p "$cache"
  exec 9>"$cache/.lock"
  flock 9
  version=$(apt-cache policy "$package" 2>/dev/null | sed -nE 's/^[[:space:]]*Candidate:[[:space:]]*(.*)$/\1/p')
  if [[ -z $version || $version == "(none)" ]]; then
    # The binary package lists may not be there yet.
    apt-get update -qq
    version=$(apt-cache policy "$package" | sed -nE 's/^[[:space:]]*Candidate:[[:space:]]*(.*)$/\1/p')
  fi
  src=$cache/$package-$version
  if [[ ! -f $src/.complete ]]; then
    ensure_source_entries
    local work
    work=$(mktemp -d "$cache/.fetch-XXXXXX")
    (cd "$work" && apt-get source -qq --download-only -o APT::Sandbox::User=root "$package=$version" &&
      dpkg-source -x --no-check ./*.dsc tree >/dev/null)
    rm -rf "$src"
    mv "$work/tree" "$src"
    rm -rf "$work"
    touch "$src/.complete"
  fi
  flock -u 9
}

fetch_source

# The sources of the library: the I/O layer, zip, unzip and the Win32 file
# functions that take wide names.
cc=$arch-w64-mingw32-gcc
ar=$arch-w64-mingw32-ar
objects=$(mktemp -d)
trap 'rm -rf "$objects"' EXIT
for name in ioapi zip unzip iowin32; do
  "$cc" -O2 -w -I"$src" -c "$src/$name.c" -o "$objects/$name.o"
done
mkdir -p "$out/lib" "$out/include/minizip"
rm -f "$out/lib/libminizip.a.tmp"
"$ar" rcs "$out/lib/libminizip.a.tmp" "$objects"/*.o
cp "$src"/ioapi.h "$src"/zip.h "$src"/unzip.h "$src"/iowin32.h "$out/include/minizip/"
mv "$out/lib/libminizip.a.tmp" "$out/lib/libminizip.a"
