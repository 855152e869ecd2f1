#!/usr/bin/env bash
# The Debian package as a user takes it, run as root on a machine without
# zenpo: dpkg -i installs it, each program runs from PATH and says its version,
# man finds each page, and dpkg -r leaves none of its files behind.
#     tests/e2e/deb_e2e.sh build/release/zenpo_0.2.0_amd64.deb
set -euo pipefail
deb=$1
fail() { echo "deb_e2e: $*" >&2; exit 1; }
[ "$(id -u)" = 0 ] || fail "needs root, to install the package"
! dpkg -s zenpo >/dev/null 2>&1 || fail "zenpo is installed already: dpkg -r zenpo first"

version=$(dpkg-deb -f "$deb" Version)
[ -z "$(dpkg-deb -f "$deb" Depends)" ] || fail "the programs are static, yet it depends on something"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }')
dirs=(/usr/share/doc/zenpo)

[ "$(wc -w <<<"$files")" -ge 10 ] || fail "dpkg-deb -c lists only: $files"

work=$(mktemp -d)
trap 'dpkg -r zenpo >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
dpkg -i "$deb" >/dev/null
cd "$work"
for program in zenpo-dump zenpo-convert; do
  [ "$(command -v $program)" = /usr/bin/$program ] || fail "$program is not on PATH"
  [ "$($program --version)" = "$program $version" ] || fail "$program --version: $($program --version)"
done
# zenpo has no --version: its banner, then no image here.
out=$(zenpo font.txt 2>&1) && fail "zenpo ran without an image"
[[ $out == *"Written by the zenpo authors"*"Failed to open"* ]] || fail "zenpo said: $out"
for page in zenpo zenpo-dump zenpo-convert; do
  [ "$(man -w $page)" = /usr/share/man/man1/$page.1.gz ] || fail "man -w $page: $(man -w $page 2>&1)"
done

dpkg -r zenpo >/dev/null
! dpkg -s zenpo >/dev/null 2>&1 || fail "dpkg -r left the package installed"
for file in $files "${dirs[@]}"; do
  [ ! -e "$file" ] || fail "dpkg -r left $file behind"
done
echo "deb_e2e: $deb installed, ran and removed cleanly"
