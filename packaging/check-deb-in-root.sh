#!/usr/bin/env bash
# check-deb-in-root.sh DEB: installs the package with dpkg into a throw-away
# Debian root (debootstrap, minbase, with the package's dependencies), runs its
# programs from /usr/bin there, removes and purges it, and checks that nothing
# of it is left.  The prepared root is cached as a tar file, keyed by suite,
# mirror and dependency list, in ${ORVEX_PACKAGE_CACHE:-~/.cache/orvex-package}.
# Prints SKIP with the reason and succeeds where the machine cannot do this.
set -euo pipefail
deb=$(realpath "${1:?usage: check-deb-in-root.sh DEB}")
skip() { echo "SKIP: the throw-away root check: $*"; exit 0; }

[ "$(id -u)" -eq 0 ] || skip "debootstrap and chroot need root"
command -v debootstrap >/dev/null || skip "debootstrap is not installed"
. /etc/os-release
suite=${ORVEX_DEBIAN_SUITE:-${VERSION_CODENAME:-}}
[ -n "$suite" ] || skip "this system names no Debian suite (set ORVEX_DEBIAN_SUITE)"
mirror=${ORVEX_DEBIAN_MIRROR:-http://deb.debian.org/debian}
host=$(echo "$mirror" | sed -E 's|^[a-z]+://([^/:]+).*|\1|')
port=80
case "$mirror" in https://*) port=443 ;; esac
timeout 20 bash -c "exec 3<>/dev/tcp/$host/$port" 2>/dev/null || skip "the mirror $mirror cannot be reached"

# The Depends field without versions: the packages the root must have.
deps=$(dpkg-deb -f "$deb" Depends | sed -E 's/\([^)]*\)//g; s/[|].*//; s/,/ /g' | xargs -n1 | sort -u | xargs)
package=$(dpkg-deb -f "$deb" Package)
cache=${ORVEX_PACKAGE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/orvex-package}
key=$(echo "$suite $mirror $deps" | sha256sum | cut -c1-16)
tarball="$cache/root-$suite-$key.tar"
root=$(mktemp -d "${TMPDIR:-/var/tmp}/orvex-root.XXXXXX")
trap 'rm -rf --one-file-system "$root"' EXIT

start=$(date +%s)
if [ -f "$tarball" ]; then
  tar -xf "$tarball" -C "$root"
  echo "root: $suite from the cache ($tarball)"
else
  echo "root: debootstrap --variant=minbase $suite with: $deps"
  if ! debootstrap --variant=minbase --include="${deps// /,}" "$suite" "$root" "$mirror" >"$root.log" 2>&1; then
    tail -20 "$root.log" >&2
    rm -f "$root.log"
    echo "FAIL: debootstrap could not make the root" >&2
    exit 1
  fi
  rm -f "$root.log"
  rm -rf "$root/var/cache/apt/archives/"*.deb
  mkdir -p "$cache"
  rm -f "$cache/root-$suite-"*.tar # roots for older dependency lists
  tar -cf "$tarball.tmp" -C "$root" . && mv "$tarball.tmp" "$tarball"
fi
echo "root ready in $(($(date +%s) - start)) s"

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

cp "$deb" "$root/tmp/package.deb"
if in_root dpkg -i /tmp/package.deb; then
  echo "ok: dpkg -i"
else
  fail "dpkg -i $(basename "$deb")"
  exit 1
fi
in_root dpkg-query -L "$package" | sort >"$root.files"

out=$(in_root sh -c 'cd /tmp && /usr/bin/orvex-log --sample --out sample.csv') || fail "orvex-log --sample"
if [ "$(echo "$out" | grep -c '^{')" -gt 1 ] && [ -s "$root/tmp/sample.csv" ]; then
  echo "ok: /usr/bin/orvex-log --sample ($(echo "$out" | grep -c '^{') readings)"
else
  fail "/usr/bin/orvex-log --sample wrote no readings"
fi
for p in orvex-interface orvex-log orvex-meter-sim; do
  if in_root "/usr/bin/$p" --help >/dev/null; then echo "ok: /usr/bin/$p --help"; else fail "/usr/bin/$p --help"; fi
done
# The window starts with the package's dependencies alone (no display: offscreen).
if [ "$(in_root env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=/tmp /usr/bin/orvex-interface --quit-when-shown 2>/dev/null)" = shown ]; then
  echo "ok: /usr/bin/orvex-interface shows its window"
else
  fail "/usr/bin/orvex-interface did not show its window"
fi

if in_root dpkg -r "$package" >/dev/null && in_root dpkg -P "$package" >/dev/null; then
  echo "ok: dpkg -r, dpkg -P"
else
  fail "dpkg -r / -P $package"
fi
if in_root dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null | grep -qv not-installed; then
  fail "$package is still known to dpkg after the purge"
fi
left=0
while read -r f; do
  if [ -e "$root$f" ] && [ ! -d "$root$f" ]; then
    fail "left behind: $f"
    left=1
  fi
done <"$root.files"
[ "$left" -eq 0 ] && echo "ok: no file of the package is left"
rm -f "$root.files"

[ "$failures" -eq 0 ] || { echo "check-deb-in-root: $failures failure(s)" >&2; exit 1; }
echo "check-deb-in-root: $(basename "$deb") installs, runs and uninstalls cleanly in a $suite root"
