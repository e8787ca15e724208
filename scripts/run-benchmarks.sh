#!/usr/bin/env bash
# Runs the benchmarks of an optimised build and prints their summary.
#
#   bash scripts/run-benchmarks.sh BUILD_DIR [benchmark flags...]
#
# Extra flags go to the benchmark program (e.g. --benchmark_filter=cold,
# --benchmark_repetitions=3). Runtime folders are unpacked below a scratch
# folder in /tmp (the same file system as /tmp), removed at the end. The full
# results are also kept as JSON in BUILD_DIR/bench/loader_startup.json.
set -euo pipefail

if (($# < 1)); then
  echo "usage: $0 BUILD_DIR [benchmark flags...]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
shift

program=$build/bench/loader_startup_bench
if [[ ! -x $program ]]; then
  echo "$program is missing: configure with -DBUILD_BENCH=ON and build first" >&2
  exit 1
fi

scratch=$(mktemp -d /tmp/gs-bench-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
export TMPDIR=$scratch
unset WJRT_TRANSCRIPT

echo "loader start-up benchmarks: $(nproc) cores, scratch $scratch"
"$program" \
  --benchmark_out="$build/bench/loader_startup.json" \
  --benchmark_out_format=json \
  "$@"

echo
echo "image binding benchmark"
"$build/bench/image_bind_bench" --benchmark_out="$build/bench/image_bind.json" --benchmark_out_format=json

echo
echo "kernel start-up benchmark"
"$build/bench/kernel_startup_bench" --benchmark_out="$build/bench/kernel_startup.json" --benchmark_out_format=json

echo
echo "profile file benchmark"
"$build/bench/profile_bench" --benchmark_out="$build/bench/profile.json" --benchmark_out_format=json

echo
echo "HTTP request object benchmark"
"$build/bench/http_bench" --benchmark_out="$build/bench/http.json" --benchmark_out_format=json

echo
echo "launcher benchmark"
"$build/bench/launcher_bench" --benchmark_out="$build/bench/launcher.json" --benchmark_out_format=json

echo
echo "updater benchmark (writes up to 2 GB of archives and files in the scratch folder, removed as it goes)"
"$build/bench/update_bench" --benchmark_out="$build/bench/update.json" --benchmark_out_format=json

echo
echo "package generator benchmark (makes a 1 GB release in the build folder once)"
"$build/bench/packgen_bench"
