#!/bin/sh
# Cross-builds the native Windows executable build-win/talvex.exe with
# MinGW-w64, where the windows_e2e test of the native build
# (tests/CMakeLists.txt) finds it; that test prepares wine itself. Arguments
# go to CMake's configure step (scripts/test.sh passes -DTALVEX_WERROR=ON).
set -eu
cd "$(dirname "$0")/.."

cmake -S . -B build-win \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DTALVEX_TESTS=OFF -DTALVEX_BENCH=OFF "$@"
cmake --build build-win -j2

# The exe must run on a stock Windows: no MinGW runtime DLLs.
if x86_64-w64-mingw32-objdump -p build-win/talvex.exe | grep 'DLL Name' |
    grep -iv -e kernel32 -e msvcrt -e shell32 -e advapi32; then
  echo "build-win/talvex.exe needs a DLL that Windows does not ship" >&2
  exit 1
fi
