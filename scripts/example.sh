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

# A small catalog to inspect, written by the command-line tests' fixture writer.
cmake -S . -B build/fixtures -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/fixtures --target cli_fixture_writer -j "$(nproc)" >/dev/null
build/fixtures/tests/cli/cli_fixture_writer "$out/fixtures"

echo "== skarvel -info $out/fixtures/tiny.car"
"$skarvel" -info "$out/fixtures/tiny.car"
echo "== skarvel -list $out/fixtures/tiny.car"
"$skarvel" -list "$out/fixtures/tiny.car"

# Every picture and raw resource of the example catalog under its own name
# (the small fixture stands in while no compiled example is there).
catalog="$out/Assets.car"
[ -f "$catalog" ] || catalog="$out/fixtures/tiny.car"
echo "== skarvel -dump_res $catalog (in $out/resources)"
mkdir -p "$out/resources"
(cd "$out/resources" && "$skarvel" -dump_res "$OLDPWD/$catalog")
ls -l "$out/resources"
