#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the programs need, when missing.
# Usage: tools/install-deps.sh [extra-package ...]
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite qt6-5compat-dev libgl-dev
    qt6-translations-l10n qt6-qpa-plugins
    libbenchmark-dev sqlite3 libsqlite3-dev fonts-noto-cjk fonts-wqy-microhei
    poppler-utils python3-vobject
    "$@"
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
