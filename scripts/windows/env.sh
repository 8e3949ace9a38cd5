# Sourced by the Windows scripts: where the Qt for 64-bit Windows is unpacked
# (once, outside the checkout), the MinGW runtime and Wine.
# The tarball: QVX_WIN_QT_TARBALL, else the shared folder beside the checkout.
if [ -z "${QVX_WIN_QT_TARBALL:-}" ]; then
  for d in "$PWD/../shared/windows" "$PWD/../../shared/windows" /work/shared/windows; do
    if [ -f "$d/qt6.4.2-mingw-w64.tar.xz" ]; then
      QVX_WIN_QT_TARBALL="$d/qt6.4.2-mingw-w64.tar.xz"
      break
    fi
  done
fi
QVX_WIN_QT_TARBALL="${QVX_WIN_QT_TARBALL:-/work/shared/windows/qt6.4.2-mingw-w64.tar.xz}"
QVX_WIN_CACHE="${QVX_WIN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/qvxtool-win}"
QVX_WIN_QT="$QVX_WIN_CACHE/qt6-mingw"
QVX_WIN_BUILD="${QVX_WIN_BUILD:-build-win}"
QVX_MINGW_GCC_DLLS="$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll 2>/dev/null || echo /usr/lib/gcc/x86_64-w64-mingw32/12-posix/x)")"
QVX_MINGW_SYS_DLLS=/usr/x86_64-w64-mingw32/lib
QVX_WINE="${QVX_WINE:-/usr/lib/wine/wine64}"
export WINEPREFIX="${WINEPREFIX:-$QVX_WIN_CACHE/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono and no Gecko: their download prompts would stop a run without a user.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# Unpacks the Qt tarball when it is not unpacked yet (or older than it).
qvx_win_unpack_qt() {
  if [ ! -f "$QVX_WIN_QT/lib/cmake/Qt6/qt.toolchain.cmake" ] || [ "$QVX_WIN_QT_TARBALL" -nt "$QVX_WIN_QT/.unpacked" ]; then
    echo "Unpacking $QVX_WIN_QT_TARBALL into $QVX_WIN_CACHE"
    rm -rf "$QVX_WIN_QT"
    mkdir -p "$QVX_WIN_CACHE"
    tar xJf "$QVX_WIN_QT_TARBALL" -C "$QVX_WIN_CACHE"
    touch "$QVX_WIN_QT/.unpacked"
  fi
}

# Makes the one Wine prefix of all runs (no dialogs, no desktop integration).
qvx_win_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Making the Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    "$QVX_WINE" wineboot --init >/dev/null 2>&1 || true
    "$(dirname "$QVX_WINE")/wineserver" -w || true
  fi
}

# Ends the prefix's wineserver and starts one of its own with its output (an
# object dump when it is killed) kept out of the log.  The next Windows
# program's desktop is then on that program's display: a wineserver that a
# console program started has its desktop on none.
qvx_win_fresh_server() {
  local server
  server="$(dirname "$QVX_WINE")/wineserver"
  "$server" -k >/dev/null 2>&1 || true
  "$server" -w >/dev/null 2>&1 || true
  "$server" >/dev/null 2>&1 || true
}

# qvx_win_link_com COM PATH: the prefix's COM port COM (COM7) is the device
# PATH (a pseudo-terminal) from now on; prints the link it made.  Wine looks
# the link up at each open, so a running wineserver sees it.
qvx_win_link_com() {
  local link
  link="$WINEPREFIX/dosdevices/$(echo "$1" | tr 'A-Z' 'a-z')"
  mkdir -p "$(dirname "$link")"
  ln -sfn "$(readlink -f "$2")" "$link"
  echo "$link"
}
