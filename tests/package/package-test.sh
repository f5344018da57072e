#!/usr/bin/env bash
# Builds both Debian packages from the given build folder, checks them with lintian and the
# desktop validators, installs them with apt-get into a fresh Debian 12 root, runs both
# programs there, checks that larkspire: links go to the agent, and removes them again.
#   package-test.sh BUILD_DIR
# A minimal Debian root (debootstrap) and the downloaded packages are kept in
# $LARKSPIRE_PACKAGE_CACHE (default /var/cache/larkspire); each run installs into a copy.
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
cache=${LARKSPIRE_PACKAGE_CACHE:-/var/cache/larkspire}
mirror=${LARKSPIRE_DEBIAN_MIRROR:-http://deb.debian.org/debian}

if [ "$(id -u)" -ne 0 ]; then
  echo "package test skipped: installing into a Debian root needs root (chroot)"
  exit 77
fi

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

work=$(mktemp -d /var/tmp/larkspire-package.XXXXXX)
root=$work/root
mounted=()
cleanup() {
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[i]}" 2>/dev/null || true; done
  rm -rf --one-file-system "$work"
}
trap cleanup EXIT

echo "== packages"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" ||
  { cat "$work/cpack.log"; fail "cpack"; }
agent=$(ls "$work"/out/larkspire_*.deb)
service=$(ls "$work"/out/larkspire-server_*.deb)

dpkg-deb -f "$agent" Recommends | grep -q qt6-wayland ||
  fail "the agent does not recommend qt6-wayland (its windows without XWayland)"

echo "== lintian, desktop-file-validate, appstreamcli"
lintian --fail-on error,warning "$agent" "$service" 2>&1 | grep -v 'running with root' || true
lintian --fail-on error,warning "$agent" "$service" >/dev/null 2>&1 || fail "lintian"
desktop-file-validate "$source_dir/data/app.larkspire.Larkspire.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$source_dir"/data/*.metainfo.xml || fail "appstreamcli validate"

echo "== Debian 12 root"
base=$cache/bookworm-base
if [ ! -f "$base/.complete" ]; then
  rm -rf "$base.partial"
  mkdir -p "$cache"
  debootstrap --variant=minbase bookworm "$base.partial" "$mirror" >"$work/debootstrap.log" ||
    { tail -20 "$work/debootstrap.log"; fail "debootstrap"; }
  printf '%s\n' "deb $mirror bookworm main" "deb $mirror bookworm-updates main" \
    "deb http://deb.debian.org/debian-security bookworm-security main" \
    >"$base.partial/etc/apt/sources.list"
  rm -rf "$base.partial/var/cache/apt/archives"/*.deb "$base"
  touch "$base.partial/.complete"
  mv "$base.partial" "$base"
fi
cp -a "$base" "$root"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mkdir -p "$cache/archives/partial" "$cache/lists/partial"
bind() {
  mount --bind "$1" "$2"
  mounted+=("$2")
}
bind "$cache/archives" "$root/var/cache/apt/archives"
bind "$cache/lists" "$root/var/lib/apt/lists"
mount -t proc proc "$root/proc"
mounted+=("$root/proc")
cp "$agent" "$service" "$root/tmp/"
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

echo "== apt-get install ./larkspire*.deb"
in_root apt-get update -q >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get update"; }
# desktop-file-utils stands for the user's desktop: it indexes the scheme handlers.
# Unsafe I/O: the root is thrown away after the test, so dpkg need not sync every file.
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  -o Dpkg::Options::=--force-unsafe-io \
  desktop-file-utils "/tmp/$(basename "$agent")" "/tmp/$(basename "$service")" \
  >>"$work/apt.log" 2>&1 || { tail -30 "$work/apt.log"; fail "apt-get install"; }

echo "== run"
version=$(in_root larkspire --version) || fail "larkspire --version"
[ "$version" = "larkspire $(dpkg-deb -f "$agent" Version)" ] || fail "larkspire --version said: $version"
in_root larkspire-server --help | grep -q '^Usage:' || fail "larkspire-server --help"
handler=$(in_root xdg-mime query default x-scheme-handler/larkspire)
[ "$handler" = "app.larkspire.Larkspire.desktop" ] || fail "x-scheme-handler/larkspire goes to '$handler'"
in_root test -f /usr/lib/systemd/user/larkspire-server.service || fail "no user unit"
in_root test -x /usr/libexec/larkspire/larkspire-workspace || fail "no workspace helper"
in_root test -x /usr/libexec/larkspire/larkspire-panel || fail "no status panel helper"
in_root ldd /usr/libexec/larkspire/larkspire-workspace | grep -q 'not found' &&
  fail "the workspace helper misses libraries"
in_root man -w larkspire >/dev/null 2>&1 || in_root test -f /usr/share/man/man1/larkspire.1.gz ||
  fail "no manual page"
echo "$version; larkspire: links open $handler"

echo "== apt-get purge"
files=$(in_root dpkg -L larkspire larkspire-server | sort -u)
in_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q larkspire larkspire-server \
  >>"$work/apt.log" 2>&1 || { tail -30 "$work/apt.log"; fail "apt-get purge"; }
left=()
while read -r f; do
  # Folders shared with other packages stay; every file of ours must be gone.
  if [ -n "$f" ] && [ -e "$root$f" ] && [ ! -d "$root$f" ]; then left+=("$f"); fi
done <<<"$files"
((${#left[@]} == 0)) || fail "left after purge: ${left[*]}"
if in_root dpkg-query -W -f='${Status}\n' larkspire 2>/dev/null | grep -q ' installed$'; then
  fail "larkspire still installed"
fi
echo "package test: ok"
