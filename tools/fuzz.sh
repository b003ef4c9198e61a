#!/usr/bin/env bash
# Runs the bridge fuzzer for a while.
# Usage: tools/fuzz.sh FUZZBUILD MAINBUILD SECONDS
#   FUZZBUILD  the clang build holding plinthos-fuzz (make fuzz-build)
#   MAINBUILD  the main build; with PLINTHOS_FUZZ_REAL_ENGINE=1 its engine program is used
#              instead of the echo engine (slower, and it runs fuzzed SQL for real)
# Exits 77 (skipped) when the fuzzer is not built. Inputs found on the way stay in a scratch
# corpus that is thrown away; crashing inputs are kept in FUZZBUILD/fuzz-artifacts/.
set -euo pipefail

if [[ $# -ne 3 ]]; then
  echo "usage: $0 FUZZBUILD MAINBUILD SECONDS" >&2
  exit 2
fi
fuzzbuild=$1
mainbuild=$2
seconds=$3
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
fuzzer=$fuzzbuild/plinthos-fuzz

if [[ ! -x $fuzzer ]]; then
  echo "fuzz: $fuzzer is not built (run 'make fuzz-build'); skipping"
  exit 77
fi

scratch=$(mktemp -d /tmp/plinthos-fuzzrun-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/corpus" "$scratch/artifacts"
export PLINTHOS_FUZZ_TMP=$scratch
if [[ ${PLINTHOS_FUZZ_REAL_ENGINE:-0} == 1 ]]; then
  export PLINTHOS_FUZZ_ENGINE=$mainbuild/Plinthos.app/Contents/Resources/duckdb
fi

status=0
"$fuzzer" -max_total_time="$seconds" -timeout=30 -max_len=4096 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$scratch/artifacts/" \
  "$scratch/corpus" "$repo/tests/fuzz/corpus" || status=$?

if compgen -G "$scratch/artifacts/*" >/dev/null; then
  mkdir -p "$fuzzbuild/fuzz-artifacts"
  cp "$scratch"/artifacts/* "$fuzzbuild/fuzz-artifacts/"
  echo "fuzz: crashing inputs kept in $fuzzbuild/fuzz-artifacts/"
fi
exit "$status"
