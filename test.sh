#!/usr/bin/env bash
# Installs what is missing, builds with warnings on, and runs every test headless.
set -euo pipefail
cd "$(dirname "$0")"

tools/install-deps.sh
build=${PELICARD_BUILD_DIR:-build}
werror=OFF
[ -n "${CI:-}" ] && werror=ON

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELICARD_WERROR=$werror
cmake --build "$build" --parallel "$(nproc)"

export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" -LE bench "$@"
