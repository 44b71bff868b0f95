# Shared by the project's scripts: where things are built and how Wine is used.
# QVX_BUILD chooses the build folder (default build/); each build folder has
# its own Wine prefixes, so separate checkouts or workers never share one.
#
# Two architectures, each with its build folder and its own prefix:
#   i686    the product, the program as shipped for Windows 95 and NT 4.0; run
#           by 32-bit Wine in a pure 32-bit prefix (WINEARCH=win32), which
#           like those systems has one system32 and one registry view;
#   x86_64  keeps the code right at 64 bits; its in-process tests run under
#           wine64 in a 64-bit prefix (WINEARCH=win64).
# qvx_arch chooses one (QVX_ARCH, default i686): QVX_BIN, QVX_WINE, WINEARCH
# and WINEPREFIX follow. Scripts that want another prefix set WINEPREFIX after.
QVX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QVX_BUILD=${QVX_BUILD:-$QVX_ROOT/build}
case "$QVX_BUILD" in /*) ;; *) QVX_BUILD=$QVX_ROOT/$QVX_BUILD ;; esac
# Debian's wineserver wrapper picks the 64-bit server for both loaders;
# QVX_WINESERVER may name a wrapper of it.
QVX_WINESERVER=${QVX_WINESERVER:-/usr/lib/wine/wineserver64}
export QVX_ROOT QVX_BUILD QVX_WINESERVER
export WINEDEBUG=${WINEDEBUG:--all}
# A crashing program ends at once instead of waiting in Wine's debugger.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winedbg.exe=d}

qvx_arch() {
  case "$1" in
    i686) QVX_WINE=/usr/lib/wine/wine WINEARCH=win32 ;;
    x86_64) QVX_WINE=/usr/lib/wine/wine64 WINEARCH=win64 ;;
    *) echo "unknown architecture '$1' (i686 or x86_64)" >&2; return 1 ;;
  esac
  QVX_ARCH=$1
  QVX_BIN=$QVX_BUILD/$1/bin
  WINEPREFIX=$QVX_BUILD/prefix-$1
  export QVX_ARCH QVX_BIN QVX_WINE WINEARCH WINEPREFIX
}
qvx_arch "${QVX_ARCH:-i686}"

# Configures and builds one architecture (x86_64 or i686), tests included.
qvx_build() {
  local arch=$1 dir=$QVX_BUILD/$1
  if [ ! -f "$dir/build.ninja" ] || ! grep -qx 'QVX_TESTS:BOOL=ON' "$dir/CMakeCache.txt"; then
    cmake -S "$QVX_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$QVX_ROOT/cmake/toolchain-$arch.cmake" -DQVX_TESTS=ON >/dev/null
  fi
  cmake --build "$dir" "${@:2}"
}

# The steps that make and settle a new prefix. A crashing program must not
# put up Wine's crash dialog, which would hang an unattended run. Run them
# with a display: Wine's tools misbehave without one while a server is up.
qvx_prefix_make() {
  mkdir -p "$WINEPREFIX"
  "$QVX_WINE" wineboot --init >/dev/null 2>&1 || true
  "$QVX_WINESERVER" -w || true
  [ -f "$WINEPREFIX/system.reg" ] || return 1
  "$QVX_WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashNotification /t REG_DWORD /d 0 /f >/dev/null 2>&1 || return 1
  # Without a window manager (Xvfb) Wine waits 2 s whenever it hides a
  # managed window; unmanaged windows hide at once.
  "$QVX_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || return 1
  # Debian's Wine does not find its own fonts (Marlett draws the caption
  # buttons, Tahoma the dialogs): give them to the prefix.
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" || return 1
  "$QVX_WINESERVER" -w
}

# Makes the prefix unless it is complete. Only a prefix whose every set-up
# step went through gets the mark (.qvx-prefix: its architecture and the
# steps it was made with); one without it was left half made by a run that
# was stopped, and is made again, as is one of another architecture or made
# by other steps.
qvx_prefix_init() {
  local mark=$WINEPREFIX/.qvx-prefix want
  want="$WINEARCH $(declare -f qvx_prefix_make | md5sum | cut -c1-16)"
  qvx_run_note_prefix
  [ "$(cat "$mark" 2>/dev/null)" = "$want" ] && return 0
  qvx_prefix_remove
  qvx_prefix_make || { echo "could not make the Wine prefix $WINEPREFIX" >&2; return 1; }
  echo "$want" >"$mark.new" && mv "$mark.new" "$mark"
}

# Removes the prefix, after ending whatever Wine still runs in it.
qvx_prefix_remove() {
  [ -e "$WINEPREFIX" ] || return 0
  "$QVX_WINESERVER" -k >/dev/null 2>&1 || true
  timeout 10 "$QVX_WINESERVER" -w 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}

# Keeps one wineserver alive for the processes that follow, so they do not
# each pay for a server start and so volatile registry keys survive between them.
# A server already running for the prefix serves as well.
qvx_server_start() {
  qvx_run_note_prefix
  "$QVX_WINESERVER" -p 2>/dev/null || true
}
qvx_server_stop() { "$QVX_WINESERVER" -k >/dev/null 2>&1 || true; "$QVX_WINESERVER" -w 2>/dev/null || true; }

# The program a machine runs, relative to $QVX_BIN: on a Windows NT machine
# without ASPI the build over the NT port stand-in (ntemu/quorvex.exe), since
# Wine has no SCSI port driver; else the product. Reads the machine file's
# `family` (default nt40) and `aspi` keys, ignoring case and comments.
qvx_machine_program() {
  local family aspi
  family=$(sed -n 's/;.*//; s/^[[:space:]]*[Ff][Aa][Mm][Ii][Ll][Yy][[:space:]]*=[[:space:]]*\([^[:space:]]*\).*/\1/p' "$1" | tr 'A-Z' 'a-z' | head -1)
  aspi=$(sed -n 's/;.*//; s/^[[:space:]]*[Aa][Ss][Pp][Ii][[:space:]]*=[[:space:]]*\([^[:space:]]*\).*/\1/p' "$1" | tr 'A-Z' 'a-z' | head -1)
  if [ "${family:-nt40}" = nt40 ] && [ "$aspi" = absent ]; then
    echo ntemu/quorvex.exe
  else
    echo quorvex.exe
  fi
}

# Lays a machine description into the prefix (the wineserver must be running).
qvx_machine_install() {
  "$QVX_WINE" "$QVX_BIN/qvxmachine.exe" "$1"
}

# Runs a command as a child and waits for it. Bash runs a signal's trap only
# after the foreground command has ended, but at once while it waits, so
# every long step of a run goes through this to stay interruptible.
qvx_fg() {
  "$@" <&0 &
  wait $!
}

# Starts an Xvfb screen for this shell and the programs it starts (DISPLAY).
# The server picks a free display number itself and says which, so screens
# started at the same time never take the same one.
qvx_xvfb_start() {
  local fd n=""
  exec {fd}< <(exec Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>&1 >/dev/null 2>&1)
  QVX_XVFB_PID=$!
  read -r -t 30 -u "$fd" n
  exec {fd}<&-
  if [ -z "$n" ]; then
    echo "no Xvfb screen could be started" >&2
    return 1
  fi
  export DISPLAY=:$n
  unset XAUTHORITY
}

qvx_xvfb_stop() {
  [ -n "${QVX_XVFB_PID:-}" ] || return 0
  kill "$QVX_XVFB_PID" 2>/dev/null
  wait "$QVX_XVFB_PID" 2>/dev/null
  QVX_XVFB_PID=""
}

# --- Runs ---------------------------------------------------------------------
# scripts/test, scripts/e2e, scripts/run, scripts/bench and scripts/benchmark
# are runs: each calls qvx_run_begin NAME "$@" first. A run holds its build
# folder's lock ($QVX_BUILD/.run/lock) until it has ended and tidied up;
# another run in the same folder waits for it (they would share builds,
# prefixes and outputs), saying whose run it waits for. A run started by a
# run of the same folder (scripts/test starts scripts/e2e) is part of it and
# takes no lock.
#
# Every process of a run carries the run's id in QVX_RUNS: the run starts
# itself again with it in the environment, and Wine hands the environment
# on to its detached processes (services, wineserver) too. When a run ends,
# whether it finished, failed or was stopped by SIGINT, SIGTERM or SIGHUP,
# it ends its child processes (TERM, then KILL), the wineservers of every
# prefix it used (noted in .run/prefixes-PID) and whatever still carries its
# id. A run killed outright (SIGKILL) cannot tidy up; its lock goes with it
# and the next run of the folder tidies up after it.
qvx_run_begin() {
  QVX_RUN_NAME=$1
  shift
  QVX_RUN_DIR=$QVX_BUILD/.run
  if [ "${QVX_RUN_SELF:-}" != $$ ]; then
    if [ "${QVX_RUN_BUILD:-}" = "$QVX_BUILD" ] && qvx_is_ancestor "${QVX_RUN_PID:-0}"; then
      qvx_run_traps
      return 0
    fi
    export QVX_RUN_SELF=$$ QVX_RUN_ID=$$-$SRANDOM
    export QVX_RUNS=${QVX_RUNS:+$QVX_RUNS:}$QVX_RUN_ID
    exec "$BASH" "$0" "$@"
  fi
  qvx_run_traps
  mkdir -p "$QVX_RUN_DIR"
  qvx_run_lock || exit 1
  qvx_run_tidy_stale
  printf '%s\n' "$QVX_RUN_ID" "$$" "scripts/$QVX_RUN_NAME" "$(date +%T)" >"$QVX_RUN_DIR/owner"
  QVX_RUN_TOP=1
  export QVX_RUN_BUILD=$QVX_BUILD QVX_RUN_PID=$$
}

qvx_run_traps() {
  trap 'qvx_run_exit' EXIT
  trap 'qvx_run_signal INT' INT
  trap 'qvx_run_signal TERM' TERM
  trap 'qvx_run_signal HUP' HUP
}

# Whether process $1 is an ancestor of this shell.
qvx_is_ancestor() {
  local p=$PPID s
  while [ "$p" -gt 1 ]; do
    [ "$p" = "$1" ] && return 0
    { read -r s <"/proc/$p/stat"; } 2>/dev/null || return 1
    s=${s##*) }
    s=${s#* }
    p=${s%% *}
  done
  return 1
}

# Takes the build folder's lock, waiting for the run that holds it. The lock
# is held by a small process of its own that lives as long as this shell:
# processes the run starts never hold it, so one that outlives the run
# cannot keep the folder locked.
qvx_run_lock() {
  local lock=$QVX_RUN_DIR/lock fd answer=""
  if ! flock -n "$lock" true; then
    local owner=()
    { mapfile -t owner <"$QVX_RUN_DIR/owner"; } 2>/dev/null
    if [ ${#owner[@]} -ge 4 ]; then
      echo "$QVX_RUN_NAME: waiting for ${owner[2]} (PID ${owner[1]}, started ${owner[3]}), which is using $QVX_BUILD" >&2
    else
      echo "$QVX_RUN_NAME: waiting for another run, which is using $QVX_BUILD" >&2
    fi
  fi
  exec {fd}< <(exec 9>>"$lock" && flock 9 && echo locked && exec tail -s 0.2 --pid=$$ -f /dev/null >/dev/null)
  QVX_RUN_HOLDER=$!
  read -r -u "$fd" answer
  exec {fd}<&-
  [ "$answer" = locked ] || { echo "$QVX_RUN_NAME: could not lock $lock" >&2; return 1; }
}

# A run that was killed outright leaves its owner file behind: end whatever
# of it still runs before this run starts.
qvx_run_tidy_stale() {
  local owner=()
  { mapfile -t owner <"$QVX_RUN_DIR/owner"; } 2>/dev/null || return 0
  echo "$QVX_RUN_NAME: tidying up after ${owner[2]:-a run} (PID ${owner[1]:-?}), which was stopped without doing so" >&2
  qvx_stop_prefixes "$QVX_RUN_DIR"/prefixes-*
  [ -n "${owner[0]:-}" ] && qvx_stop_run_id "${owner[0]}"
  rm -f "$QVX_RUN_DIR/owner" "$QVX_RUN_DIR"/prefixes-*
}

# Notes WINEPREFIX as used by this run, so that its wineserver is stopped
# when the run ends.
qvx_run_note_prefix() {
  [ -n "${QVX_RUN_DIR:-}" ] || return 0
  local file=$QVX_RUN_DIR/prefixes-$$
  grep -qsxF "$WINEPREFIX" "$file" || echo "$WINEPREFIX" >>"$file"
}

qvx_run_signal() {
  # A run that is already ending goes on tidying up.
  [ -z "${QVX_RUN_ENDED:-}" ] || return 0
  # Output may go to a pipe whose reader was stopped too (| tee).
  trap '' PIPE
  echo "$QVX_RUN_NAME: stopped by SIG$1; ending everything this run started" >&2
  qvx_run_end
  trap - "$1" EXIT
  kill -s "$1" $$
}

qvx_run_exit() {
  local rc=$?
  qvx_run_end
  exit $rc
}

qvx_run_end() {
  [ -z "${QVX_RUN_ENDED:-}" ] || return 0
  QVX_RUN_ENDED=1
  set +e
  trap '' INT TERM HUP PIPE
  qvx_stop_children
  if [ -z "${QVX_RUN_TOP:-}" ]; then
    # Part of a larger run, or never got the lock: only what it started.
    qvx_stop_prefixes "$QVX_RUN_DIR/prefixes-$$"
    rm -f "$QVX_RUN_DIR/prefixes-$$"
  else
    qvx_stop_prefixes "$QVX_RUN_DIR"/prefixes-*
    qvx_stop_run_id "$QVX_RUN_ID"
    rm -f "$QVX_RUN_DIR/owner" "$QVX_RUN_DIR"/prefixes-*
  fi
  if [ -n "${QVX_RUN_HOLDER:-}" ]; then
    kill "$QVX_RUN_HOLDER" 2>/dev/null
    wait "$QVX_RUN_HOLDER" 2>/dev/null
  fi
}

# Sets QVX_PIDS to the live processes below process $1, but for the lock
# holder.
qvx_descendants() {
  local -A kids=()
  local f s pid rest queue=("$1") p c
  for f in /proc/[0-9]*/stat; do
    { read -r s <"$f"; } 2>/dev/null || continue
    pid=${s%% *}
    rest=${s##*) }
    case $rest in Z* | X*) continue ;; esac
    rest=${rest#* }
    kids[${rest%% *}]+=" $pid"
  done
  QVX_PIDS=()
  while [ ${#queue[@]} -gt 0 ]; do
    p=${queue[0]}
    queue=("${queue[@]:1}")
    for c in ${kids[$p]:-}; do
      [ "$c" = "${QVX_RUN_HOLDER:-}" ] && continue
      QVX_PIDS+=("$c")
      queue+=("$c")
    done
  done
}

# Ends every process below this shell: all are stopped first, so that none
# starts another meanwhile, then asked to end (compilers remove half-written
# files, Xvfb its lock), and what is left after 5 s is killed.
qvx_stop_children() {
  local round
  qvx_descendants $$
  [ ${#QVX_PIDS[@]} -gt 0 ] || return 0
  kill -STOP "${QVX_PIDS[@]}" 2>/dev/null
  qvx_descendants $$
  kill -STOP "${QVX_PIDS[@]}" 2>/dev/null
  kill -TERM "${QVX_PIDS[@]}" 2>/dev/null
  kill -CONT "${QVX_PIDS[@]}" 2>/dev/null
  for ((round = 0; round < 50; round++)); do
    qvx_descendants $$
    [ ${#QVX_PIDS[@]} -gt 0 ] || return 0
    sleep 0.1
  done
  for ((round = 0; round < 20; round++)); do
    qvx_descendants $$
    [ ${#QVX_PIDS[@]} -gt 0 ] || return 0
    kill -KILL "${QVX_PIDS[@]}" 2>/dev/null
    sleep 0.1
  done
}

# Ends the wineservers of the prefixes listed in the given files, and with
# each server every Wine process of its prefix.
qvx_stop_prefixes() {
  local prefix pids=()
  while read -r prefix; do
    [ -d "$prefix" ] || continue
    (
      export WINEPREFIX=$prefix
      "$QVX_WINESERVER" -k >/dev/null 2>&1
      timeout 10 "$QVX_WINESERVER" -w 2>/dev/null
    ) &
    pids+=($!)
  done < <(sort -u "$@" 2>/dev/null)
  [ ${#pids[@]} -eq 0 ] || wait "${pids[@]}" || true
}

# Ends every process that carries the run id $1, whoever its parent is now.
# The search runs as a program started without the id (exec, not a copy of
# this shell), so that it does not find itself.
qvx_stop_run_id() {
  local sig=TERM round f p pids
  for ((round = 0; round < 60; round++)); do
    [ $round -eq 30 ] && sig=KILL
    pids=()
    while read -r f; do
      p=${f#/proc/}
      p=${p%/environ}
      [ "$p" = $$ ] || [ "$p" = "${QVX_RUN_HOLDER:-}" ] || pids+=("$p")
    done < <(exec env -u QVX_RUNS grep -lzE "^QVX_RUNS=(.*:)?$1(:.*)?\$" /proc/[0-9]*/environ 2>/dev/null)
    [ ${#pids[@]} -gt 0 ] || return 0
    kill -s $sig "${pids[@]}" 2>/dev/null
    kill -CONT "${pids[@]}" 2>/dev/null
    sleep 0.1
  done
}
