#!/bin/sh
# Builds the fuzz target with clang in its own build folder and runs it.
#   fuzz/run.sh [runs]        (default 1000000 inputs)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${PELICARD_FUZZ_BUILD:-$root/build-fuzz}
runs=${1:-1000000}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPELICARD_FUZZ=ON -DPELICARD_TESTS=OFF -DPELICARD_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz_messages --parallel 2

# New inputs go to a work folder in the build tree; the checked-in seeds (written by the
# fuzz_make_seeds target) stay as they are.
mkdir -p "$build/fuzz/corpus"
cd "$build/fuzz"
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1} \
    ./fuzz_messages -runs="$runs" -max_len=4096 -print_final_stats=1 corpus "$here/corpus"
