#!/usr/bin/env bash
# Builds the fuzz targets (preset fuzz: clang, libFuzzer, ASan and UBSan) and
# runs each for SECONDS seconds (default 30), one after the other:
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]
# A target starts from its committed seeds (fuzz/corpus/TARGET) and from what
# earlier runs found (build/fuzz/corpus/TARGET, where new inputs go). A crash
# or a broken invariant stops that target, saves the input to
# build/fuzz/crashes/TARGET/ and makes the script fail; the logs are in
# build/fuzz/logs/.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
vexlor_need "${VEXLOR_CORE_PACKAGES[@]}" "${VEXLOR_FUZZ_PACKAGES[@]}"

seconds=${1:-30}
shift || true
# target | longest input tried
targets=(
  "statements|8192"
  "expression|2048"
  "frame|2064"
  "picture|8192"
  "script_line|2100"
  "serve_requests|16384"
  "frei0r_params|4096"
)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" >/dev/null

out=build/fuzz
mkdir -p "$out/logs"
failed=0
for entry in "${targets[@]}"; do
  IFS='|' read -r name maxlen <<<"$entry"
  if [ $# -gt 0 ] && ! printf '%s\n' "$@" | grep -qx "$name"; then continue; fi
  mkdir -p "$out/corpus/$name" "$out/crashes/$name"
  log="$out/logs/$name.log"
  status=0
  "$out/fuzz/fuzz_$name" -max_total_time="$seconds" -max_len="$maxlen" -timeout=20 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$out/crashes/$name/" \
    "$out/corpus/$name" "fuzz/corpus/$name" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  elapsed=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log")
  corpus=$(find "$out/corpus/$name" -type f | wc -l)
  if [ "$status" -eq 0 ]; then
    printf 'fuzz %-12s %10s runs in %4s s, %5d inputs in its corpus\n' \
      "$name" "${runs:-?}" "${elapsed:-$seconds}" "$corpus"
  else
    failed=1
    echo "fuzz $name FAILED (exit $status); log: $log" >&2
    grep -E 'fuzz fault|ERROR|SUMMARY|runtime error|Test unit written' "$log" >&2 || tail -20 "$log" >&2
  fi
done
exit "$failed"
