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
# Debian's wineserver wrapper picks the 64-bit server for both loaders.
QVX_WINESERVER=/usr/lib/wine/wineserver64
export QVX_ROOT QVX_BUILD
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

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

# Creates the prefix once and settles it; a crashing program must not put up
# Wine's crash dialog, which would hang an unattended run. Run it with a
# display: Wine's tools misbehave without one while a server is up.
qvx_prefix_init() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    "$QVX_WINE" wineboot --init >/dev/null 2>&1 || true
    "$QVX_WINESERVER" -w
    "$QVX_WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashNotification /t REG_DWORD /d 0 /f >/dev/null 2>&1
    # Without a window manager (Xvfb) Wine waits 2 s whenever it hides a
    # managed window; unmanaged windows hide at once.
    "$QVX_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    # Debian's Wine does not find its own fonts (Marlett draws the caption
    # buttons, Tahoma the dialogs): give them to the prefix.
    cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    "$QVX_WINESERVER" -w
  fi
}

# Keeps one wineserver alive for the processes that follow, so they do not
# each pay for a server start and so volatile registry keys survive between them.
# A server already running for the prefix serves as well.
qvx_server_start() { "$QVX_WINESERVER" -p 2>/dev/null || true; }
qvx_server_stop() { "$QVX_WINESERVER" -k >/dev/null 2>&1 || true; "$QVX_WINESERVER" -w 2>/dev/null || true; }

# Lays a machine description into the prefix (the wineserver must be running).
qvx_machine_install() {
  "$QVX_WINE" "$QVX_BIN/qvxmachine.exe" "$1"
}
