#!/bin/sh
# Checks of what users install: the installed tree, the manual page, the
# .deb and the Windows .zip.
# Usage: package_checks.sh CHECK BUILD_DIR SOURCE_DIR VERSION [WINDOWS_BUILD_DIR]
#   install  cmake --install into a DESTDIR; round trip with the installed tool
#   manual   the manual page: groff and mandoc lint, and the texts it quotes
#            from the tool match what the tool prints
#   deb      cpack -G DEB: its files, dependencies, version; round trip with
#            the packed tool
#   zip      cpack -G ZIP of the Windows cross build: talvex.exe and README
# Exit 77 (skipped) when a tool a check needs is missing; under CI
# (CI=true) that is a failure instead.
set -eu
check=$1 version=$4 windows_build=${5:-}
build=$(cd "$2" && pwd)
source=$(cd "$3" && pwd)

# Colours would only get in the way of the text comparisons.
unset FORCE_COLOR CLICOLOR_FORCE

give_up() {
  if [ "${CI:-}" = "true" ]; then
    echo "$check check FAILED: $1 (CI needs it)"
    exit 1
  fi
  echo "$check check SKIPPED: $1"
  exit 77
}

fail() {
  echo "$check check FAILED: $1"
  exit 1
}

need() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || give_up "$tool not found (sh scripts/setup.sh installs it)"
  done
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Encrypts, tests and decrypts a sample with the talvex at $1 and compares
# the result with the original; a key of another file must not pass.
round_trip() {
  tool=$1
  dir=$work/round_trip
  mkdir -p "$dir"
  head -c 70000 /dev/urandom >"$dir/key.bin"     # 32-bit mode
  head -c 100 /dev/urandom >"$dir/other.bin"     # 8-bit mode, another key
  head -c 300000 /dev/urandom >"$dir/photo.jpg"
  (
    cd "$dir"
    "$tool" -e key.bin photo.jpg vault.tvx >e.out || fail "talvex -e exited $?"
    grep -qF "Talvex Encryption was successful!" e.out || fail "no success line from -e: $(cat e.out)"
    [ -f 'jpg#vault.tvx' ] || fail "-e did not write jpg#vault.tvx"
    "$tool" -t key.bin 'jpg#vault.tvx' >t.out || fail "talvex -t exited $?"
    grep -qF "File: jpg#vault.tvx is a valid 'Talvex Encryption' file!" t.out ||
      fail "-t did not accept the file: $(cat t.out)"
    "$tool" -t other.bin 'jpg#vault.tvx' >t2.out || fail "talvex -t exited $?"
    grep -qF "File: jpg#vault.tvx is NOT a valid 'Talvex Encryption' file!" t2.out ||
      fail "-t accepted another key: $(cat t2.out)"
    "$tool" -d key.bin 'jpg#vault.tvx' restored >d.out || fail "talvex -d exited $?"
    grep -qF "Talvex Decryption was successful!" d.out || fail "no success line from -d: $(cat d.out)"
    cmp photo.jpg restored.jpg || fail "restored.jpg differs from photo.jpg"
  )
  "$tool" -h | grep -qF "v $version" || fail "the banner of $tool does not name version $version"
  echo "round trip with $tool: encrypted, tested, decrypted, equal"
}

case "$check" in
install)
  root=$work/root
  DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
  [ -x "$root/usr/bin/talvex" ] || fail "no usr/bin/talvex installed"
  [ -f "$root/usr/share/man/man1/talvex.1" ] || fail "no usr/share/man/man1/talvex.1 installed"
  cmp "$root/usr/share/man/man1/talvex.1" "$source/doc/talvex.1" || fail "installed manual page differs"
  round_trip "$root/usr/bin/talvex"
  ;;

manual)
  need groff
  page=$source/doc/talvex.1
  groff -man -ww -z "$page" >"$work/groff.out" 2>&1
  [ ! -s "$work/groff.out" ] || fail "groff warns: $(cat "$work/groff.out")"
  echo "groff -man -ww -z: no warnings"
  if command -v mandoc >/dev/null 2>&1; then
    mandoc -T lint "$page" >"$work/mandoc.out" 2>&1 || true
    [ ! -s "$work/mandoc.out" ] || fail "mandoc warns: $(cat "$work/mandoc.out")"
    echo "mandoc -T lint: no warnings"
  else
    need mandoc
  fi
  grep -q "^\.TH TALVEX 1 .* \"talvex $version\" " "$page" || fail "the page's title line does not name talvex $version"
  # The page as text, one line per paragraph.
  groff -man -Tascii -rLL=250n -rHY=0 -P-cbou "$page" >"$work/page.txt" 2>/dev/null
  for word in '-e' '-d' '-t' '-i' '-h' NO_COLOR FORCE_COLOR CLICOLOR_FORCE TERM \
              'EXIT STATUS' 217 FILES SECURITY 'OUTPUT NAMES' 'doc#out.tvx' 'report.doc'; do
    grep -qF -e "$word" "$work/page.txt" || fail "the page does not mention $word"
  done
  # Texts the page quotes, as the tool really prints them.
  tool=$build/talvex
  usage=$("$tool" -h | grep '^Usage: ') || fail "no usage line in talvex -h"
  grep -qF -e "$usage" "$work/page.txt" || fail "the page does not quote the usage line: $usage"
  mkdir "$work/key"
  head -c 4096 /dev/zero >"$work/key/key.bin"
  size_line=$(cd "$work/key" && "$tool" -t key.bin missing.tvx | grep '^KEYFILE SIZE: ') ||
    fail "no key size line from talvex -t"
  grep -qF -e "$size_line" "$work/page.txt" || fail "the page does not quote the key size line: $size_line"
  echo "manual page names every command word and quotes the tool's texts"
  ;;

deb)
  need cpack dpkg-deb dpkg-shlibdeps file
  cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    fail "cpack -G DEB failed: $(cat "$work/cpack.log")"
  deb=$(ls "$work"/out/talvex_"$version"_*.deb) || fail "no talvex_${version}_*.deb made"
  dpkg-deb -c "$deb" >"$work/contents"
  for file in ./usr/bin/talvex ./usr/share/man/man1/talvex.1.gz; do
    grep -q " $file\$" "$work/contents" || fail "$deb lacks $file: $(cat "$work/contents")"
  done
  [ "$(dpkg-deb -f "$deb" Package)" = talvex ] || fail "package name is not talvex"
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
  depends=$(dpkg-deb -f "$deb" Depends)
  for lib in libc6 libstdc++6; do
    echo "$depends" | grep -q "$lib (>= " || fail "Depends lacks $lib: $depends"
  done
  dpkg-deb -x "$deb" "$work/root"
  gzip -dc "$work/root/usr/share/man/man1/talvex.1.gz" | cmp - "$source/doc/talvex.1" ||
    fail "packed manual page differs from doc/talvex.1"
  file "$work/root/usr/bin/talvex" | grep -q ', stripped' || fail "packed talvex is not stripped"
  echo "$(basename "$deb"): $(wc -c <"$deb") bytes; Depends: $depends"
  round_trip "$work/root/usr/bin/talvex"
  ;;

zip)
  need cpack
  [ -n "$windows_build" ] || give_up "no Windows build directory given"
  [ -f "$windows_build/talvex.exe" ] || give_up "no Windows build at $windows_build (run scripts/build-windows.sh)"
  [ -f "$windows_build/CPackConfig.cmake" ] || give_up "no CPackConfig.cmake in $windows_build (run scripts/build-windows.sh)"
  cpack -G ZIP --config "$windows_build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    fail "cpack -G ZIP failed: $(cat "$work/cpack.log")"
  zip=$work/out/talvex-$version-win64.zip
  [ -f "$zip" ] || fail "no talvex-$version-win64.zip made: $(ls "$work/out")"
  mkdir "$work/unpacked"
  (cd "$work/unpacked" && cmake -E tar xf "$zip")
  top=$work/unpacked/talvex-$version-win64
  [ -f "$top/README.md" ] || fail "the zip lacks talvex-$version-win64/README.md"
  cmp "$top/talvex.exe" "$windows_build/talvex.exe" || fail "the zip's talvex.exe is not the Windows build"
  [ "$(head -c 2 "$top/talvex.exe")" = MZ ] || fail "the zip's talvex.exe is no Windows executable"
  cmp "$top/README.md" "$source/README.md" || fail "the zip's README.md differs"
  echo "$(basename "$zip"): $(wc -c <"$zip") bytes: talvex.exe, README.md"
  ;;

*)
  fail "unknown check (install, manual, deb or zip)"
  ;;
esac
