#!/usr/bin/env bash
# Puts beside the Windows programs everything they load, found by walking the
# PE imports of each binary (x86_64-w64-mingw32-objdump -p), the plugins' too:
#   deploy.sh BIN_DIR [DEST_DIR]
# BIN_DIR holds qvxtool.exe, qvxctl.exe, qvxsim.exe and UsrMan.pdf; without
# DEST_DIR the DLLs are put into BIN_DIR itself.  Qt's platform and style
# plugins go to platforms/ and styles/.  Fails when an import is found
# neither in Qt, nor in the MinGW runtime, nor among Windows' own DLLs
# (system-dlls.txt).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/env.sh"
bin="$(cd "$1" && pwd)"
dest="${2:-$bin}"
mkdir -p "$dest"
dest="$(cd "$dest" && pwd)"
objdump=x86_64-w64-mingw32-objdump
search=("$QVX_WIN_QT/bin" "$QVX_MINGW_GCC_DLLS" "$QVX_MINGW_SYS_DLLS")
mapfile -t system < <(grep -v '^#' "$here/system-dlls.txt" | grep -v '^$')

is_system() {
  local name="${1,,}" pattern
  for pattern in "${system[@]}"; do
    # shellcheck disable=SC2053  # the list's * are patterns
    [[ "$name" == $pattern ]] && return 0
  done
  return 1
}

declare -A seen=()
missing=0
# deploy_imports FILE: copies each import of FILE that is not a system DLL
# beside the programs, then walks its imports in turn.
deploy_imports() {
  local file="$1" dll found dir
  while read -r dll; do
    [ -n "$dll" ] || continue
    is_system "$dll" && continue
    [ -n "${seen[${dll,,}]:-}" ] && continue
    seen[${dll,,}]=1
    found=
    for dir in "${search[@]}"; do
      if [ -f "$dir/$dll" ]; then
        found="$dir/$dll"
        break
      fi
    done
    if [ -z "$found" ]; then
      echo "deploy: $(basename "$file") imports $dll, which is neither Qt's, MinGW's nor Windows' own" >&2
      missing=1
      continue
    fi
    cp -p "$found" "$dest/$dll"
    deploy_imports "$found"
  done < <("$objdump" -p "$file" | sed -n 's/^\s*DLL Name: \(.*\)$/\1/p' | tr -d '\r')
}

programs=(qvxtool.exe qvxctl.exe qvxsim.exe)
for p in "${programs[@]}"; do
  [ -f "$bin/$p" ] || { echo "deploy: $bin/$p is missing" >&2; exit 1; }
  [ "$bin" = "$dest" ] || cp -p "$bin/$p" "$dest/"
  deploy_imports "$bin/$p"
done
# Plugins Qt loads at run time (not imports): the window system and the
# native look.  The about box decodes its JPEG logo with libjpeg itself
# (imported above), so no image format plugin is needed.
for plugin in platforms/qwindows.dll styles/qwindowsvistastyle.dll; do
  mkdir -p "$dest/$(dirname "$plugin")"
  cp -p "$QVX_WIN_QT/plugins/$plugin" "$dest/$plugin"
  deploy_imports "$QVX_WIN_QT/plugins/$plugin"
done
[ -f "$bin/UsrMan.pdf" ] || { echo "deploy: $bin/UsrMan.pdf is missing" >&2; exit 1; }
[ "$bin" = "$dest" ] || cp -p "$bin/UsrMan.pdf" "$dest/"
if [ "$missing" -ne 0 ]; then
  exit 1
fi
# Qt's and Debian's MinGW DLLs carry their debugging information (most of
# libstdc++-6.dll's 23 MB), and so do the programs; a download needs none of
# it.  The programs are stripped as copies only, the build's own stay whole.
strip_debug=(x86_64-w64-mingw32-strip --strip-debug)
find "$dest" -name '*.dll' -exec "${strip_debug[@]}" {} +
if [ "$bin" != "$dest" ]; then
  for p in "${programs[@]}"; do "${strip_debug[@]}" "$dest/$p"; done
fi
echo "deploy: $dest: ${#seen[@]} imports looked at, $(find "$dest" -name '*.dll' | wc -l) DLLs beside the programs"
