#!/bin/sh
# Builds everything and runs every test, in stages: the suite under
# AddressSanitizer and UndefinedBehaviorSanitizer with the fuzz corpora
# replayed, the Windows cross build,
# the release suite with the install, package and manual page checks, the
# end-to-end suite against the Windows build under wine, and the aarch64
# cross build with its release suite under qemu-user. A stage that
# fails does not stop the ones after it: the run ends with one line per
# stage and fails when any stage failed. Installs the packages it needs
# first when they are missing.
set -u
cd "$(dirname "$0")/.."
sh scripts/setup.sh test || exit 1

sanitizer_suite() {
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTALVEX_SANITIZE=ON -DTALVEX_BENCH=OFF \
      -DTALVEX_WERROR=ON >/dev/null &&
    cmake --build build-asan -j2 &&
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
      ./build-asan/tests/talvex_tests --gtest_brief=1 &&
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
      ctest --test-dir build-asan --output-on-failure --no-tests=error -R '^fuzz_replay_'
}

windows_build() {
  if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1; then
    skipped="no MinGW-w64 cross compiler"
    return 0
  fi
  sh scripts/build-windows.sh -DTALVEX_WERROR=ON
}

release_suite() {
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTALVEX_WERROR=ON >/dev/null &&
    cmake --build build -j2 &&
    ctest --test-dir build --output-on-failure --no-tests=error -j2 -LE large -E '^windows_e2e$'
}

# The end-to-end suite of the release build against build-win/talvex.exe.
wine_suite() {
  ctest --test-dir build -V --no-tests=error -R '^windows_e2e$' >"$log" 2>&1
  status=$?
  cat "$log"
  if [ "$status" = 0 ] && grep -q 'windows_e2e .*Skipped' "$log"; then
    skipped=$(grep -o 'Windows tests SKIPPED: .*' "$log" | head -n 1)
    skipped=${skipped#Windows tests SKIPPED: }
  fi
  return "$status"
}

# The aarch64 cross build (cmake/aarch64-linux-gnu.cmake) in build-aarch64,
# and its release suite under qemu-user: CTest starts every test program
# through the emulator, and the tests start the tool through it. The large
# tests, the package checks and the Windows tests are the x86-64 stages'.
aarch64_suite() {
  if ! command -v aarch64-linux-gnu-g++ >/dev/null 2>&1; then
    skipped="no aarch64 cross compiler (aarch64-linux-gnu-g++)"
    return 0
  fi
  if ! command -v qemu-aarch64-static >/dev/null 2>&1 && ! command -v qemu-aarch64 >/dev/null 2>&1; then
    skipped="no qemu-user (qemu-aarch64-static or qemu-aarch64)"
    return 0
  fi
  cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
      -DCMAKE_BUILD_TYPE=Release -DTALVEX_BENCH=OFF -DTALVEX_WERROR=ON >/dev/null &&
    cmake --build build-aarch64 -j2 &&
    ctest --test-dir build-aarch64 --output-on-failure --no-tests=error -j2 -LE large \
      -E '^(windows_e2e|package_.*)$'
}

log=$(mktemp)
trap 'rm -f "$log"' EXIT
summary="" failed=0
for stage in "sanitizer suite:sanitizer_suite" "Windows build:windows_build" \
             "release suite:release_suite" "wine suite:wine_suite" \
             "aarch64 suite:aarch64_suite"; do
  name=${stage%%:*} skipped="" started=$(date +%s)
  echo "== $name"
  if ${stage#*:}; then
    outcome=${skipped:+"skipped ($skipped)"}
    outcome=${outcome:-passed}
  else
    outcome=FAILED failed=1
  fi
  summary="$summary$name: $outcome, $(($(date +%s) - started)) s
"
done

echo "== summary"
printf '%s' "$summary"
exit "$failed"
