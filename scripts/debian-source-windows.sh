#!/usr/bin/env bash
# Fetches and unpacks a Debian source package for the Windows build, without touching
# the system's apt configuration: a private one under the cache folder holds deb-src
# entries made from the system's own deb entries, its own package lists and cache.
# Usage: scripts/debian-source-windows.sh PACKAGE[=VERSION] DEST
#   DEST receives the unpacked tree (dpkg-source -x); nothing is done when DEST exists.
set -euo pipefail
package=$1
dest=$2
[ -d "$dest" ] && exit 0

cache=${XDG_CACHE_HOME:-$HOME/.cache}/kq517
apt_dir=$cache/apt
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"

# deb-src twins of the system's entries, one-line (.list) and deb822 (.sources) alike.
: >"$apt_dir/sources.list"
if [ -f /etc/apt/sources.list ]; then
  sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' /etc/apt/sources.list >>"$apt_dir/sources.list"
fi
rm -f "$apt_dir"/sources.list.d/*
for f in /etc/apt/sources.list.d/*.list; do
  [ -f "$f" ] || continue
  sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" >>"$apt_dir/sources.list"
done
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] || continue
  sed 's/^Types:.*/Types: deb-src/' "$f" >"$apt_dir/sources.list.d/$(basename "$f")"
done

apt_opts=(
  -o Dir::Etc::SourceList="$apt_dir/sources.list"
  -o Dir::Etc::SourceParts="$apt_dir/sources.list.d"
  -o Dir::State::Lists="$apt_dir/lists"
  -o Dir::Cache="$apt_dir/cache"
  # the download goes to a folder that apt's own user may not be able to write
  -o APT::Sandbox::User=root
)
# A third-party entry without sources fails its own index only; the package is
# looked for in what did arrive.
apt-get "${apt_opts[@]}" update -qq || true

work=$(mktemp -d "$cache/source.XXXXXX")
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get "${apt_opts[@]}" source -qq "$package" >/dev/null)
tree=$(find "$work" -mindepth 1 -maxdepth 1 -type d | head -n 1)
if [ -z "$tree" ]; then
  echo "apt-get source $package unpacked nothing" >&2
  exit 1
fi
mkdir -p "$(dirname "$dest")"
mv "$tree" "$dest"
