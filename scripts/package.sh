#!/bin/sh
# Makes the installable packages in OUTDIR (default out/):
#   talvex_VERSION_ARCH.deb   Linux release build: bin/talvex, the manual
#                             page, bash completion, copyright, changelog
#   talvex-VERSION-win64.zip  Windows cross build: talvex.exe, README.txt, LICENSE
# The .deb comes from its own release tree build-pkg (the tool alone, no
# tests or benchmarks); the .zip from build-win (scripts/build-windows.sh),
# skipped with a message where the MinGW-w64 cross compiler is missing.
# The same commit gives the same .deb, byte for byte: its dates are the
# commit's (or SOURCE_DATE_EPOCH, when set).
# Usage: sh scripts/package.sh [OUTDIR]
set -eu
cd "$(dirname "$0")/.."
# The .deb's outer archive records the modes of the files CPack writes for
# it, which follow the umask.
umask 022
sh scripts/setup.sh test
mkdir -p "${1:-out}"
out=$(cd "${1:-out}" && pwd)

echo "== .deb"
cmake -S . -B build-pkg -DCMAKE_BUILD_TYPE=Release -DTALVEX_TESTS=OFF -DTALVEX_BENCH=OFF >/dev/null
cmake --build build-pkg -j2
cpack -G DEB --config build-pkg/CPackConfig.cmake -B "$out"

if command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1; then
  echo "== .zip"
  sh scripts/build-windows.sh
  cpack -G ZIP --config build-win/CPackConfig.cmake -B "$out"
else
  echo "== .zip SKIPPED: no MinGW-w64 cross compiler (x86_64-w64-mingw32-g++-posix);" \
       "sh scripts/setup.sh installs it"
fi

rm -rf "$out/_CPack_Packages"
echo "== packages in $out"
ls -l "$out"
