#!/usr/bin/env bash
# Assembles packgen.exe for win-x64 and win-x86 into their build folders:
#   assemble_windows.sh ASSEMBLE IMAGES_DIR WIN_X64_DIR WIN_X86_DIR LIBRARY...
# A win build folder without its stub or libraries is skipped with a note.
set -euo pipefail
assemble=$1 images=$2 win64=$3 win32=$4
shift 4
for pair in "$win64:x86-64" "$win32:i386"; do
  dir=${pair%:*} arch=${pair##*:}
  [ -n "$dir" ] || continue
  files=("krnln.fne=$dir/runtime/kernel/krnln.fne")
  for library in "$@"; do files+=("$library.fne=$dir/runtime/libraries/$library.fne"); done
  missing=
  for f in "$dir/loader/stub.exe" "${files[@]#*=}"; do [ -f "$f" ] || missing=$f; done
  if [ -n "$missing" ]; then
    echo "packgen: $dir not built ($missing missing), skipped"
    continue
  fi
  mkdir -p "$dir/packgen"
  "$assemble" --stub "$dir/loader/stub.exe" --image "$images/packgen-$arch.img" \
    --out "$dir/packgen/packgen.exe" --folder-name packgen "${files[@]}"
done
