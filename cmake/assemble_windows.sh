#!/usr/bin/env bash
# Assembles a program for win-x64 and win-x86 into their build folders:
#   assemble_windows.sh ASSEMBLE IMAGES_DIR NAME FOLDER_NAME FOLDER WIN_X64_DIR WIN_X86_DIR LIBRARY...
# writes WIN_*_DIR/FOLDER/NAME.exe from the win build's stub, kernel and
# LIBRARY.fne files and images/NAME-<arch>.img. A win build folder without
# its stub or libraries is skipped with a note.
set -euo pipefail
assemble=$1 images=$2 name=$3 folder_name=$4 folder=$5 win64=$6 win32=$7
shift 7
for pair in "$win64:x86-64" "$win32:i386"; do
  dir=${pair%:*} arch=${pair##*:}
  [ -n "$dir" ] || continue
  files=("krnln.fne=$dir/runtime/kernel/krnln.fne")
  for library in "$@"; do files+=("$library.fne=$dir/runtime/libraries/$library.fne"); done
  missing=
  for f in "$dir/loader/stub.exe" "${files[@]#*=}"; do [ -f "$f" ] || missing=$f; done
  if [ -n "$missing" ]; then
    echo "$name: $dir not built ($missing missing), skipped"
    continue
  fi
  mkdir -p "$dir/$folder"
  "$assemble" --stub "$dir/loader/stub.exe" --image "$images/$name-$arch.img" \
    --out "$dir/$folder/$name.exe" --folder-name "$folder_name" "${files[@]}"
done
