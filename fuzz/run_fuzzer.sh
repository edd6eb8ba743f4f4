#!/bin/sh
# run_fuzzer.sh FUZZER WORK_DIR [libFuzzer flags] [seed dirs]
# A run from a fresh working corpus: new inputs go to WORK_DIR, the seed
# folders in the tree are only read. Crash, hang and leak inputs land in
# WORK_DIR/artifacts.
fuzzer="$1"
work="$2"
shift 2
rm -rf "$work" && mkdir -p "$work/corpus" "$work/artifacts" || exit 1
exec "$fuzzer" -artifact_prefix="$work/artifacts/" "$work/corpus" "$@"
