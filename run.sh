#!/usr/bin/env bash
# Installs what is missing, builds, and starts the client; "./run.sh server" starts the server.
set -euo pipefail
cd "$(dirname "$0")"

tools/install-deps.sh
build=${PELICARD_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --parallel "$(nproc)"

if [ "${1:-}" = server ]; then
    shift
    exec "$build/server/pelicard-server" "$@"
fi
exec "$build/client/pelicard" "$@"
