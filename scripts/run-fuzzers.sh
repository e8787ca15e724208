#!/usr/bin/env bash
# Runs every fuzz target of a build folder for a bounded time.
#
#   scripts/run-fuzzers.sh <build folder> <seconds>
#
# Each executable named *_fuzz in the build folder runs for <seconds> on its
# corpus, <build>/corpus/<target>, which is kept from run to run. Before that,
# <build>/<target>_seeds (when built) writes fresh seed inputs to
# <build>/seeds/<target>, and <build>/<target>.dict (when there) serves as the
# dictionary. A crashing, leaking, hanging or memory-hungry input is saved
# under <build>/artifacts/<target>/ and makes the script exit non-zero, after
# all targets have run. One closing line per target says how it went.
set -uo pipefail

if (($# != 2)) || ! [[ $2 =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 <build folder> <seconds>" >&2
  exit 2
fi
build=$(cd "$1" && pwd) || exit 2
seconds=$2

mapfile -t targets < <(find "$build" -maxdepth 1 -type f -executable -name '*_fuzz' | sort)
if ((${#targets[@]} == 0)); then
  echo "run-fuzzers: no *_fuzz executable in $build" >&2
  exit 2
fi

failed=0
summary=()
for target in "${targets[@]}"; do
  name=$(basename "$target")
  corpus="$build/corpus/$name"
  seeds="$build/seeds/$name"
  artifacts="$build/artifacts/$name"
  log="$build/logs/$name.log"
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"

  folders=("$corpus")
  if [[ -x "$build/${name}_seeds" ]]; then
    rm -rf "$seeds"
    if ! "$build/${name}_seeds" "$seeds"; then
      summary+=("fuzz $name: FAILED - its seed generator failed")
      failed=1
      continue
    fi
    folders+=("$seeds")
  fi
  options=(
    -max_total_time="$seconds"
    -rss_limit_mb=2048
    -timeout=10
    -print_final_stats=1
    -artifact_prefix="$artifacts/"
  )
  if [[ -f "$build/$name.dict" ]]; then
    options+=(-dict="$build/$name.dict")
  fi

  echo "fuzz $name: running for ${seconds}s (log: $log)"
  before=$(find "$artifacts" -type f | wc -l)
  "$target" "${options[@]}" "${folders[@]}" >"$log" 2>&1
  status=$?

  runs=$(sed -n 's/^Done \([0-9]*\) runs in.*/\1/p' "$log" | tail -n 1)
  inputs=$(find "$corpus" -type f | wc -l)
  if ((status == 0)); then
    summary+=("fuzz $name: passed - ${runs:-?} runs in ${seconds}s, corpus of $inputs inputs")
    continue
  fi

  failed=1
  echo "---- $name: end of $log ----"
  tail -n 60 "$log"
  echo "----"
  after=$(find "$artifacts" -type f | wc -l)
  input=$(find "$artifacts" -type f -printf '%T@ %p\n' | sort -n | tail -n 1 | cut -d' ' -f2-)
  if ((after > before)) && [[ -n $input ]]; then
    bytes=$(stat -c %s "$input")
    echo "failing input: $input ($bytes bytes)"
    if ((bytes <= 4096)); then
      od -An -tx1 -v "$input" | tr -d ' \n' | fold -w 128
      echo
    fi
    echo "replay: $target $input"
    summary+=("fuzz $name: FAILED (exit $status) - input saved as $input")
  else
    summary+=("fuzz $name: FAILED (exit $status) - no input saved, see $log")
  fi
done

printf '%s\n' "${summary[@]}"
exit "$failed"
