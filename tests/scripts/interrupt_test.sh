#!/usr/bin/env bash
# Stops runs of scripts/test, scripts/e2e and scripts/run part-way and checks
# what they leave behind: no process they started (ctest, Wine programs and
# services, wineservers, Xvfb screens, build steps), no X socket, a free
# build-folder lock. Checks too that a prefix left half made is made again,
# that a run started meanwhile waits for the first and then passes, and that
# a run killed outright is tidied up after by the next one.
#
#   interrupt_test.sh HOLD_EXE
#
# The runs work in a tiny tree of their own: the real scripts (a link), three
# scenarios and build folders whose tests and e2e driver are HOLD_EXE, a
# Windows program that holds while the test wants it to (see hold.cpp). Wine,
# its prefixes and servers, Xvfb and the locks are the real ones.
set -uo pipefail
set -m # each run in a process group of its own, as from a terminal
hold_exe=$(realpath "$1")
source_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
tmp=$(mktemp -d /tmp/qvx-interrupt.XXXXXX)
tree=$tmp/tree
build=$tree/build
holds=$tmp/holds
tag_base=${tmp##*/}
failures=0
declare -A pids=()

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Processes that carry the tag of run $1 (every process a run starts does).
tagged() {
  grep -lzx "QVX_TEST_TAG=$tag_base-$1" /proc/[0-9]*/environ 2>/dev/null |
    sed 's,^/proc/,,; s,/environ$,,'
}

describe() {
  local p
  for p in "$@"; do
    echo "    $p $(tr '\0' ' ' <"/proc/$p/cmdline" 2>/dev/null)"
  done
}

# Whatever happens, nothing of the test's runs outlives it.
finish() {
  local run sig left
  for sig in TERM KILL; do
    left=$(for run in "${!pids[@]}"; do tagged "$run"; done)
    [ -n "$left" ] || break
    kill -s $sig $left 2>/dev/null
    sleep 1
  done
  rm -rf "$tmp"
}
trap finish EXIT
trap 'exit 143' TERM INT HUP

# --- The tiny tree -------------------------------------------------------------
mkdir -p "$tree/e2e/scenarios" "$tree/emulation/machines" "$holds"
: >"$tree/emulation/machines/default.ini"
ln -s "$source_root/scripts" "$tree/scripts"
for s in a b c; do
  echo "# held by the driver's stand-in" >"$tree/e2e/scenarios/$s.scenario"
  : >"$tree/e2e/scenarios/$s.expected"
done
for arch in i686 x86_64; do
  dir=$build/$arch
  mkdir -p "$dir/bin"
  cp "$hold_exe" "$dir/bin/hold.exe"
  cp "$hold_exe" "$dir/bin/driver.exe"
  printf '%s\n' CMAKE_PROJECT_NAME:STATIC=tiny CMAKE_GENERATOR:INTERNAL=Ninja \
    CMAKE_MAKE_PROGRAM:FILEPATH="$(command -v ninja)" QVX_TESTS:BOOL=ON >"$dir/CMakeCache.txt"
  # The one build step holds while build.arm exists.
  cat >"$dir/build.ninja" <<EOF
rule hold
  command = /bin/sh -c 'if [ -e $holds/build.arm ]; then touch $holds/build.held; while [ -e $holds/build.arm ]; do sleep 0.1; done; fi'
build step: hold
build all: phony step
build quorvex wnaspi32 qvxmachine qvxwindow e2e_driver: phony step
default all
EOF
  echo "add_test(hold \"$tree/scripts/wine-exec\" $arch \"$dir/bin/hold.exe\" ctest-$arch)" \
    >"$dir/CTestTestfile.cmake"
done
# The real wineserver, but "-w" holds afterwards while init-NAME.arm exists,
# NAME the prefix's folder: in a prefix being made, that is after wineboot
# and before the prefix is settled.
cat >"$tmp/wineserver" <<EOF
#!/bin/bash
/usr/lib/wine/wineserver64 "\$@"
rc=\$?
name=init-\${WINEPREFIX##*/}
if [ "\$1" = -w ] && [ -f "\$WINEPREFIX/system.reg" ] && [ -e "$holds/\$name.arm" ]; then
    touch "$holds/\$name.held"
    while [ -e "$holds/\$name.arm" ]; do sleep 0.1; done
fi
exit \$rc
EOF
chmod +x "$tmp/wineserver"

# --- Runs ------------------------------------------------------------------------
# launch RUN SCRIPT [ARGS...]: starts tree/scripts/SCRIPT as run RUN, in the
# background, with an environment of its own.
launch() {
  local run=$1
  echo "$run: scripts/$2 ${*:3} (after ${SECONDS} s)"
  env -i PATH="$PATH" HOME="$HOME" USER="${USER:-root}" LANG="${LANG:-C.UTF-8}" \
    ${QVX_RUNS:+QVX_RUNS="$QVX_RUNS"} QVX_BUILD="$build" QVX_WINESERVER="$tmp/wineserver" \
    QVX_HOLD_DIR="Z:${holds//\//\\}" QVX_TEST_TAG="$tag_base-$run" \
    "$tree/scripts/$2" "${@:3}" >"$tmp/$run.log" 2>&1 &
  pids[$run]=$!
}

# Whether run RUN's script is still running (not ended, nor a zombie).
running() {
  local s
  { read -r s <"/proc/${pids[$1]}/stat"; } 2>/dev/null || return 1
  s=${s##*) }
  [ "${s%% *}" != Z ]
}

# await RUN: waits for run RUN to end (at most 120 s) and sets rc to its
# exit status.
await() {
  local pid=${pids[$1]} tries
  for ((tries = 0; tries < 1200; tries++)); do
    running "$1" || break
    sleep 0.1
  done
  [ $tries -lt 1200 ] || { fail "$1 did not end"; kill -KILL "$pid"; }
  wait "$pid"
  rc=$?
}

show_log() {
  echo "  --- $1's output:"
  tail -n 30 "$tmp/$1.log" | sed 's/^/    /'
}

# held RUN NAME...: waits until the hold points NAME... of run RUN are
# reached (at most 300 s: a run may make two prefixes first).
held() {
  local run=$1 name waited=0
  shift
  for name in "$@"; do
    while [ ! -e "$holds/$name.held" ]; do
      if ! running "$run" || [ $waited -ge 3000 ]; then
        fail "$run never reached $name"
        show_log "$run"
        return 1
      fi
      sleep 0.1
      waited=$((waited + 1))
    done
  done
}

arm() {
  local name
  for name in "$@"; do touch "$holds/$name.arm"; done
}

release() {
  local name
  for name in "$@"; do rm -f "$holds/$name.arm" "$holds/$name.held"; done
}

# The X sockets of the run's Xvfb screens.
x_sockets() {
  local p fd inodes=()
  for p in $(tagged "$1"); do
    [ "$(cat "/proc/$p/comm" 2>/dev/null)" = Xvfb ] || continue
    for fd in /proc/"$p"/fd/*; do
      fd=$(readlink "$fd") && [[ $fd == socket:* ]] && inodes+=("${fd//[!0-9]/}")
    done
  done
  [ ${#inodes[@]} -gt 0 ] || return 0
  awk -v list=" ${inodes[*]} " 'index(list, " " $7 " ") && $8 ~ /^\/tmp\/\.X11-unix\// { print $8 }' \
    /proc/net/unix | sort -u
}

# stop RUN SIGNAL [group] EXPECTED...: checks that run RUN has started
# each program named in EXPECTED, sends it SIGNAL (to its process group
# with "group", as Ctrl-C in a terminal does) and checks what is left.
stop() {
  local run=$1 sig=$2 group="" p left sockets s programs
  shift 2
  if [ "${1:-}" = group ]; then
    group=-
    shift
  fi
  programs=$(for p in $(tagged "$run"); do cat "/proc/$p/comm" 2>/dev/null; done | sort -u)
  for p in "$@"; do
    grep -qx "$p" <<<"$programs" || fail "$run: no $p running before SIG$sig (saw: $(echo $programs))"
  done
  sockets=$(x_sockets "$run")
  kill -s "$sig" -- "$group${pids[$run]}"
  await "$run"
  [ $rc -eq $((128 + $(kill -l "$sig"))) ] || fail "$run ended with $rc after SIG$sig, not as stopped by it"
  left=$(tagged "$run")
  if [ -n "$left" ]; then
    fail "$run left processes behind after SIG$sig:"
    describe $left
    show_log "$run"
  fi
  for s in $sockets; do
    [ ! -e "$s" ] || fail "$run left the X socket $s"
  done
}

unlocked() {
  flock -n "$build/.run/lock" true || fail "$1 left the build folder locked"
}

# finished RUN "LAST LINE": waits for run RUN to end; it must pass with that
# last line and leave nothing running.
finished() {
  local run=$1
  await "$run"
  [ $rc -eq 0 ] || fail "$run failed ($rc)"
  [ "$(tail -n 1 "$tmp/$run.log")" = "$2" ] || fail "$run did not end with \"$2\""
  [ -z "$(tagged "$run")" ] || fail "$run left processes behind"
  [ $rc -eq 0 ] && [ $failures -eq 0 ] || show_log "$run"
}

# --- The cases ---------------------------------------------------------------------
# Ctrl-C while the e2e template prefix is being made, after wineboot.
arm init-template
launch t1 e2e
held t1 init-template && stop t1 INT group Xvfb && unlocked t1
release init-template

# Killed while both architectures' tests run (their prefixes made first).
arm ctest-i686 ctest-x86_64
launch t2 test
held t2 ctest-i686 ctest-x86_64 &&
  stop t2 TERM ctest hold.exe wineserver64 services.exe Xvfb && unlocked t2
release ctest-i686 ctest-x86_64

# A hang-up while two scenarios run; a second run started meanwhile waits
# for the first, then passes (the half-made template made again on the way).
arm a b
launch t3 test
if held t3 a b; then
  launch t4 test
  for _ in $(seq 300); do
    grep -q "waiting for scripts/test (PID ${pids[t3]}," "$tmp/t4.log" && break
    sleep 0.1
  done
  grep -q "waiting for scripts/test (PID ${pids[t3]}," "$tmp/t4.log" ||
    fail "the second run did not say it waits for the first"
  stop t3 HUP driver.exe wineserver64 services.exe Xvfb
  release a b
  finished t4 "3 passed, 0 failed"
  unlocked t4
  grep -q "tidying up" "$tmp/t4.log" && fail "the second run found the first one untidy"
fi
template=$build/e2e/template
grep -q '"ShowCrashNotification"=dword:00000000' "$template/user.reg" ||
  fail "the template prefix was not made again: no crash-dialog setting"
grep -q '"Managed"="N"' "$template/user.reg" || fail "the template prefix has managed windows"
[ -f "$template/drive_c/windows/Fonts/marlett.ttf" ] || fail "the template prefix has no fonts"

# scripts/e2e killed outright: the next run ends what it left.
arm a b
launch t5 e2e
if held t5 a b; then
  kill -KILL "${pids[t5]}"
  await t5
  [ -n "$(tagged t5)" ] || fail "nothing of the killed run was left to tidy up"
  launch t6 e2e c
  finished t6 "1 passed, 0 failed"
  unlocked t6
  grep -q "tidying up after scripts/e2e (PID ${pids[t5]})" "$tmp/t6.log" ||
    fail "the next run did not tidy up after the killed one"
  [ -z "$(tagged t5)" ] || fail "the next run left the killed run's processes"
fi
release a b

# scripts/run stopped by Ctrl-C during its build.
arm build
launch t7 run
held t7 build && stop t7 INT group ninja Xvfb && unlocked t7
release build

if [ $failures -eq 0 ]; then
  echo "interrupted runs: all checks passed"
fi
exit $((failures > 0))
