#!/usr/bin/env bash
# The demo: builds programs from the real loader stubs of all three targets
# and runs them end to end.
#
#   bash scripts/demo.sh BUILD_DIR
#
#  1. linux-x64: a program (stub + the probe program's image + a runtime
#     package) started twice, cold and warm, with its automation transcript;
#     then a damaged copy, which ends with its loader message.
#  2. The probe image bound and run by the image test host: every runtime
#     call it makes, on Linux and, the same image bytes, under wine64.
#  3. The example application (real kernel library, two windows, a modal
#     one, message boxes) driven by its script, with its transcript.
#  4. The package generator: a sample release published twice (first
#     release, then one changed file), with its manifest and archives.
#  5. win-x64: the same programs under wine64.
#  6. win-x86: built and checked structurally (this machine cannot run it),
#     and the i386 probe image's slot thunks.
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
repo=$(cd "$(dirname "$0")/.." && pwd)
native=$build/linux-x64
scratch=$(mktemp -d /tmp/gs-demo-XXXXXX)
trap 'rm -rf "$scratch"; bash "$repo/scripts/wine-env.sh" stop demo >/dev/null 2>&1 || true' EXIT

section() { printf '\n== %s\n' "$*"; }
assemble() {
  "$native/loader/assemble" --stub "$1" --image "$native/images/probe-x86-64.img" --out "$2" "krnln.fne=$3"
}

section "linux-x64: stub + image + runtime package"
assemble "$native/loader/stub" "$scratch/probe" "$native/tests/standin_kernel_0.so"
mkdir -p "$scratch/tmp"
export TMPDIR=$scratch/tmp WJRT_TRANSCRIPT=$scratch/transcript.txt
"$scratch/probe" >/dev/null
"$scratch/probe" >/dev/null
echo "runtime folder: $(ls "$scratch/tmp")"
ls -l "$scratch/tmp"/*/ | sed 's/^/  /'
echo "transcript (cold start, then warm start):"
sed 's/^/  /' "$WJRT_TRANSCRIPT"

section "linux-x64: a damaged program shows its loader message"
cp "$scratch/probe" "$scratch/damaged"
printf '\x00' | dd of="$scratch/damaged" bs=1 seek=$(($(stat -c %s "$scratch/damaged") - 1)) conv=notrunc status=none
: >"$WJRT_TRANSCRIPT"
"$scratch/damaged" || true
sed 's/^/  transcript: /' "$WJRT_TRANSCRIPT"
unset WJRT_TRANSCRIPT

section "the probe image bound and run by the test host on Linux"
"$native/tests/image_host" "$native/images/probe-x86-64.img" | sed 's/^/  /'

section "the example application through the whole chain, driven by a script (linux-x64)"
"$native/loader/assemble" --stub "$native/loader/stub" --image "$native/images/hello-x86-64.img" \
  --out "$scratch/hello" "krnln.fne=$native/runtime/kernel/krnln.fne"
WJRT_SCRIPT=$repo/examples/hello/hello.script WJRT_TRANSCRIPT=$scratch/hello.txt "$scratch/hello"
echo "  exit code $?; transcript:"
sed 's/^/  /' "$scratch/hello.txt"

section "the package generator publishes a sample release (linux-x64)"
release=$scratch/release
mkdir -p "$release/Data/Maps" "$release/update" "$scratch/packgen"
cp "$native/packgen/packgen" "$scratch/packgen/packgen"
printf 'game' >"$release/game.exe"
head -c 200000 /dev/zero | tr '\0' 'd' >"$release/Data/data.pak"
printf 'map' >"$release/Data/Maps/east.map"
printf 'work folder: never published' >"$release/update/skipped.txt"
touch -d '2024-01-01 12:00:00 UTC' "$release/game.exe" "$release/Data/data.pak" "$release/Data/Maps/east.map"
publish() { # version, notes
  cat >"$scratch/packgen.script" <<SCRIPT
click 图形按钮_程序目录选择
choose-folder $release
type 编辑框_更新说明 "$2"
type 编辑框_本次版本号 "$1"
click 图形按钮_生成更新文件
answer ok
close
SCRIPT
  WJRT_SCRIPT=$scratch/packgen.script WJRT_TRANSCRIPT=$scratch/packgen-$1.txt "$scratch/packgen/packgen"
  echo "  release $1: exit code $?; what the operator saw:"
  grep -E '^(unit-text 标签_状态栏|list-insert|msgbox)' "$scratch/packgen-$1.txt" | sed 's/^/    /'
  echo "  version folder $1:"
  (cd "$release/上传到服务器的更新文件/$1" && ls -l | tail -n +2 | awk '{print "    " $5 "\t" $9}')
}
publish 1.0 "首次发行！"
printf 'map, second edition' >"$release/Data/Maps/east.map"
touch -d '2024-02-01 12:00:00 UTC' "$release/Data/Maps/east.map"
publish 1.1 ""
echo "  the manifest up.dat of 1.1 (GBK, shown in UTF-8):"
iconv -f GBK -t UTF-8 "$release/up.dat" | tr -d '\r' | sed 's/^/    /'

section "win-x64 under wine64"
# Only a started environment's variables are taken: one that cannot start
# (another prefix's environment still held, a broken prefix) must not leave
# the programs to run without a display. Exit code 3: wine is not installed.
wine_status=0
wine_exports=$(bash "$repo/scripts/wine-env.sh" start demo) || wine_status=$?
if ((wine_status == 0)); then
  eval "$wine_exports"
  wine=${WINE:-/usr/lib/wine/wine64}
  assemble "$build/win-x64/loader/stub.exe" "$scratch/probe.exe" "$build/win-x64/tests/standin_kernel_0.dll"
  WJRT_TRANSCRIPT="Z:${scratch//\//\\}\\wine-transcript.txt" "$wine" "$scratch/probe.exe" >/dev/null 2>&1
  sed 's/^/  transcript: /' "$scratch/wine-transcript.txt"
  echo "  the same probe image under the win-x64 test host:"
  "$wine" "$build/win-x64/tests/image_host.exe" "Z:${native//\//\\}\\images\\probe-x86-64.img" 2>/dev/null |
    tr -d '\r' >"$scratch/wine-run.txt"
  "$native/tests/image_host" "$native/images/probe-x86-64.img" >"$scratch/linux-run.txt"
  "$native/loader/assemble" --stub "$build/win-x64/loader/stub.exe" --image "$native/images/hello-x86-64.img" \
    --out "$scratch/hello.exe" "krnln.fne=$build/win-x64/runtime/kernel/krnln.fne"
  cp "$repo/examples/hello/hello.script" "$scratch/hello.script"
  WJRT_SCRIPT="Z:${scratch//\//\\}\\hello.script" WJRT_TRANSCRIPT="Z:${scratch//\//\\}\\hello-wine.txt" \
    "$wine" "$scratch/hello.exe" >/dev/null 2>&1
  if cmp -s "$scratch/hello.txt" "$scratch/hello-wine.txt"; then
    echo "  the example application under wine64: the same transcript as on Linux"
  else
    echo "  the example application under wine64 DIFFERS:"
    diff "$scratch/hello.txt" "$scratch/hello-wine.txt" | sed 's/^/    /'
  fi
  if cmp -s "$scratch/wine-run.txt" "$scratch/linux-run.txt"; then
    echo "  identical to the Linux run ($(wc -l <"$scratch/linux-run.txt") calls)"
  else
    echo "  DIFFERS from the Linux run:"
    diff "$scratch/linux-run.txt" "$scratch/wine-run.txt" | sed 's/^/    /'
  fi
elif ((wine_status == 3)); then
  echo "  wine64 is not available here"
else
  echo "  the wine environment did not start" >&2
  exit 1
fi

section "win-x86: structure of the 32-bit program (not runnable here)"
"$native/loader/assemble" --stub "$build/win-x86/loader/stub.exe" --image "$native/images/hello-i386.img" \
  --out "$scratch/hello32.exe" "krnln.fne=$build/win-x86/runtime/kernel/krnln.fne"
echo "  the example application for win-x86 (i386 image, win-x86 kernel library):"
i686-w64-mingw32-objdump -p "$scratch/hello32.exe" | grep -E '^(Magic|ImageBase|Subsystem|DllCharacteristics)' | sed 's/^/  /'
i686-w64-mingw32-objdump -h "$scratch/hello32.exe" | grep -E '^ +[0-9]+ ' | sed 's/^/  /'
echo "  i386 probe image:"
"$native/image/link/imagelink" dump "$native/images/probe-i386.img" | sed -n '1,25p' | sed 's/^/    /'
