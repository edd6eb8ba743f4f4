#!/bin/bash
# Long libFuzzer runs of every fuzz target, each until its execution goal,
# on a corpus kept between runs. Prints per target the executions, the
# corpus size and what was found; crash, hang and leak inputs are left in
# OUT/artifacts/<target>/ for minimising into fuzz/regressions/<target>/.
#
# usage: bench/fuzz/long_runs.sh [BUILD_DIR] [OUT_DIR] [WORKERS]
#   BUILD_DIR  the fuzz preset's build (default build/fuzz)
#   OUT_DIR    corpora, logs and findings (default ~/.cache/framepump-cuewatch-fuzz)
#   WORKERS    processes per target (default 4)
# GOAL_<target>=N in the environment overrides a target's goal of executions;
# ONLY="name ..." runs only those targets.
set -uo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
BUILD="${1:-$ROOT/build/fuzz}"
OUT="${2:-$HOME/.cache/framepump-cuewatch-fuzz}"
WORKERS="${3:-4}"
SEEDS="$ROOT/fuzz/seeds"
GOLDEN="$ROOT/tests/data/golden"

# target  goal  flags  seed folders
TARGETS=(
  "model 10000000 -max_len=131072 -rss_limit_mb=2048 $GOLDEN/models $BUILD/fuzz/test_models $ROOT/fuzz/regressions/model"
  "frontend 1000000 -max_len=8192 $GOLDEN/audio $GOLDEN/blocks"
  "relay_decode 1000000 -max_len=65536 -rss_limit_mb=2048 $SEEDS/relay_decode"
  "relay_command_line 1000000 -max_len=256 -dict=$ROOT/fuzz/relay_command_line.dict $SEEDS/relay_command_line"
  "cuewatch_command_line 1000000 -max_len=256 -dict=$ROOT/fuzz/cuewatch_command_line.dict $SEEDS/cuewatch_command_line"
)

printf 'target\texecutions\tcorpus_files\tcorpus_bytes\tfindings\tseconds\n'
status=0
for entry in "${TARGETS[@]}"; do
  read -r name goal flags <<< "$entry"
  [[ -z "${ONLY:-}" || " $ONLY " == *" $name "* ]] || continue
  goal_var="GOAL_$name"
  goal="${!goal_var:-$goal}"
  binary="$BUILD/fuzz/fuzz_$name"
  corpus="$OUT/corpus/$name"
  findings="$OUT/artifacts/$name"
  logs="$OUT/logs/$name"
  mkdir -p "$corpus" "$findings" "$logs"
  rm -f "$logs"/fuzz-*.log
  read -ra args <<< "$flags"
  started=$(date +%s)
  (cd "$logs" && "$binary" -jobs="$WORKERS" -workers="$WORKERS" \
      -runs=$(( (goal + WORKERS - 1) / WORKERS )) -print_final_stats=1 -close_fd_mask=3 -timeout=20 \
      -artifact_prefix="$findings/" "$corpus" "${args[@]}" > "$logs/driver.log" 2>&1)
  seconds=$(( $(date +%s) - started ))
  executions=$(cat "$logs"/fuzz-*.log | awk '/stat::number_of_executed_units/ {n += $2} END {print n + 0}')
  files=$(find "$corpus" -type f | wc -l)
  bytes=$(du -sb "$corpus" | cut -f1)
  found=$(find "$findings" -type f | wc -l)
  [[ "$found" -eq 0 && "$executions" -ge "$goal" ]] || status=1
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$executions" "$files" "$bytes" "$found" "$seconds"
done
exit $status
