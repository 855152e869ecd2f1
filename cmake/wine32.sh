#!/usr/bin/env bash
# 32-bit Wine for the tests of the i686 zenpo.exe, on a 64-bit machine that
# cannot execute 32-bit x86 code itself: qemu-i386 runs every 32-bit ELF file
# through binfmt_misc, and Wine runs zenpo.exe on top.
#
#   wine32.sh setup          install and register what is missing (root)
#   wine32.sh start PREFIX   setup, then a fresh Wine prefix and a server kept running
#   wine32.sh run PREFIX CMD...  CMD in that prefix's environment
#   wine32.sh stop PREFIX    stop the prefix's server
#
# setup is idempotent and prints one line. Exit status 77 means "cannot be
# done here" (not root, no binfmt_misc), which the tests report as skipped;
# with CI=true that is a failure too: CI never skips the real binary.
set -uo pipefail

entry=/proc/sys/fs/binfmt_misc/qemu-i386
# Debian's qemu-user-binfmt matches 32-bit i386 ELF executables and shared
# objects with this magic and mask.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
# qemu-user before 8.1 ignores MAP_FIXED_NOREPLACE: Wine's address-space
# reservation then retries for about a minute per process.
qemu_min=1:8.1
log=${TMPDIR:-/tmp}/zenpo-wine32-setup.log

say() { echo "wine32: $*"; }

# A step that cannot be done on this machine: skipped off CI, failed on it.
cannot() {
  if [ "${CI:-}" = true ]; then
    say "set-up failed: $*" >&2
    exit 1
  fi
  say "skipped: $*" >&2
  exit 77
}

fail() {
  say "set-up failed: $*" >&2
  [ -s "$log" ] && tail -n 20 "$log" >&2
  exit 1
}

installed() { dpkg-query -W -f '${Version}' "$1" 2>/dev/null; }

packages_ready() {
  local qemu
  qemu=$(installed qemu-user) || return 1
  dpkg --compare-versions "$qemu" ge "$qemu_min" &&
    [ -n "$(installed wine)" ] && [ -n "$(installed wine64)" ] && [ -n "$(installed wine32:i386)" ]
}

# The qemu that the kernel runs for 32-bit programs: with flag F it is the
# file opened at registration, so an upgrade needs a new registration.
# QEMU_VERSION makes it print its version, "qemu-i386 version 10.0.2 (Debian
# 1:10.0.2+ds-1~bpo12+1)", instead of running the program.
running_qemu() { QEMU_VERSION=1 /usr/lib/wine/wine 2>/dev/null | sed -n 's/^qemu-i386 version .*(Debian \(.*\))$/\1/p'; }

binfmt_ready() {
  [ -f "$entry" ] && grep -qx enabled "$entry" && grep -qx 'interpreter /usr/bin/qemu-i386' "$entry" &&
    grep -qx 'flags: PF' "$entry" || return 1
  [ "$(running_qemu)" = "$(installed qemu-user)" ]
}

apt() {
  DEBIAN_FRONTEND=noninteractive apt-get -y -o DPkg::Lock::Timeout=900 "$@" >>"$log" 2>&1
}

# bookworm-backports from the machine's own mirror and key, so that no host
# name is written here.
add_backports() {
  local sources=/etc/apt/sources.list.d/debian.sources
  grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/ && return 0
  [ -f "$sources" ] || fail "no $sources to take the mirror of bookworm-backports from"
  # The stanza whose Suites include plain bookworm.
  local stanza
  stanza=$(awk -v RS= '/(^|\n)Suites:[^\n]*[ \t]bookworm([ \t]|\n|$)/ { print; exit }' "$sources")
  local uris signed
  uris=$(sed -n 's/^URIs:[ \t]*//p' <<<"$stanza")
  signed=$(sed -n 's/^Signed-By:[ \t]*//p' <<<"$stanza")
  [ -n "$uris" ] || fail "no URIs: for bookworm in $sources"
  {
    printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\n' "$uris"
    [ -z "$signed" ] || printf 'Signed-By: %s\n' "$signed"
  } >/etc/apt/sources.list.d/bookworm-backports.sources || fail "cannot write the bookworm-backports source"
}

install_packages() {
  add_backports
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386 ||
    fail "dpkg --add-architecture i386"
  apt update || fail "apt-get update"
  apt install --no-install-recommends wine wine64 wine32:i386 || fail "installing wine, wine64 and wine32:i386"
  local qemu=(qemu-user)
  # The old qemu-user-binfmt conflicts with the new qemu-user: both move together.
  [ -n "$(installed qemu-user-binfmt)" ] && qemu+=(qemu-user-binfmt)
  apt install --no-install-recommends -t bookworm-backports "${qemu[@]}" ||
    fail "installing qemu-user from bookworm-backports"
  packages_ready || fail "qemu-user $(installed qemu-user) is older than $qemu_min after installing"
}

register() {
  local dir=/proc/sys/fs/binfmt_misc
  if [ ! -f $dir/register ]; then
    mount -t binfmt_misc binfmt_misc $dir 2>>"$log" || cannot "binfmt_misc cannot be mounted at $dir"
  fi
  if [ -f "$entry" ]; then
    echo -1 >"$entry" || fail "cannot remove the old qemu-i386 entry"
  fi
  printf ':qemu-i386:M::%s:%s:/usr/bin/qemu-i386:PF' "$magic" "$mask" >$dir/register ||
    fail "cannot register qemu-i386 with binfmt_misc"
  binfmt_ready || fail "qemu-i386 is registered, but /usr/lib/wine/wine does not run through it"
}

setup() {
  : >"$log" 2>/dev/null || log=/dev/null
  if ! packages_ready || ! binfmt_ready; then
    [ "$(id -u)" = 0 ] || cannot "not root, so 32-bit Wine and qemu-i386 cannot be set up"
    packages_ready || install_packages
    binfmt_ready || register
  fi
  say "ready: wine32 $(installed wine32:i386) under qemu-i386 $(running_qemu), registered with binfmt_misc"
}

# The environment of every Wine run: the prefix of this test run, 32-bit,
# quiet, no Mono or Gecko download prompts, no desktop menu entries, no window.
wine_env() {
  export WINEPREFIX=$1 WINEARCH=win32 WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  unset DISPLAY WAYLAND_DISPLAY
}

start() {
  local prefix=$1 out
  # A server left by an earlier run would serve the new prefix too.
  [ -d "$prefix" ] && (stop "$prefix")
  rm -rf "$prefix" "$prefix.skipped"
  out=$(setup 2>&1)
  case $? in
    0) echo "$out" ;;
    77) echo "$out" | tee "$prefix.skipped"; exit 77 ;;
    *) echo "$out" >&2; exit 1 ;;
  esac
  wine_env "$prefix"
  local wlog=$prefix.log
  : >"$wlog"
  # Every Wine process here keeps its streams on the log: the server and the
  # system processes outlive this script, and on a pipe of the test runner
  # they would hold it open.
  # The server first: one that a Wine program starts by itself stops 3 s
  # after the last program, and each later run would start it again (3 s).
  mkdir -p "$prefix"
  wineserver -p300 </dev/null >>"$wlog" 2>&1 || { say "wineserver -p300 failed (see $wlog)" >&2; exit 1; }
  wine wineboot --init </dev/null >>"$wlog" 2>&1 || { say "wineboot --init failed (see $wlog)" >&2; exit 1; }
  # Started once here, Wine's own system processes are not started by the
  # first test's run with its output pipes.
  wine cmd /c exit </dev/null >>"$wlog" 2>&1 || { say "wine cmd failed (see $wlog)" >&2; exit 1; }
  say "prefix $prefix ready, server up"
}

run() {
  local prefix=$1
  shift
  if [ -f "$prefix.skipped" ]; then
    cat "$prefix.skipped"
    exit 77
  fi
  wine_env "$prefix"
  export ZENPO_WINE_SESSION=$prefix  # the server is up: the tests need not start one
  exec "$@"
}

stop() {
  [ -d "$1" ] || return 0
  wine_env "$1"
  wineserver -k </dev/null >/dev/null 2>&1
  return 0
}

# Wine takes only an absolute prefix.
prefix() { realpath -m "${1:?no prefix given}"; }

case ${1:-} in
  setup) setup ;;
  start) start "$(prefix "${2:-}")" ;;
  run) run "$(prefix "${2:-}")" "${@:3}" ;;
  stop) stop "$(prefix "${2:-}")" ;;
  *) echo "usage: $0 setup | start PREFIX | run PREFIX CMD... | stop PREFIX" >&2; exit 2 ;;
esac
