#!/usr/bin/env bash
# The Debian packages of cmake/debian-packages.txt that some groups need.
#
#   debian-packages.sh GROUP...         install what the groups lack
#   debian-packages.sh --list GROUP...  print the apt-get line of all their packages
#
# Groups: build, test, bench, ci, windows, web. As root, what is missing is
# installed (apt-get update once, then apt-get install); anyone else gets one
# line with the apt-get command to run as root, and exit status 1. The outcome
# is one line on standard output; apt-get's own output goes to standard error.
set -uo pipefail

list=$(dirname "$0")/debian-packages.txt

say() { echo "$*"; }

installed() {
  case $1 in
    */*) compgen -G "$1" >/dev/null ;;
    *) command -v "$1" >/dev/null ;;
  esac
}

# The packages of the groups asked for, with their checks.
packages=()
checks=()
read_list() {
  local group package check kind known=()
  while read -r package check kind _; do
    case $package in '' | '#'*) continue ;; esac
    known+=("$kind")
    for group in "$@"; do
      if [ "$kind" = "$group" ]; then
        packages+=("$package")
        checks+=("$check")
      fi
    done
  done <"$list" || { say "cannot read $list"; exit 2; }
  for group in "$@"; do
    [[ " ${known[*]} " == *" $group "* ]] || { say "no group '$group' in $list"; exit 2; }
  done
}

missing() {
  local i
  need=()
  for i in "${!packages[@]}"; do
    installed "${checks[$i]}" || need+=("${packages[$i]}")
  done
}

apt() {
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 "$@" >&2
}

if [ "${1:-}" = --list ]; then
  shift
  [ $# -gt 0 ] || { say "usage: $0 [--list] GROUP..."; exit 2; }
  read_list "$@"
  say "apt-get install ${packages[*]}"
  exit 0
fi
[ $# -gt 0 ] || { say "usage: $0 [--list] GROUP..."; exit 2; }
read_list "$@"
missing
[ ${#need[@]} -eq 0 ] && exit 0
if [ "$(id -u)" != 0 ]; then
  say "zenpo: missing Debian packages; as root, run: apt-get install ${need[*]}"
  exit 1
fi
apt update || { say "apt-get update failed; needed: ${need[*]}"; exit 1; }
apt install -y --no-install-recommends "${need[@]}" || { say "apt-get install ${need[*]} failed"; exit 1; }
wanted=("${need[@]}")
missing
[ ${#need[@]} -eq 0 ] || { say "installed, but still not found: ${need[*]} (see $list)"; exit 1; }
say "installed ${wanted[*]}"
