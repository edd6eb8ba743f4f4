#!/bin/bash
# Benchmarks MicroInterpreter::Invoke on the streaming golden models: time and
# instructions per Invoke over the random blocks, outputs checked against the
# recorded results.
#
#   bench/inference/run.sh [PASSES]
#
# Builds the runtime with this machine's g++ with the project's flags.
set -euo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
passes="${1:-200}"
out="$(mktemp -d /tmp/bench-inference.XXXXXX)"
trap 'rm -rf "$out"' EXIT

mkdir -p "$out/generated/inference"
flatc --cpp -o "$out/generated/inference" "$root/inference/schema.fbs"
g++ -std=c++17 -O2 -g -Wall -Wextra -ffp-contract=off -fvect-cost-model=cheap \
  -I"$root" -I"$out/generated" \
  "$root"/bench/inference/bench_invoke.cc "$root"/detector/operators.cpp \
  "$root"/inference/*.cc \
  "$root"/inference/kernels/*.cc -o "$out/bench_invoke"

golden="$root/tests/data/golden"
blocks="$golden/blocks/random_12000.bin"
for model in stream_f1a stream_f3a stream_f10a; do
  results="$golden/invoke/${model}__random.txt"
  "$out/bench_invoke" "$golden/models/$model.tflite" "$blocks" "$results" "$passes"
  valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.out" \
    --toggle-collect='tflite::MicroInterpreter::Invoke*' \
    "$out/bench_invoke" "$golden/models/$model.tflite" "$blocks" "$results" 0 \
    2> "$out/valgrind.log"
  invokes=$(wc -l < "$results")
  instructions=$(awk '/^(summary|totals):/ { print $2; exit }' "$out/callgrind.out")
  echo "$model: $instructions instructions over $invokes invokes," \
    "$(( instructions / invokes )) per Invoke"
done
