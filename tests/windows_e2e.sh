#!/bin/sh
# Runs the end-to-end cases against the cross-built talvex.exe under wine.
# Usage: windows_e2e.sh TALVEX_TESTS TALVEX_EXE WINE HOLD_OPEN_EXE
# Exit 77 (skipped) when something needed is missing; under CI (CI=true) a
# missing piece is a failure, so a pipeline can never pass without Windows.
tests=$1 exe=$2 wine=$3 holder=$4

give_up() {
  if [ "$CI" = "true" ]; then
    echo "Windows tests FAILED: $1 (CI needs the Windows build)"
    exit 1
  fi
  echo "Windows tests SKIPPED: $1"
  exit 77
}

[ -n "$exe" ] || give_up "TALVEX_WINDOWS_EXE is not set"
[ -f "$exe" ] || give_up "no Windows build at $exe (run scripts/build-windows.sh)"
[ -x "$wine" ] || give_up "wine not found at $wine"
[ -f "$holder" ] || give_up "test helper $holder was not built (x86_64-w64-mingw32-g++-posix missing?)"
server=$(dirname "$wine")/wineserver
[ -x "$server" ] || server=$(command -v wineserver) || give_up "no wineserver beside $wine"

export WINEDEBUG=-all
# wine reads file names and arguments through the locale's character set;
# in UTF-8 they reach the program as the Unicode names they are on disk.
export LC_ALL=C.UTF-8

# A prefix of the suite's own, kept beside the test program from run to run:
# nobody else's wine (the user's, another build's suite) starts, stops or
# updates its server meanwhile, and the server can be ended with the suite.
# Two suites of one build take turns.
export WINEPREFIX="$(cd "$(dirname "$tests")" && pwd)/wineprefix"
mkdir -p "$WINEPREFIX"
exec 9>"$WINEPREFIX.lock"
flock 9
# One server for the whole run. Left to itself (Debian starts it with
# -p0), it ends a second or so after the last wine program and takes
# seconds to go; a program started meanwhile waits for it and, after about
# six seconds, gives up with exit status 1 and no output. With the server
# kept until the suite ends, no case ever starts while one goes. It can
# only be started once the prefix's folder exists, and ends a minute after
# the last program should this script be killed before it ends it. It
# keeps none of this script's output open, or ctest would wait for it.
"$server" -k >/dev/null 2>&1
"$server" -w >/dev/null 2>&1
if ! "$server" -p60 </dev/null >/dev/null 2>&1; then
  echo "Windows tests FAILED: $server -p60 did not start a server for $WINEPREFIX"
  exit 1
fi
# The first start in a prefix builds it, which takes a while; do it before
# the timed cases.
"$wine" wineboot -i >/dev/null 2>&1

TALVEX_UNDER_TEST=$exe TALVEX_RUNNER=$wine TALVEX_LINE_END=crlf TALVEX_HOLD_OPEN=$holder \
  TALVEX_INTERRUPT_CLEANUP="$(dirname "$exe")/interrupt_cleanup.exe" \
  "$tests" --gtest_filter='E2E*'
status=$?
# Ends the server and what it still runs (a helper a failed case left); the
# registry is saved first.
"$server" -k >/dev/null 2>&1
exit "$status"
