#!/usr/bin/env bash
# Installs what is missing, builds skarvel, compiles the bundled example
# (examples/Example.xcassets: a complete app icon set and a set made from one
# 1024 x 1024 picture) into build/example/Assets.car and shows what it holds.
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

catalog="$out/Assets.car"
echo "== skarvel -v -compile examples/Example.xcassets -out $catalog"
"$skarvel" -v -compile examples/Example.xcassets -out "$catalog"
echo "== skarvel -info $catalog"
"$skarvel" -info "$catalog"

# Every picture and raw resource of the catalog under its own name.
echo "== skarvel -dump_res $catalog (in $out/resources)"
mkdir -p "$out/resources"
(cd "$out/resources" && "$skarvel" -dump_res "$OLDPWD/$catalog")
ls -l "$out/resources"
