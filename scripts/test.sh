#!/bin/bash
# Runs every test of every build: the native binaries, the sanitizer build,
# and the ARM binaries under qemu-user-static.
set -uo pipefail
cd "$(dirname "$0")/.."
status=0
for preset in native native-asan aarch64 armhf fuzz; do
  printf '== testing preset %s\n' "$preset"
  ctest --preset "$preset" || status=1
done
exit $status
