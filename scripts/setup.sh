#!/bin/sh
# Installs the Debian packages that building and testing talvex need, and
# nothing when they are all there. scripts/demo.sh, scripts/test.sh and
# .ci/run call it first.
#
# Usage: sh scripts/setup.sh [demo|test]
#   demo  what building the tool and scripts/demo.sh need
#   test  (default) everything scripts/test.sh needs: Windows cross build
#         and wine, packaging, manual page checks, fuzzing compiler
#
# As root the missing packages are installed with apt-get; otherwise the
# apt-get line that installs them is printed and the script fails.
set -eu

# The package lists: one place, one word per package.
#   cmake g++          the build
#   libgtest-dev       the tests (configured by every build)
#   libbenchmark-dev   the benchmarks (configured by every build)
demo_packages="cmake g++ libgtest-dev libbenchmark-dev"
#   g++-mingw-w64-x86-64-posix wine64   Windows cross build and its tests
#   time util-linux    peak memory and pseudo-terminals in the tests
#   strace             what reaches the disk before a replacing rename
#   clang              fuzzing
#   dpkg-dev file      the .deb's dependencies (dpkg-shlibdeps)
#   groff-base mandoc  manual page checks
#   lintian            the .deb as Debian's checker sees it
#   acl                the outputs' ACLs in the tests (setfacl, getfacl)
test_packages="$demo_packages g++-mingw-w64-x86-64-posix wine64 time util-linux
  strace clang dpkg-dev file groff-base mandoc lintian acl"

case "${1:-test}" in
  demo) packages=$demo_packages ;;
  test) packages=$test_packages ;;
  *) echo "usage: sh scripts/setup.sh [demo|test]" >&2; exit 2 ;;
esac

if ! command -v dpkg-query >/dev/null 2>&1; then
  echo "setup: not a Debian system, packages not checked; the build needs the" \
       "equivalents of: $(echo $packages)" >&2
  exit 0
fi

missing=""
for p in $packages; do
  case "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)" in
    *" installed") ;;
    *) missing="$missing $p" ;;
  esac
done
[ -n "$missing" ] || exit 0

if [ "$(id -u)" != 0 ]; then
  echo "setup: missing Debian packages:$missing" >&2
  echo "Install them as root, then run this again:" >&2
  echo "  apt-get update && apt-get install -y$missing" >&2
  exit 1
fi

echo "== installing:$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
# shellcheck disable=SC2086
apt-get install -y -q $missing
