#!/bin/sh
# Builds a fuzz target with clang in its own build folder and runs it.
#   fuzz/run.sh [runs] [target]   (default 1000000 inputs of fuzz_messages; or fuzz_vcard)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${PELICARD_FUZZ_BUILD:-$root/build-fuzz}
runs=${1:-1000000}
target=${2:-fuzz_messages}
case $target in
fuzz_messages) seeds=corpus ;;
fuzz_vcard) seeds=corpus-vcard ;;
*) echo "unknown target: $target" >&2; exit 2 ;;
esac

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPELICARD_FUZZ=ON -DPELICARD_TESTS=OFF -DPELICARD_BENCH=OFF >/dev/null
cmake --build "$build" --target "$target" --parallel 2

# New inputs go to a work folder in the build tree; the checked-in seeds (fuzz/corpus written by
# the fuzz_make_seeds target, fuzz/corpus-vcard by hand) stay as they are.
mkdir -p "$build/fuzz/$seeds"
cd "$build/fuzz"
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1} \
    "./$target" -runs="$runs" -max_len=4096 -print_final_stats=1 "$seeds" "$here/$seeds"
