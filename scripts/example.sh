#!/usr/bin/env bash
# Installs what is missing, builds skarvel and runs it on the bundled example.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DSKARVEL_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)"
skarvel=$PWD/build/release/skarvel
out=build/example
rm -rf "$out" && mkdir -p "$out"

echo "== skarvel -version"
"$skarvel" -version
