#!/bin/sh
# Installs the Debian packages that building, packaging and testing talvex
# need, and nothing when they are all there. scripts/demo.sh,
# scripts/package.sh, scripts/test.sh and .ci/run call it first.
#
# Usage: sh scripts/setup.sh [--list] [demo|package|test]
#   demo     what building the tool and scripts/demo.sh need
#   package  what scripts/package.sh needs: the tool's build, the aarch64
#            and Windows cross compilers, dpkg-shlibdeps with the arm64
#            libraries it reads, groff for the .zip's MANUAL.txt
#   test     (default) everything scripts/test.sh needs: Windows cross
#            build and wine, aarch64 cross build and qemu-user, packaging,
#            manual page checks, fuzzing compiler
#   --list   only prints the set's packages, on one line
#
# As root the missing packages are installed with apt-get, after a line
# saying which, and a package of another processor (name:arch) first adds
# that architecture to dpkg, saying so; otherwise the lines that would do
# it are printed and the script fails.
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
#   groff-base mandoc  manual page checks; groff also renders the .zip's
#                      MANUAL.txt
#   lintian            the .deb as Debian's checker sees it
#   acl                the outputs' ACLs in the tests (setfacl, getfacl)
#   g++-aarch64-linux-gnu qemu-user-static   aarch64 cross build, run under
#                      qemu-user; the static emulator also runs in an
#                      empty root, as the static aarch64 binary is checked
#   libgtest-dev:arm64 libc6:arm64 libstdc++6:arm64 libgcc-s1:arm64
#                      Google Test for the aarch64 tests, the arm64
#                      libraries they run with under qemu-user, and the
#                      ones the arm64 .deb's dependencies are read from
#                      (Debian multiarch: dpkg --add-architecture arm64)
test_packages="$demo_packages g++-mingw-w64-x86-64-posix wine64 time util-linux
  strace clang dpkg-dev file groff-base mandoc lintian acl
  g++-aarch64-linux-gnu qemu-user-static
  libgtest-dev:arm64 libc6:arm64 libstdc++6:arm64 libgcc-s1:arm64"

# Of those, what the release files need: no test or benchmark libraries
# (package.sh builds the tool alone), no emulator, wine or checkers.
package_packages="cmake g++ dpkg-dev file groff-base g++-aarch64-linux-gnu
  g++-mingw-w64-x86-64-posix libc6:arm64 libstdc++6:arm64 libgcc-s1:arm64"

list=false
if [ "${1:-}" = --list ]; then
  list=true
  shift
fi
case "${1:-test}" in
  demo) packages=$demo_packages ;;
  package) packages=$package_packages ;;
  test) packages=$test_packages ;;
  *) echo "usage: sh scripts/setup.sh [--list] [demo|package|test]" >&2; exit 2 ;;
esac
if $list; then
  echo $packages
  exit 0
fi

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

# Packages of another architecture (name:arch) need it added to dpkg first.
foreign=""
for p in $missing; do
  case "$p" in
    *:*)
      arch=${p#*:}
      case " $(dpkg --print-foreign-architectures | tr '\n' ' ') $foreign " in
        *" $arch "*) ;;
        *) foreign="$foreign $arch" ;;
      esac
      ;;
  esac
done

if [ "$(id -u)" != 0 ]; then
  echo "setup: missing Debian packages:$missing" >&2
  echo "Install them as root, then run this again:" >&2
  for arch in $foreign; do
    echo "  dpkg --add-architecture $arch" >&2
  done
  echo "  apt-get update && apt-get install -y$missing" >&2
  exit 1
fi

echo "== installing:$missing"
export DEBIAN_FRONTEND=noninteractive
for arch in $foreign; do
  echo "== adding the $arch architecture to dpkg (dpkg --add-architecture $arch)"
  dpkg --add-architecture "$arch"
done
apt-get update -q
# shellcheck disable=SC2086
apt-get install -y -q $missing
