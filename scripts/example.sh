#!/usr/bin/env bash
# Installs what is missing, builds skarvel, compiles the bundled example
# (examples/Example.xcassets: a complete app icon set, a set made from one
# 1024 x 1024 picture, and the AR resource group "Landmarks" with a JPEG
# reference image measured in centimeters and a PNG one in meters) into
# build/example/Assets.car, shows what it holds and decompiles it again.
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

# The AR reference images: 640 x 640 gray-and-alpha pictures (the first -info
# lines), and the resource group's name list (the "UNKNOWN" line: a rendition
# without pixels or reference).
echo "== AR renditions in skarvel -info $catalog"
"$skarvel" -info "$catalog" | grep -E ' (tower\.jpg|bridge\.png|UNKNOWN)'

# Back to an .xcassets directory: the group lists its reference images, each
# with its picture and its physical width in meters.
echo "== skarvel -decompile $catalog -out $out/Decompiled"
"$skarvel" -decompile "$catalog" -out "$out/Decompiled"
(cd "$out/Decompiled.xcassets" && ls -d -- */ && find Landmarks.arresourcegroup -type f | sort)
group="$out/Decompiled.xcassets/Landmarks.arresourcegroup"
for json in "$group/Contents.json" "$group"/*.arreferenceimage/Contents.json; do
  echo "-- $json"
  cat "$json"
  echo
done
