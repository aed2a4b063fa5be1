#!/usr/bin/env bash
# Packs a Windows package folder into a zip and an installer beside it (NSIS,
# packaging/kq517.nsi):  FOLDER.zip  and  kq517-VERSION-setup.exe
# Usage: scripts/pack-windows.sh FOLDER VERSION
set -euo pipefail
cd "$(dirname "$0")/.."
stage=$(realpath "$1")
version=$2
package=$(dirname "$stage")
name=$(basename "$stage")

rm -f "$package/$name.zip"
(cd "$package" && zip -qr "$name.zip" "$name")

# The installer takes the folder's files one by one, and its uninstaller removes
# exactly those, then the folders they were in when empty: nothing else a user put
# in the folder goes with them.
files=$package/files.nsh
uninstall=$package/uninstall.nsh
: >"$files"
: >"$uninstall"
folders=()
while IFS= read -r dir; do
  dir=${dir#.}
  dir=${dir#/}
  win=${dir//\//\\}
  echo "SetOutPath \"\$INSTDIR${win:+\\$win}\"" >>"$files"
  while IFS= read -r file; do
    file=${file#./}
    echo "File \"$stage/${dir:+$dir/}$file\"" >>"$files"
    echo "!insertmacro KQ_UNINSTALL_FILE \"${win:+$win\\}$file\"" >>"$uninstall"
  done < <(cd "$stage/$dir" && find . -maxdepth 1 -type f | sort)
  [ -n "$dir" ] && folders+=("$win")
done < <(cd "$stage" && find . -type d | sort)
# The deepest folders first.
for ((i = ${#folders[@]} - 1; i >= 0; i--)); do
  echo "!insertmacro KQ_UNINSTALL_FOLDER \"${folders[i]}\"" >>"$uninstall"
done
makensis -V2 -DVERSION="$version" -DFILES="$files" -DUNINSTALL_FILES="$uninstall" \
  -DOUTFILE="$package/kq517-$version-setup.exe" packaging/kq517.nsi >/dev/null
rm -f "$files" "$uninstall"
echo "Windows package: $package/$name.zip and $package/kq517-$version-setup.exe"
