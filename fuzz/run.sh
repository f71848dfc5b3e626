#!/bin/sh
# Runs one fuzz target with its seed corpus and dictionary, niced, for a given time:
#   fuzz/run.sh BUILD TARGET SECONDS [libFuzzer options...]
# e.g. fuzz/run.sh build-fuzz conf_text 1200. New inputs go to BUILD/fuzz-corpus/TARGET, so the
# committed seeds in fuzz/corpus stay as they are; findings go to BUILD/fuzz-findings/TARGET.
set -eu
if [ $# -lt 3 ]; then
  echo "usage: fuzz/run.sh BUILD TARGET SECONDS [libFuzzer options...]" >&2
  exit 2
fi
build=$1 target=$2 seconds=$3
shift 3
src=$(cd "$(dirname "$0")" && pwd)
work=$build/fuzz-corpus/$target
findings=$build/fuzz-findings/$target
mkdir -p "$work" "$findings"
dict=$src/dict/$target.dict
# patch_gen reads a list of choices, not text; a target may have no dictionary at all.
{ [ "$target" = patch_gen ] || [ ! -s "$dict" ]; } && dict=
seeds=$src/corpus/$target
exec nice -n 19 "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix="$findings/" ${dict:+-dict="$dict"} "$@" "$work" "$seeds"
