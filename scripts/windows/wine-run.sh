#!/usr/bin/env bash
# Runs a Windows program under Wine as CTest's emulator (and by hand):
#   wine-run.sh PROGRAM.exe [ARGS...]
# in the one Wine prefix of the Windows scripts, without Wine's own messages,
# on Qt's offscreen platform unless QT_QPA_PLATFORM says otherwise, with Qt's
# DLLs and the MinGW runtime on the search path (WINEPATH).  A QtTest
# program's report does not reach a pipe under Wine, so for those the report
# goes to a file (-o FILE,txt) that is printed afterwards.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/env.sh"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
# Qt's offscreen platform on Windows reads its fonts from a folder (it has no
# fontconfig there): the host's DejaVu, the fonts the Linux suite measures in.
if [ "$QT_QPA_PLATFORM" = offscreen ] && [ -z "${QT_QPA_FONTDIR:-}" ] && [ -d /usr/share/fonts/truetype/dejavu ]; then
  export QT_QPA_FONTDIR='Z:\usr\share\fonts\truetype\dejavu'
fi
# Wine hands no QT_* variable to a Windows program (they are taken to be a
# Linux Qt's); it passes WINEQT_* on as QT_*.
for v in $(compgen -e | grep '^QT_'); do export "WINE$v=${!v}"; done
if [ -z "${WINEPATH+set}" ]; then
  export WINEPATH="$(winepath_of() { echo "Z:${1//\//\\}"; }; winepath_of "$QVX_WIN_QT/bin");$(echo "Z:${QVX_MINGW_GCC_DLLS//\//\\}");$(echo "Z:${QVX_MINGW_SYS_DLLS//\//\\}")"
fi
program="$1"
shift
qvx_win_prefix
case "$(basename "$program")" in
  tst_*)
    report="$(mktemp "${TMPDIR:-/tmp}/qvx-wine-report.XXXXXX")"
    "$QVX_WINE" "$program" -o "$report,txt" "$@"
    rc=$?
    cat "$report"
    rm -f "$report"
    exit $rc
    ;;
  *)
    exec "$QVX_WINE" "$program" "$@"
    ;;
esac
