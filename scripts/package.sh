#!/bin/sh
# Makes every release file in OUTDIR (default out/):
#   talvex_VERSION_amd64.deb, talvex_VERSION_arm64.deb
#       Linux release builds for Debian and its kin, dynamically linked:
#       bin/talvex, the manual page, bash completion, copyright, changelog
#   talvex-VERSION-linux-x86_64.tar.gz, talvex-VERSION-linux-aarch64.tar.gz
#       for any Linux of that processor: one folder talvex-VERSION-linux-ARCH
#       holding talvex, stripped and statically linked (glibc inside), its
#       manual page talvex.1, the bash completion talvex.bash, LICENSE and
#       README.md
#   talvex-VERSION-win64.zip
#       Windows cross build: talvex.exe, README.txt, MANUAL.txt, LICENSE
#   SHA256SUMS
#       the sums of the files above, as `sha256sum -c SHA256SUMS` checks them
# Each processor's .deb and tarball come from one release tree of the tool
# alone (no tests or benchmarks), which links it twice: build-pkg for x86-64
# and build-pkg-aarch64, cross-built (cmake/aarch64-linux-gnu.cmake); the
# .zip from build-win (scripts/build-windows.sh). Where a cross compiler is
# missing (scripts/setup.sh installs them as root), its files are skipped
# with a message. The same commit gives the same files, byte for byte:
# every date in them is the commit's (or SOURCE_DATE_EPOCH, when set), and
# the tarballs hold their files in name order, owned by root.
# Before anything else it says what it will install and change on this
# machine: as root, the Debian packages of `sh scripts/setup.sh package`
# that are missing, and dpkg's arm64 architecture for the arm64 libraries
# that the arm64 .deb's dependencies are read from.
# Usage: sh scripts/package.sh [OUTDIR]
set -eu
# The .deb's outer archive records the modes of the files CPack writes for
# it, which follow the umask.
umask 022
scripts=$(dirname "$0")
echo "== package.sh: the release files into ${1:-out/}, built in build-pkg, build-pkg-aarch64 and build-win."
echo "   First, as root, it installs those of these Debian packages that are missing, adding the arm64"
echo "   architecture to dpkg first (dpkg --add-architecture arm64) where arm64 ones are among them;"
echo "   as another user it prints the commands for root instead, and makes what it can:"
echo "   $(sh "$scripts/setup.sh" --list package)"
# OUTDIR as the caller names it; the default in the source tree.
if [ -n "${1:-}" ]; then
  mkdir -p "$1"
  out=$(cd "$1" && pwd)
fi
cd "$scripts/.."
mkdir -p "${out:=$PWD/out}"
sh scripts/setup.sh package ||
  echo "== setup: Debian packages missing (above); the files that need them are skipped"
made=""

installed() {  # Debian package -> whether it is installed
  case "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" in
    *" installed") return 0 ;;
    *) return 1 ;;
  esac
}

# The release tree $1, configured with the further options after it, built.
build_tree() {
  tree=$1
  shift
  cmake -S . -B "$tree" -DCMAKE_BUILD_TYPE=Release -DTALVEX_TESTS=OFF -DTALVEX_BENCH=OFF \
    -DTALVEX_STATIC=ON "$@" >/dev/null
  cmake --build "$tree" -j2
}

# The .deb of tree $1.
make_deb() {
  cpack -G DEB --config "$1/CPackConfig.cmake" -B "$out"
  made="$made $(cd "$out" && ls talvex_"$version"_"$2".deb)"
}

# talvex-VERSION-linux-$2.tar.gz from tree $1: the static binary and the
# files beside it, dated and owned alike whoever packs them.
make_tarball() {
  name=talvex-$version-linux-$2
  epoch=${SOURCE_DATE_EPOCH:-$(cat "$1/source_date_epoch")}
  stage=$(mktemp -d)
  mkdir "$stage/$name"
  cp "$1/static/talvex" "$stage/$name/talvex"
  cp "$1/doc/talvex.1" "$stage/$name/talvex.1"
  cp completion/talvex.bash "$stage/$name/talvex.bash"
  cp LICENSE README.md "$stage/$name/"
  chmod 755 "$stage/$name" "$stage/$name/talvex"
  chmod 644 "$stage/$name/talvex.1" "$stage/$name/talvex.bash" "$stage/$name/LICENSE" \
    "$stage/$name/README.md"
  tar --create --format=gnu --sort=name --owner=0 --group=0 --numeric-owner \
    --mtime="@$epoch" --directory="$stage" "$name" | gzip -9n >"$out/$name.tar.gz"
  rm -rf "$stage"
  made="$made $name.tar.gz"
}

# This machine's build: x86-64 here, named by the machine all the same.
echo "== $(uname -m): .deb and static binary"
build_tree build-pkg
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-pkg/CMakeCache.txt)
make_deb build-pkg "$(dpkg --print-architecture)"
make_tarball build-pkg "$(uname -m)"

if [ "$(uname -m)" = aarch64 ]; then
  :  # made above
elif ! command -v aarch64-linux-gnu-g++ >/dev/null 2>&1; then
  echo "== aarch64 .deb and tarball SKIPPED: no aarch64 cross compiler (aarch64-linux-gnu-g++);" \
       "sh scripts/setup.sh installs it"
elif ! installed libc6:arm64 || ! installed libstdc++6:arm64 || ! installed libgcc-s1:arm64; then
  echo "== aarch64 .deb and tarball SKIPPED: the arm64 C and C++ libraries that the .deb's" \
       "dependencies are read from are missing; sh scripts/setup.sh installs them"
else
  echo "== aarch64: .deb and static binary"
  build_tree build-pkg-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
  make_deb build-pkg-aarch64 arm64
  make_tarball build-pkg-aarch64 aarch64
fi

if command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1; then
  echo "== .zip"
  sh scripts/build-windows.sh
  cpack -G ZIP --config build-win/CPackConfig.cmake -B "$out"
  made="$made talvex-$version-win64.zip"
else
  echo "== .zip SKIPPED: no MinGW-w64 cross compiler (x86_64-w64-mingw32-g++-posix);" \
       "sh scripts/setup.sh installs it"
fi

rm -rf "$out/_CPack_Packages"
# shellcheck disable=SC2086
(cd "$out" && LC_ALL=C sha256sum $(printf '%s\n' $made | LC_ALL=C sort) >SHA256SUMS)
echo "== release files in $out"
(cd "$out" && ls -l SHA256SUMS $made)
