#!/usr/bin/env bash
# The demo: the suite's own story, operator to player, on linux-x64 and on
# win-x64 under wine64 with real windows, after a short look at the layers
# every program is made of.
#
#   bash scripts/demo.sh BUILD_DIR
#
#  1. The loader: a program (stub + the probe image + a runtime package)
#     started cold and warm, and a damaged copy with its loader message.
#  2. The example application driven by its script.
#  3. The road of a release (scripts/demo-road.sh): packgen publishes 1.0
#     and 1.1, nginx on 127.0.0.1 serves them, the player's launcher hands
#     over to the updater, which installs 1.1, and the launcher starts the
#     game; checked file by file. On linux-x64, then on win-x64 with a
#     picture of every window, kept in BUILD_DIR/demo-pictures.
#  4. win-x86: the 32-bit program's structure (this machine cannot run it).
#
# Any failed check ends the demo with status 1.
#
# The updater's network probe resolves a public host name; the demo answers
# it itself (127.0.0.1), from a hosts file bound over /etc/hosts in a mount
# namespace of the demo's own, which the programs inherit.
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
repo=$(cd "$(dirname "$0")/.." && pwd)
native=$build/linux-x64

if [[ ${GS_DEMO_NAMESPACE:-} != 1 ]]; then
  unshare --mount --propagation private true 2>/dev/null || {
    echo "DEMO FAILED: no mount namespace of the demo's own (unshare needs root)" >&2
    exit 1
  }
  GS_DEMO_NAMESPACE=1 exec unshare --mount --propagation private bash "$0" "$build"
fi

scratch=$(mktemp -d /tmp/gs-demo-XXXXXX)
cleanup() {
  stop_web 2>/dev/null || true
  rm -rf "$scratch"
  bash "$repo/scripts/wine-env.sh" stop demo >/dev/null 2>&1 || true
}
trap cleanup EXIT
printf '127.0.0.1 localhost\n127.0.0.1 www.microsoft.com\n' >"$scratch/hosts"
mount --bind "$scratch/hosts" /etc/hosts || {
  echo "DEMO FAILED: cannot answer the updater's network probe (mount namespace)" >&2
  exit 1
}

# shellcheck source=scripts/demo-road.sh
source "$repo/scripts/demo-road.sh"
section() { printf '\n== %s\n' "$*"; }
started=$SECONDS

section "The loader (linux-x64): stub + the probe image + a runtime package"
"$native/loader/assemble" --stub "$native/loader/stub" --image "$native/images/probe-x86-64.img" \
  --out "$scratch/probe" "krnln.fne=$native/tests/standin_kernel_0.so"
mkdir -p "$scratch/tmp"
TMPDIR=$scratch/tmp WJRT_TRANSCRIPT=$scratch/probe.txt "$scratch/probe" >/dev/null
TMPDIR=$scratch/tmp WJRT_TRANSCRIPT=$scratch/probe.txt "$scratch/probe" >/dev/null
echo "  runtime folder $(ls "$scratch/tmp"): $(find "$scratch/tmp" -mindepth 2 -maxdepth 2 ! -name '.*' -printf '%f ')"
echo "  cold start, then warm start:"
sed 's/^/    /' "$scratch/probe.txt"
cp "$scratch/probe" "$scratch/damaged"
printf '\x00' | dd of="$scratch/damaged" bs=1 seek=$(($(stat -c %s "$scratch/damaged") - 1)) conv=notrunc status=none
TMPDIR=$scratch/tmp WJRT_TRANSCRIPT=$scratch/damaged.txt "$scratch/damaged" >/dev/null 2>&1 || true
echo "  a damaged copy (last trailer byte changed): $(cat "$scratch/damaged.txt")"
grep -q 'Invalid data in the file!' "$scratch/damaged.txt" || demo_fail "the damaged program did not stop"

section "The example application (linux-x64), driven by its script"
WJRT_SCRIPT=$repo/examples/hello/hello.script WJRT_TRANSCRIPT=$scratch/hello.txt TMPDIR=$scratch/tmp \
  "$native/examples/hello" >/dev/null
echo "  $(grep -c '' "$scratch/hello.txt") transcript lines, the windows and messages:"
grep -E '^(window-open|msgbox|end)' "$scratch/hello.txt" | sed 's/^/    /'

road linux-x64

section "win-x64 under wine64"
# Only a started environment's variables are taken: one that cannot start
# (another prefix's environment still held, a broken prefix) must not leave
# the programs to run without a display. Exit code 3: wine is not installed.
wine_status=0
wine_exports=$(bash "$repo/scripts/wine-env.sh" start demo) || wine_status=$?
if ((wine_status == 0)); then
  eval "$wine_exports"
  WINE=${WINE:-/usr/lib/wine/wine64}
  WJRT_SCRIPT=$(winpath "$repo/examples/hello/hello.script") WJRT_TRANSCRIPT=$(winpath "$scratch/hello-wine.txt") \
    WJRT_UI=headless "$WINE" "$build/win-x64/examples/hello.exe" >/dev/null 2>&1
  cmp -s "$scratch/hello.txt" "$scratch/hello-wine.txt" || {
    diff "$scratch/hello.txt" "$scratch/hello-wine.txt" | sed 's/^/    /'
    demo_fail "the example application's transcript under wine64 differs"
  }
  echo "  the example application: the same transcript as on Linux"
  pictures=$build/demo-pictures
  rm -rf "$pictures"
  mkdir -p "$pictures"
  road win-x64 "$pictures"
elif ((wine_status == 3)); then
  echo "  wine64 is not available here"
else
  demo_fail "the wine environment did not start"
fi

section "win-x86: the 32-bit program's structure (not runnable here)"
i686-w64-mingw32-objdump -p "$build/win-x86/launcher/launcher.exe" |
  grep -E '^(Magic|ImageBase|Subsystem)' | sed 's/^/  /'
echo "  sections: $(i686-w64-mingw32-objdump -h "$build/win-x86/launcher/launcher.exe" | awk '/^ +[0-9]+ /{printf "%s ", $2}')"

section "Done in $((SECONDS - started)) s"
if [[ -n ${pictures:-} ]]; then
  echo "  the pictures of the road's windows (win-x64): $pictures"
  find "$pictures" -type f -printf '    %f\n' | sort
fi
