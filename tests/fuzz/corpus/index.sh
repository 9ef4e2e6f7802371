#!/usr/bin/env bash
# Writes the seeds of fuzz_index into the folder given: small indexes made by the program's own
# writer, through the fuzzer built beside this script's checkout (tests/fuzz/run-fuzzers).
#   tests/fuzz/corpus/index.sh FOLDER
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
mkdir -p "$1"
"$root/build-fuzz/tests/fuzz/fuzz_index" --write-seeds "$1"
