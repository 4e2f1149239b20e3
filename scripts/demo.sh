#!/bin/sh
# Builds talvex and shows its main job on a sample it makes itself: a random
# key and file, encrypted, tested, decrypted and compared byte for byte.
# Installs the build's packages first when they are missing.
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh demo
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target talvex >/dev/null
talvex=$PWD/build/talvex

sample=$(mktemp -d)
trap 'rm -rf "$sample"' EXIT
cd "$sample"
head -c 100000 /dev/urandom >key.bin          # 32-bit mode (65,536 bytes or more)
head -c 1000000 /dev/urandom >photo.jpg

echo "== talvex -e key.bin photo.jpg vault.tvx"
"$talvex" -e key.bin photo.jpg vault.tvx
echo "== talvex -t key.bin jpg#vault.tvx"
"$talvex" -t key.bin 'jpg#vault.tvx'
echo "== talvex -d key.bin jpg#vault.tvx restored"
"$talvex" -d key.bin 'jpg#vault.tvx' restored
echo "== files"
ls -l
cmp photo.jpg restored.jpg
echo "restored.jpg equals photo.jpg byte for byte"
