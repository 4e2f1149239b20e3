#!/bin/sh
# Checks of what users install: the installed tree, the manual page, the
# bash completion, the .deb, the Windows .zip and the release files.
# Usage: package_checks.sh CHECK BUILD_DIR SOURCE_DIR VERSION [WINDOWS_BUILD_DIR]
#   install     cmake --install into a DESTDIR: every file in place; round
#               trip with the installed tool; README's install from source
#               right after scripts/demo.sh, and its uninstall
#   manual      the manual page the build dated: groff and mandoc lint, the
#               texts it quotes from the tool match what the tool prints,
#               the command lines of EXIT STATUS and EXAMPLES print what
#               the page shows, its date from SOURCE_DATE_EPOCH, the last
#               commit or the changelog
#   completion  the bash completion's candidates, asked as bash asks
#   deb         cpack -G DEB: its files, dependencies, version, changelog
#               and licence; made twice, the same bytes, every time stamp
#               the source's; round trip with the packed tool; installed
#               and removed by dpkg in a root of its own, nothing left
#   lintian     lintian on the .deb: no error, no warning
#   zip         cpack -G ZIP of the Windows cross build: talvex.exe with its
#               version resource and manifest, README.txt, MANUAL.txt and
#               LICENSE
#   release     scripts/package.sh, run twice: the same files both times,
#               all of them there, SHA256SUMS right; each tarball's files,
#               owners and dates, its static binary alone in an empty root
#               round-trips a file (aarch64's under qemu-user, the static
#               emulator beside it and no sysroot); the arm64 .deb's
#               architecture, contents, dependencies and lintian
#   readme      README.md: at most 250 lines, its transcripts print what
#               it shows, its key recipe run twice keeps the first key
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

# Makes the .deb in folder $1 and names it in $deb.
make_deb() {
  cpack -G DEB --config "$build/CPackConfig.cmake" -B "$1" >"$work/cpack.log" 2>&1 ||
    fail "cpack -G DEB failed: $(cat "$work/cpack.log")"
  deb=$(ls "$1"/talvex_"$version"_*.deb) || fail "no talvex_${version}_*.deb made"
}

# Encrypts, tests and decrypts a sample with the talvex at $1 and compares
# the result with the original; a key of another file must not pass. The
# files are made in folder $2 (a folder of their own by default).
round_trip() {
  tool=$1
  dir=${2:-$work/round_trip}
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

# README's install from source, in a fresh copy of the source tree: its
# first block (scripts/demo.sh, then cmake --install into ~/.local) run
# as written, with HOME a folder of the check's own; then its second
# block, which must take away every file that the install put there.
# Lintian on a .deb: no error, no warning. Informational tags may stay;
# lintian's advice not to run it as root is no finding about the package.
lintian_clean() {
  status=0
  lintian --fail-on error,warning --display-info "$1" >"$work/lintian.out" 2>&1 || status=$?
  if grep -v -e '^[IPX]: ' -e '^running with root privileges is not recommended!$' "$work/lintian.out" ||
      [ "$status" != 0 ]; then
    fail "lintian on $(basename "$1") (exit $status): $(cat "$work/lintian.out")"
  fi
  echo "lintian $(basename "$1"): no error, no warning"
  cat "$work/lintian.out"
}

install_after_demo() {
  need git
  clone=$work/clone home=$work/home
  mkdir -p "$clone" "$home"
  (cd "$source" && git ls-files -z --cached --others --exclude-standard |
    xargs -0 sh -c 'for f; do [ ! -f "$f" ] || cp --parents -p "$f" "$0" || exit 1; done' "$clone") ||
    fail "could not copy the source tree's files (git ls-files)"
  awk '/^### From source$/ { inside = 1; next } /^##/ { inside = 0 }
       inside && /^```sh$/ { block++; code = 1; next } /^```$/ { code = 0 }
       inside && code { print > (dir "/from_source" block ".sh") }' dir="$work" "$source/README.md"
  [ -s "$work/from_source1.sh" ] && [ -s "$work/from_source2.sh" ] ||
    fail "README.md's From source shows no install and uninstall blocks"
  grep -q '^sh scripts/demo.sh' "$work/from_source1.sh" || fail "README.md's install does not start with the demo"
  (cd "$clone" && HOME=$home sh -e "$work/from_source1.sh") >"$work/from_source.log" 2>&1 ||
    fail "README's install after the demo failed: $(grep -v -e "^[*0]" -e "^$" "$work/from_source.log" | tail -n 12)"
  prefix=$home/.local
  for file in bin/talvex share/man/man1/talvex.1 share/bash-completion/completions/talvex \
              share/doc/talvex/copyright share/doc/talvex/changelog; do
    [ -f "$prefix/$file" ] || fail "README's install after the demo put no $file in ~/.local"
  done
  "$prefix/bin/talvex" -h | grep -qF "v $version" || fail "the talvex installed after the demo is not version $version"
  if command -v man >/dev/null 2>&1; then
    found=$(cd "$home" && HOME=$home PATH="$prefix/bin:/usr/bin:/bin" MANPATH='' man -w talvex 2>&1) || true
    [ "$found" = "$prefix/share/man/man1/talvex.1" ] ||
      fail "with ~/.local/bin on PATH, man finds '$found', not the page installed there"
  fi
  (cd "$clone" && HOME=$home sh -e "$work/from_source2.sh") >>"$work/from_source.log" 2>&1 ||
    fail "README's uninstall failed: $(tail -n 20 "$work/from_source.log")"
  left=$(find "$prefix" ! -type d -o -name '*talvex*' | head -n 5)
  [ -z "$left" ] || fail "README's uninstall left $left"
  echo "README's install right after scripts/demo.sh, in a fresh copy of the source: every file in ~/.local, all gone after its uninstall"
}

# The .deb installed and removed again, as README's `apt-get install` and
# `apt-get remove talvex` do: apt-get hands both to dpkg, which works here
# in a root of its own, so that the machine's own packages stay as they
# are. The removal must take away every file and folder of the package.
installed_and_removed() {
  need dpkg
  root=$work/dpkg_root
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
  : >"$root/var/lib/dpkg/status"
  : >"$root/var/lib/dpkg/available"
  dpkg --root="$root" --force-depends --force-script-chrootless -i "$1" >"$work/dpkg.log" 2>&1 ||
    fail "dpkg -i failed: $(cat "$work/dpkg.log")"
  [ -x "$root/usr/bin/talvex" ] || fail "dpkg -i installed no usr/bin/talvex"
  dpkg --root="$root" --force-script-chrootless -r talvex >"$work/dpkg.log" 2>&1 ||
    fail "dpkg -r talvex failed: $(cat "$work/dpkg.log")"
  left=$(find "$root" -path "$root/var" -prune -o ! -path "$root" -print | head -n 5)
  [ -z "$left" ] || fail "removing the package left $left"
  echo "$(basename "$1") installed and removed again: nothing left"
}

case "$check" in
install)
  root=$work/root
  DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
  [ -x "$root/usr/bin/talvex" ] || fail "no usr/bin/talvex installed"
  for file in man/man1/talvex.1 bash-completion/completions/talvex doc/talvex/copyright \
              doc/talvex/changelog; do
    [ -f "$root/usr/share/$file" ] || fail "no usr/share/$file installed"
  done
  cmp "$root/usr/share/man/man1/talvex.1" "$build/doc/talvex.1" || fail "installed manual page differs"
  cmp "$root/usr/share/bash-completion/completions/talvex" "$source/completion/talvex.bash" ||
    fail "installed bash completion differs"
  cmp "$root/usr/share/doc/talvex/copyright" "$build/doc/copyright" || fail "installed copyright differs"
  round_trip "$root/usr/bin/talvex"
  install_after_demo
  ;;

manual)
  need groff
  page=$build/doc/talvex.1
  [ -f "$page" ] || fail "no $page: the build makes it from doc/talvex.1.in"
  ! grep -n '@[A-Z_]*@' "$page" || fail "the page keeps placeholders of its template"
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
  grep -q "^\.TH TALVEX 1 [0-9]\{4\}-[0-9][0-9]-[0-9][0-9] \"talvex $version\" " "$page" ||
    fail "the page's title line does not give a date and talvex $version: $(grep '^\.TH' "$page")"
  # Its date: SOURCE_DATE_EPOCH, else the last commit, else the newest
  # entry of the changelog; never the clock.
  dated() {  # SOURCE_DATE_EPOCH, git or '' -> the date on the page made
    SOURCE_DATE_EPOCH=$1 cmake -DSOURCE_DIR="$source" -DGIT="$2" -DVERSION="$version" \
      -DTEMPLATE="$source/doc/talvex.1.in" -DPAGE="$work/dated.1" -DEPOCH_FILE="$work/epoch" \
      -P "$source/cmake/source_date.cmake" >/dev/null || fail "cmake/source_date.cmake failed"
    sed -n 's/^\.TH TALVEX 1 \([^ ]*\) .*/\1/p' "$work/dated.1"
  }
  for row in 0:1970-01-01 951782400:2000-02-29 951868799:2000-02-29 1796688000:2026-12-08; do
    epoch=${row%%:*} want=${row#*:}
    got=$(dated "$epoch" "")
    [ "$got" = "$want" ] || fail "SOURCE_DATE_EPOCH=$epoch dates the page $got, not $want"
    [ "$(cat "$work/epoch")" = "$epoch" ] || fail "SOURCE_DATE_EPOCH=$epoch recorded as $(cat "$work/epoch")"
  done
  released=$(sed -n 's/^ -- .*>  //p' "$source/doc/changelog" | head -n 1)
  released=$(date -u -d "$released" +%F) || fail "doc/changelog's newest entry has no date"
  got=$(dated "" "")
  [ "$got" = "$released" ] || fail "without git the page is dated $got, not $released"
  git=$(command -v git || true)
  if [ -n "$git" ] && [ "$(git -C "$source" rev-parse --show-prefix 2>/dev/null || echo none)" = "" ]; then
    committed=$(TZ=UTC git -C "$source" log -1 --date=format-local:%F --format=%cd)
    got=$(dated "" "$git")
    [ "$got" = "$committed" ] || fail "the page is dated $got, not by the last commit, $committed"
    echo "page dated by SOURCE_DATE_EPOCH, the last commit ($committed) or the changelog ($released)"
  else
    echo "page dated by SOURCE_DATE_EPOCH or the changelog ($released); no git checkout to date it by"
  fi
  # The page as text, one line per paragraph.
  groff -man -Tascii -rLL=250n -rHY=0 -P-cbou "$page" >"$work/page.txt" 2>/dev/null
  for word in '-e' '-d' '-t' '-i' '-h' NO_COLOR FORCE_COLOR CLICOLOR_FORCE TERM \
              'EXIT STATUS' 217 FILES SECURITY 'OUTPUT NAMES' 'doc#out.tvx' 'report.doc' \
              COPYRIGHT 'MIT licence' /usr/share/bash-completion/completions/talvex \
              "$(grep '^Copyright ' "$source/LICENSE")"; do
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
  # The command lines that EXAMPLES and EXIT STATUS show after "$ ", run in
  # that order (EXAMPLES makes the key) in a folder of their own, print what
  # the page shows under them: blank lines aside, any code addresses in a
  # failure report ("  ..." stands for more of them). A transcript is an
  # example block whose first line is a command. The folder starts with
  # what the page takes as given: photo.jpg, and a locked.jpg that the user
  # may not read (as nobody when run as root, whom no mode keeps out).
  for section in EXAMPLES 'EXIT STATUS'; do
    awk -v section=".SH $section" '
      /^\.SH/ { inside = ($0 == section) }
      inside && /^\.EX$/ { block = ""; lines = 0; next }
      inside && /^\.EE$/ { if (first ~ /^\$ /) printf "%s", block; lines = -1; next }
      inside && lines >= 0 { if (lines++ == 0) first = $0; block = block $0 "\n" }
      { if (!inside) lines = -1 }' lines=-1 "$page"
  done | sed "s/\\\\-/-/g; s/\\\\(aq/'/g" >"$work/transcript"
  shown() { sed 's/\$[0-9A-F]\{8,16\}/$ADDRESS/g' | grep -v -e '^$' -e '^  \.\.\.$' | uniq; }
  grep -v '^\$ ' "$work/transcript" | shown >"$work/shown"
  {
    echo 'head -c 300000 /dev/urandom >photo.jpg'
    echo 'cp photo.jpg locked.jpg; chmod 0 locked.jpg'
    sed -n 's/^\$ //p' "$work/transcript"
  } >"$work/examples.sh"
  [ "$(grep -c '^talvex ' "$work/examples.sh")" -ge 5 ] || fail "EXAMPLES and EXIT STATUS show no transcript"
  grep -q '^(set -C; head -c [0-9]* /dev/urandom > key.bin)$' "$work/examples.sh" ||
    fail "EXAMPLES makes no key, or makes it in a way that may write over one"
  as_user=""
  if [ "$(id -u)" = 0 ]; then
    need setpriv
    as_user="setpriv --reuid=nobody --regid=nogroup --clear-groups"
  fi
  mkdir -p "$work/examples/bin"
  cp "$build/talvex" "$work/examples/bin/talvex"
  chmod 755 "$work" && chmod 777 "$work/examples" && chmod 644 "$work/examples.sh"
  (cd "$work/examples" && PATH="$PWD/bin:$PATH" $as_user sh "$work/examples.sh" 2>&1) | shown >"$work/printed"
  diff "$work/shown" "$work/printed" >"$work/examples.diff" ||
    fail "the tool does not print what EXIT STATUS and EXAMPLES show (<: page, >: tool): $(cat "$work/examples.diff")"
  echo "manual page names every command word and quotes the tool's texts; its examples run as shown"
  ;;

deb)
  need cpack dpkg-deb dpkg-shlibdeps dpkg-parsechangelog file ar tar
  # Made twice in two folders, under umask 077 both times: the package must
  # neither follow the umask (folders no user could open) nor differ.
  umask 077
  make_deb "$work/out1"
  first=$deb
  make_deb "$work/out2"
  dpkg-deb -c "$deb" >"$work/contents"
  for file in ./usr/bin/talvex ./usr/share/man/man1/talvex.1.gz \
              ./usr/share/bash-completion/completions/talvex \
              ./usr/share/doc/talvex/copyright ./usr/share/doc/talvex/changelog.gz; do
    grep -q " $file\$" "$work/contents" || fail "$deb lacks $file: $(cat "$work/contents")"
  done
  ! grep -v -e '^drwxr-xr-x root/root ' -e '^-rw-r--r-- root/root ' -e '^-rwxr-xr-x root/root ' \
    "$work/contents" || fail "files above are not root's, or not readable by all"
  [ "$(dpkg-deb -f "$deb" Package)" = talvex ] || fail "package name is not talvex"
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
  depends=$(dpkg-deb -f "$deb" Depends)
  # Each there, and no newer than README.md says (Debian 12, Ubuntu 22.04).
  for lib in libc6:2.34 libstdc++6:12; do
    wanted=$(echo "$depends" | tr ',' '\n' | sed -n "s/^ *${lib%:*} (>= \(.*\))\$/\1/p")
    [ -n "$wanted" ] && dpkg --compare-versions "$wanted" le "${lib#*:}" ||
      fail "Depends asks for no ${lib%:*}, or one newer than README.md's ${lib#*:}: $depends"
  done
  umask 022
  dpkg-deb -x "$deb" "$work/root"
  doc=$work/root/usr/share/doc/talvex
  gzip -dc "$work/root/usr/share/man/man1/talvex.1.gz" | cmp - "$build/doc/talvex.1" ||
    fail "packed manual page differs from the build's"
  cmp "$work/root/usr/share/bash-completion/completions/talvex" "$source/completion/talvex.bash" ||
    fail "packed bash completion differs"
  # The copyright file states LICENSE's copyright line and terms.
  grep -qxF "Copyright: $(sed -n 's/^Copyright (c) //p' "$source/LICENSE")" "$doc/copyright" ||
    fail "the copyright file lacks LICENSE's copyright line"
  sed -n '/^Permission is hereby granted/,$p' "$source/LICENSE" >"$work/terms"
  sed -n '/^License: Expat$/,$p' "$doc/copyright" | tail -n +2 | sed 's/^ //; s/^\.$//' |
    cmp - "$work/terms" || fail "the copyright file's terms are not LICENSE's"
  gzip -dc "$doc/changelog.gz" >"$work/changelog"
  [ "$(dpkg-parsechangelog -l "$work/changelog" -S Version)" = "$version" ] ||
    fail "the changelog's newest entry is not version $version"
  # gzip -n: no name and no time in the header, so the same bytes each time.
  for gz in "$doc/changelog.gz" "$work/root/usr/share/man/man1/talvex.1.gz"; do
    [ "$(od -An -tx1 -j3 -N5 "$gz" | tr -d ' \n')" = 0000000000 ] || fail "$gz carries a name or a time"
  done
  # Every time stamp is the source's.
  epoch=${SOURCE_DATE_EPOCH:-$(cat "$build/source_date_epoch")}
  stamp=$(date -u -d "@$epoch" '+%Y-%m-%d %H:%M:%S')
  ! dpkg-deb --fsys-tarfile "$deb" | tar -tv --full-time --utc | grep -vF " $stamp ./" ||
    fail "files above are not stamped $stamp (SOURCE_DATE_EPOCH=$epoch)"
  ! LC_ALL=C TZ=UTC ar tv "$deb" | grep -vF " $(LC_ALL=C date -u -d "@$epoch" '+%b %e %H:%M %Y') " ||
    fail "archive members above are not stamped $stamp"
  cmp "$first" "$deb" || fail "two packages of the same build differ"
  echo "$(basename "$deb"): $(wc -c <"$deb") bytes, made twice the same, stamped $stamp; Depends: $depends"
  round_trip "$work/root/usr/bin/talvex"
  [ "$(id -u)" = 0 ] || give_up "dpkg installs and removes a package only as root (the checks above passed)"
  installed_and_removed "$deb"
  ;;

lintian)
  need cpack lintian
  make_deb "$work/out"
  lintian_clean "$deb"
  ;;

completion)
  need bash
  files=$work/files
  mkdir -p "$files/sub dir" "$files/old.tvx"
  for name in a.tvx B.TVX 'my file.Tvx' 'x:y.tvx' notes.txt key.bin 'k=1.bin' \
              'sub dir/inner.tvx' 'sub dir/inner.txt'; do
    : >"$files/$name"
  done
  all='B.TVX|a.tvx|k=1.bin|key.bin|my file.Tvx|notes.txt|old.tvx|sub dir|x:y.tvx'
  encrypted='B.TVX|a.tvx|my file.Tvx|old.tvx|sub dir|x:y.tvx'
  # Each row: the line up to the cursor # the candidates, sorted, joined by
  # |. COMP_WORDS is split at blanks only here: the script reads COMP_LINE.
  while IFS='#' read -r line want; do
    got=$(cd "$files" && bash -c '
      source "$1" || exit 1
      COMP_LINE=$2 COMP_POINT=${#2}
      read -ra COMP_WORDS <<<"$2"
      case $2 in *" ") COMP_WORDS+=("") ;; esac
      COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
      _talvex talvex "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
      [ ${#COMPREPLY[@]} = 0 ] || printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd "|"
    ' sh "$source/completion/talvex.bash" "$line") || fail "completing '$line' failed"
    [ "$got" = "$want" ] || fail "completing '$line' offers '$got', not '$want'"
  done <<ROWS
talvex #-d|-e|-h|-i|-t
talvex -#-d|-e|-h|-i|-t
talvex -t#-t
talvex -d #$all
talvex -d key #$encrypted
talvex -t key #$encrypted
talvex -t k=1.bin #$encrypted
talvex -d key my#my file.Tvx
talvex -d key 'my f#my file.Tvx
talvex -d key "my f#my file.Tvx
talvex -d key my\\ f#my file.Tvx
talvex -d key x:#y.tvx
talvex -d key sub\\ dir/#sub dir/inner.tvx
talvex -d key n#
talvex -d key a.tvx #$all
talvex -e #$all
talvex -e key #$all
talvex -e key notes.txt #$all
ROWS
  echo "bash completion: command words, .tvx files and folders after -d and -t, files elsewhere"
  ;;

zip)
  need cpack x86_64-w64-mingw32-windres groff
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
  for file in README.txt MANUAL.txt LICENSE talvex.exe; do
    [ -f "$top/$file" ] || fail "the zip lacks talvex-$version-win64/$file"
  done
  cmp "$top/talvex.exe" "$windows_build/talvex.exe" || fail "the zip's talvex.exe is not the Windows build"
  [ "$(head -c 2 "$top/talvex.exe")" = MZ ] || fail "the zip's talvex.exe is no Windows executable"
  # The readme, the manual and the licence: CR LF throughout, as Notepad
  # reads them; the manual is the Windows build's page as text.
  for file in LICENSE README.txt MANUAL.txt; do
    [ "$(grep -c "$(printf '\r')\$" "$top/$file")" = "$(wc -l <"$top/$file")" ] &&
      [ -z "$(tail -c 1 "$top/$file" | tr -d '\n')" ] || fail "$file has lines that do not end in CR LF"
  done
  tr -d '\r' <"$top/LICENSE" | cmp - "$source/LICENSE" || fail "the zip's LICENSE differs"
  groff -man -T ascii -P -cbou -rHY=0 "$windows_build/doc/talvex.1" >"$work/manual.txt" &&
    tr -d '\r' <"$top/MANUAL.txt" | cmp - "$work/manual.txt" || fail "the zip's MANUAL.txt is not the manual page"
  # The Windows readme: filled in, and telling what a Windows user needs,
  # in the tool's own words where it quotes them (the wine suite runs its
  # examples).
  readme=$top/README.txt
  ! grep -n '@[A-Z_]*@' "$readme" || fail "README.txt keeps placeholders of its template"
  tr -d '\r' <"$readme" >"$work/readme.txt"
  for text in "talvex $version for Windows" 'talvex.exe -e KEYFILE INPUTFILE OUTPUTFILE.tvx' \
              'talvex.exe -d KEYFILE INPUTFILE.tvx OUTPUTFILE' 'talvex.exe -t KEYFILE INPUTFILE.tvx' \
              'PS C:\work> if (Test-Path key.bin) {' 'C:\work>if exist key.bin (' \
              'PS C:\work> .\talvex.exe -e key.bin photo.jpg vault.tvx' "TalvexCMD v $version" \
              '"Cannot write to OUTPUTFILE: "' 'To remove talvex, delete the folder.' \
              'Security' 'no integrity check' 'MIT licence' 'talvex(1)' 'MANUAL.txt'; do
    grep -qF -e "$text" "$work/readme.txt" || fail "README.txt does not say $text"
  done
  # The version resource, read back from the executable's UTF-16 strings.
  x86_64-w64-mingw32-windres -J coff -O rc -i "$top/talvex.exe" >"$work/resource.rc" 2>&1 ||
    fail "no resources in talvex.exe: $(cat "$work/resource.rc")"
  numbers=$(echo "$version" | awk -F. '{ printf "%d, %d, %d, %d", $1, $2, $3, $4 }')
  sed 's/^ *//' "$work/resource.rc" >"$work/resource.lines"
  for line in "FILEVERSION $numbers" "PRODUCTVERSION $numbers" \
              'VALUE "ProductName", "talvex"' "VALUE \"ProductVersion\", \"$version\"" \
              "VALUE \"FileVersion\", \"$version\"" \
              "VALUE \"LegalCopyright\", \"$(grep '^Copyright ' "$source/LICENSE"), MIT License\""; do
    grep -qxF -e "$line" "$work/resource.lines" || fail "the version resource lacks $line: $(cat "$work/resource.rc")"
  done
  # The application manifest, resource 1 of type 24 (RT_MANIFEST), as
  # Windows reads it when it starts the program: each element in the
  # namespace Windows looks for it in, or Windows ignores it.
  sed -n '/^1 24 /,/^END$/s/^ *"\(.*\)"$/\1/p' "$work/resource.rc" |
    sed 's/""/"/g; s/\\n$//; s/\\\\/\\/g' >"$work/manifest.xml"
  [ "$(head -n 1 "$work/manifest.xml")" = '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>' ] &&
    [ "$(tail -n 1 "$work/manifest.xml")" = '</assembly>' ] ||
    fail "talvex.exe has no whole application manifest: $(cat "$work/resource.rc")"
  sed 's/^ *//' "$work/manifest.xml" | tr '\n' ' ' | sed 's/  */ /g' >"$work/manifest.line"
  for element in \
      '<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">' \
      "<assemblyIdentity type=\"win32\" name=\"talvex\" processorArchitecture=\"amd64\" version=\"$(echo "$numbers" | tr -d ' ' | tr , .)\"/>" \
      '<compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1"> <application> <supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/> </application> </compatibility>' \
      '<application xmlns="urn:schemas-microsoft-com:asm.v3"> <windowsSettings>' \
      '<longPathAware xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">true</longPathAware>' \
      '<activeCodePage xmlns="http://schemas.microsoft.com/SMI/2019/WindowsSettings">UTF-8</activeCodePage>' \
      '<requestedExecutionLevel level="asInvoker" uiAccess="false"/>'; do
    grep -qF -e "$element" "$work/manifest.line" || fail "the manifest lacks $element: $(cat "$work/manifest.xml")"
  done
  echo "$(basename "$zip"): $(wc -c <"$zip") bytes: talvex.exe with its version resource and manifest" \
    "(Windows 10 and 11, long paths, UTF-8), README.txt and MANUAL.txt (CR LF), LICENSE"
  ;;

readme)
  # README.md, the front page: at most 250 lines, and every example a
  # transcript (a ```console block: "$ " and a command, then what it
  # prints) that, run in that order by bash in a folder of its own holding
  # photo.jpg, prints what the page shows: blank lines and blanks at the
  # ends of lines aside.
  need bash
  readme=$source/README.md
  lines=$(wc -l <"$readme")
  [ "$lines" -le 250 ] || fail "README.md has $lines lines; the front page keeps to 250"
  ! grep -o 'talvex[-_][0-9][0-9.]*[0-9]' "$readme" | grep -v -x -e "talvex-$version" -e "talvex_$version" ||
    fail "README.md names the release files of another version than $version"
  awk '/^```console$/ { inside = 1; next } /^```/ { inside = 0 } inside' "$readme" >"$work/transcript"
  for word in -e -d -t -i -h; do
    grep -q "^\$ talvex $word" "$work/transcript" || fail "README.md shows no transcript of talvex $word"
  done
  ! grep -n -v -e '^\$ ' "$readme" | grep -n -e '^[0-9]*:\$ ' >/dev/null ||
    fail "README.md shows a command outside a transcript"
  shown() { sed 's/[[:blank:]]*$//' | grep -v '^$'; }
  grep -v '^\$ ' "$work/transcript" | shown >"$work/shown"
  sed -n 's/^\$ //p' "$work/transcript" >"$work/commands.sh"
  mkdir -p "$work/readme/bin"
  cp "$build/talvex" "$work/readme/bin/talvex"
  head -c 300000 /dev/urandom >"$work/readme/photo.jpg"
  # Each command by a bash of its own, in a folder of its own holding
  # photo.jpg; a failing command shows what it printed.
  (cd "$work/readme" && PATH="$PWD/bin:$PATH" &&
    while IFS= read -r command; do bash -c "$command" </dev/null || true; done <"$work/commands.sh" 2>&1) |
    shown >"$work/printed"
  diff "$work/shown" "$work/printed" >"$work/readme.diff" ||
    fail "the tool does not print what README.md shows (<: README, >: printed): $(cat "$work/readme.diff")"
  echo "README.md: $lines lines; its $(wc -l <"$work/commands.sh") commands print what it shows"
  # The key recipe, the same on the page and in the manual's EXAMPLES, run
  # twice by sh and by bash: the first run makes a key, the second fails,
  # says why, and keeps it.
  recipe=$(sed -n 's/^\$ \((set -C; .* > key\.bin)\)$/\1/p' "$work/transcript" | head -n 1)
  [ -n "$recipe" ] || fail "README.md shows no key recipe that refuses to write over a key"
  sed "s/\\\\-/-/g" "$build/doc/talvex.1" | grep -qxF "\$ $recipe" ||
    fail "the manual's EXAMPLES make the key otherwise than README.md: $recipe"
  for shell in sh bash; do
    mkdir "$work/key_$shell"
    (cd "$work/key_$shell" && $shell -c "$recipe") >"$work/first.out" 2>&1 ||
      fail "$shell: the key recipe failed where no key stood: $(cat "$work/first.out")"
    [ ! -s "$work/first.out" ] || fail "$shell: the key recipe said $(cat "$work/first.out")"
    [ "$(wc -c <"$work/key_$shell/key.bin")" = 1000000 ] || fail "$shell: the key recipe made no 1,000,000-byte key"
    made=$(cksum <"$work/key_$shell/key.bin")
    if (cd "$work/key_$shell" && $shell -c "$recipe") >"$work/second.out" 2>&1; then
      fail "$shell: the key recipe, run again, did not fail"
    fi
    grep -q 'key\.bin' "$work/second.out" || fail "$shell: the key recipe, run again, did not say why it stopped"
    [ "$shell" = sh ] || grep -qF 'key.bin: cannot overwrite existing file' "$work/second.out" ||
      fail "bash refused the key otherwise than README.md says: $(cat "$work/second.out")"
    [ "$(cksum <"$work/key_$shell/key.bin")" = "$made" ] || fail "$shell: the key recipe, run again, changed the key"
    echo "key recipe run twice by $shell: one key, kept; then: $(cat "$work/second.out")"
  done
  ;;

release)
  need sha256sum tar gzip file readelf chroot dpkg-deb lintian cmp
  [ "$(id -u)" = 0 ] || give_up "chroot into an empty root needs root"
  # The release files, made twice: the same commit, the same bytes.
  for run in first second; do
    sh "$source/scripts/package.sh" "$work/$run" >"$work/$run.log" 2>&1 ||
      fail "scripts/package.sh failed: $(tail -n 30 "$work/$run.log")"
  done
  out=$work/first
  files="SHA256SUMS talvex-$version-linux-aarch64.tar.gz talvex-$version-linux-x86_64.tar.gz
    talvex-$version-win64.zip talvex_${version}_amd64.deb talvex_${version}_arm64.deb"
  for file in $files; do
    [ -f "$out/$file" ] ||
      give_up "scripts/package.sh made no $file: $(grep SKIPPED "$work/first.log" || ls "$out")"
  done
  [ "$(ls "$out" | tr '\n' ' ')" = "$(echo $files | tr ' ' '\n' | LC_ALL=C sort | tr '\n' ' ')" ] ||
    fail "the release files are not $(echo $files): $(ls "$out")"
  for file in $files; do
    cmp "$out/$file" "$work/second/$file" || fail "$file differs between two runs of scripts/package.sh"
  done
  [ "$(ls "$work/second" | tr '\n' ' ')" = "$(ls "$out" | tr '\n' ' ')" ] ||
    fail "the second run made other files: $(ls "$work/second")"
  (cd "$out" && sha256sum --strict -c SHA256SUMS >"$work/sums.out" 2>&1) ||
    fail "sha256sum -c SHA256SUMS: $(cat "$work/sums.out")"
  [ "$(sed 's/^[0-9a-f]\{64\}  //' "$out/SHA256SUMS" | tr '\n' ' ')" = \
    "$(echo $files | tr ' ' '\n' | grep -vx SHA256SUMS | LC_ALL=C sort | tr '\n' ' ')" ] ||
    fail "SHA256SUMS does not list each other release file once: $(cat "$out/SHA256SUMS")"
  echo "release files made twice, the same bytes; sha256sum -c SHA256SUMS: $(grep -c ': OK$' "$work/sums.out") OK"

  # The tarballs: one folder, the static binary and its files, root's,
  # dated by the commit, their gzip header free of names and times.
  epoch=${SOURCE_DATE_EPOCH:-$(cat "$source/build-pkg/source_date_epoch")}
  stamp=$(date -u -d "@$epoch" '+%Y-%m-%d %H:%M:%S')
  for arch in x86_64 aarch64; do
    name=talvex-$version-linux-$arch
    tarball=$out/$name.tar.gz
    [ "$(od -An -tx1 -j3 -N5 "$tarball" | tr -d ' \n')" = 0000000000 ] || fail "$name.tar.gz carries a name or a time"
    tar -tvzf "$tarball" --full-time --utc | awk '{ print $1, $2, $4, $5, $6 }' >"$work/listing"
    cat >"$work/wanted" <<LISTING
drwxr-xr-x 0/0 $stamp $name/
-rw-r--r-- 0/0 $stamp $name/LICENSE
-rw-r--r-- 0/0 $stamp $name/README.md
-rwxr-xr-x 0/0 $stamp $name/talvex
-rw-r--r-- 0/0 $stamp $name/talvex.1
-rw-r--r-- 0/0 $stamp $name/talvex.bash
LISTING
    diff "$work/wanted" "$work/listing" >"$work/listing.diff" ||
      fail "$name.tar.gz does not hold what it should (<: wanted, >: held): $(cat "$work/listing.diff")"
    root=$work/root-$arch
    mkdir "$root"
    tar -xzf "$tarball" -C "$root" --strip-components=1
    cmp "$root/talvex.1" "$build/doc/talvex.1" || fail "$name's manual page differs from the build's"
    cmp "$root/talvex.bash" "$source/completion/talvex.bash" || fail "$name's bash completion differs"
    cmp "$root/LICENSE" "$source/LICENSE" || fail "$name's LICENSE differs"
    cmp "$root/README.md" "$source/README.md" || fail "$name's README.md differs"
    case $arch in
      x86_64) machine=x86-64 starter="" ;;
      aarch64) machine="ARM aarch64" starter=/qemu-aarch64-static ;;
    esac
    described=$(file -b "$root/talvex")
    for word in "ELF 64-bit" "$machine" "statically linked" ", stripped"; do
      case $described in *"$word"*) ;; *) fail "$name's talvex is not $word: $described" ;; esac
    done
    ! readelf -lW "$root/talvex" | grep -e INTERP -e DYNAMIC || fail "$name's talvex asks for a dynamic loader"
    # The root holds the binary and its files alone (and for aarch64 the
    # static emulator): no C library, no /dev, no /proc.
    if [ -n "$starter" ]; then
      emulator=$(command -v qemu-aarch64-static) || give_up "qemu-aarch64-static not found (sh scripts/setup.sh installs it)"
      file -b "$emulator" | grep -q -e 'statically linked' -e 'static-pie linked' || fail "$emulator is not statically linked"
      cp "$emulator" "$root$starter"
    fi
    printf '#!/bin/sh\nexec chroot "%s" %s /talvex "$@"\n' "$root" "$starter" >"$work/in-root-$arch"
    chmod +x "$work/in-root-$arch"
    round_trip "$work/in-root-$arch" "$root"
  done

  # The .debs: each for its processor, the same files, dependencies read
  # from the libraries of that processor.
  amd64=$out/talvex_${version}_amd64.deb arm64=$out/talvex_${version}_arm64.deb
  [ "$(dpkg-deb -f "$amd64" Architecture)" = amd64 ] || fail "the amd64 .deb says $(dpkg-deb -f "$amd64" Architecture)"
  [ "$(dpkg-deb -f "$arm64" Architecture)" = arm64 ] || fail "the arm64 .deb says $(dpkg-deb -f "$arm64" Architecture)"
  for arch in amd64 arm64; do
    dpkg-deb -c "$out/talvex_${version}_$arch.deb" | awk '{ print $1, $2, $4, $5, $6 }' >"$work/$arch.contents"
  done
  diff "$work/amd64.contents" "$work/arm64.contents" >"$work/contents.diff" ||
    fail "the .debs hold other files (<: amd64, >: arm64): $(cat "$work/contents.diff")"
  depends=$(dpkg-deb -f "$arm64" Depends)
  for lib in libc6 libstdc++6; do
    echo "$depends" | grep -q "$lib (>= " || fail "the arm64 .deb's Depends lacks $lib: $depends"
  done
  dpkg-deb -x "$arm64" "$work/arm64"
  described=$(file -b "$work/arm64/usr/bin/talvex")
  for word in "ARM aarch64" "dynamically linked" ", stripped"; do
    case $described in *"$word"*) ;; *) fail "the arm64 .deb's talvex is not $word: $described" ;; esac
  done
  lintian_clean "$arm64"
  # Its binary under qemu-user, with the arm64 libraries of this machine.
  printf '#!/bin/sh\nexec "%s" "%s" "$@"\n' "$(command -v qemu-aarch64-static)" "$work/arm64/usr/bin/talvex" \
    >"$work/arm64-talvex"
  chmod +x "$work/arm64-talvex"
  round_trip "$work/arm64-talvex" "$work/arm64-trip"
  echo "the arm64 .deb: the amd64 one's files; Depends: $depends"
  ;;

*)
  fail "unknown check (install, manual, completion, deb, lintian, zip, release or readme)"
  ;;
esac
