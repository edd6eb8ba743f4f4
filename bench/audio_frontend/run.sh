#!/bin/bash
# Benchmarks FrontendProcessSamples: time and instructions per 160-sample
# call on speech_hello.raw with the detector's settings, the output checked
# against its features.
#
#   bench/audio_frontend/run.sh [PASSES]
#
# Builds with this machine's g++ and the project's flags against the prebuilt x86-64 KissFFT.
set -euo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
deps="${DEPS_PREFIX:-$HOME/.cache/framepump-cuewatch-deps/x86_64}"
passes="${1:-2000}"
out="$(mktemp -d /tmp/bench-audio-frontend.XXXXXX)"
trap 'rm -rf "$out"' EXIT

g++ -std=c++17 -O2 -g -Wall -Wextra -ffp-contract=off -fvect-cost-model=cheap -DFIXED_POINT=16 \
  -I"$root" -I"$deps/include/kissfft" \
  "$root"/bench/audio_frontend/bench_frontend.cc "$root"/detector/feature_setup.cpp \
  "$root"/audio_frontend/*.cc \
  "$deps/lib/libkissfft-int16_t.a" -lm -o "$out/bench_frontend"

audio="$root/tests/data/golden/audio/speech_hello.raw"
features="$root/tests/data/golden/features/speech_hello.txt"

"$out/bench_frontend" "$audio" "$features" "$passes"

valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.out" \
  --toggle-collect='FrontendProcessSamples*' \
  "$out/bench_frontend" "$audio" "$features" 0 > /dev/null 2> "$out/valgrind.log"
calls=$(( $(stat -c %s "$audio") / 2 / 160 ))
instructions=$(awk '/^(summary|totals):/ { print $2; exit }' "$out/callgrind.out")
echo "instructions in FrontendProcessSamples: $instructions over $calls calls," \
  "$(( instructions / calls )) per call"
