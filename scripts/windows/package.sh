#!/usr/bin/env bash
# Makes the two Windows packages from the cross build in build-win/ (run
# scripts/windows/build.sh first):
#   build-win/qvxtool-<version>-win64.zip        portable: unpacked anywhere (a
#       USB stick), the program keeps its settings file and files\ beside itself;
#   build-win/qvxtool-<version>-win64-setup.exe  the installer (NSIS).
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/windows/env.sh
build="$PWD/$QVX_WIN_BUILD"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
[ -n "$version" ] || { echo "package: no version in $build/CMakeCache.txt" >&2; exit 1; }
name="qvxtool-$version-win64"
stage="$build/package/$name"
rm -rf "$build/package"
mkdir -p "$stage"
bash scripts/windows/deploy.sh "$build/bin" "$stage"
# Stripped: the debug symbols are of no use to the operator.
find "$stage" -maxdepth 1 -name '*.exe' -exec x86_64-w64-mingw32-strip {} +

# The portable ZIP: files\ ready beside the program, as on any first start.
portable="$build/package/portable/$name"
mkdir -p "$(dirname "$portable")"
cp -a "$stage" "$portable"
mkdir -p "$portable/files"
: > "$portable/files/logvalues.txt"
rm -f "$build/$name.zip"
(cd "$build/package/portable" && zip -q -r -9 "$build/$name.zip" "$name")

makensis -V2 -DVERSION="$version" -DSOURCE="$stage" -DOUTFILE="$build/$name-setup.exe" \
  -DICON="$build/windows/qvxtool.ico" packaging/windows/installer.nsi
ls -l "$build/$name.zip" "$build/$name-setup.exe"
