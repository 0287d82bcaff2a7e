#!/usr/bin/env bash
# Checks an installed tree: check-install.sh [--deb] ROOT PREFIX [SOURCE_DIR]
#   --deb   ROOT is an unpacked Debian package: udev rules only in /usr/lib/udev
#   ROOT    the folder the install went into (a DESTDIR, an unpacked .deb, or /)
#   PREFIX  the install prefix inside it (/usr, /usr/local)
# Every expected file is there, the desktop entry and the AppStream metainfo
# validate, every installed program answers --help without a display, each
# manual page says what its program's --help says, and orvex-log logs the
# built-in sample from the installed folder.
set -euo pipefail
deb=0
if [ "${1:-}" = --deb ]; then deb=1; shift; fi
root=${1:?usage: check-install.sh ROOT PREFIX [SOURCE_DIR]}
prefix=${2:?usage: check-install.sh ROOT PREFIX [SOURCE_DIR]}
source_dir=${3:-$(cd "$(dirname "$0")/.." && pwd)}
here=$(cd "$(dirname "$0")" && pwd)
base="$root$prefix"
id=org.orvex.Interface
programs=(orvex-interface orvex-log orvex-meter-sim)
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }

expect_file() { if [ -f "$1" ]; then ok "${1#"$root"}"; else fail "missing ${1#"$root"}"; fi; }

for p in "${programs[@]}"; do
  if [ -x "$base/bin/$p" ]; then ok "${prefix}/bin/$p"; else fail "missing program $prefix/bin/$p"; fi
  expect_file "$base/share/man/man1/$p.1.gz"
done
expect_file "$base/share/applications/$id.desktop"
expect_file "$base/share/metainfo/$id.metainfo.xml"
expect_file "$base/share/icons/hicolor/scalable/apps/$id.svg"
for size in 16 32 48 64 128 256; do
  png="$base/share/icons/hicolor/${size}x${size}/apps/$id.png"
  expect_file "$png"
  if [ -f "$png" ]; then
    # The PNG header holds width and height as big-endian 32-bit numbers at bytes 16..23.
    read -r w h < <(od -An -tu1 -j16 -N8 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
    [ "$w" = "$size" ] && [ "$h" = "$size" ] || fail "$png is ${w}x$h, not ${size}x$size"
  fi
done
expect_file "$base/share/doc/orvex-interface/USER-GUIDE.md"
expect_file "$base/share/doc/orvex-interface/copyright"
# The guide's pictures travel with it.
if [ -f "$base/share/doc/orvex-interface/USER-GUIDE.md" ]; then
  while read -r picture; do
    expect_file "$base/share/doc/orvex-interface/$picture"
  done < <(grep -o '](screenshots/[^)]*)' "$base/share/doc/orvex-interface/USER-GUIDE.md" | sed 's/^](//; s/)$//' | sort -u)
fi
# The USB adapter cable's udev rule: a package has it in /usr/lib/udev/rules.d,
# a local install in /etc/udev/rules.d (an install with the prefix /usr in
# either: udev reads both).
for rule in "$source_dir"/link/udev/*.rules; do
  [ -f "$rule" ] || continue
  name=$(basename "$rule")
  dest="$root/etc/udev/rules.d/$name"
  if [ "$deb" = 1 ] || { [ "$prefix" = /usr ] && [ ! -f "$dest" ]; }; then
    dest="$root/usr/lib/udev/rules.d/$name"
  fi
  [ "$deb" = 1 ] && [ -e "$root/etc/udev" ] && fail "the package has files in /etc/udev"
  expect_file "$dest"
  if [ -f "$dest" ] && ! grep -q '^SUBSYSTEM=="hidraw", ATTRS{product}=="USB to Serial", TAG+="uaccess"$' "$dest"; then
    fail "$dest does not give the logged-in user the cable"
  fi
done

if desktop-file-validate "$base/share/applications/$id.desktop"; then
  ok "desktop-file-validate"
else
  fail "desktop-file-validate $id.desktop"
fi
grep -q '^Exec=orvex-interface$' "$base/share/applications/$id.desktop" || fail "the desktop entry's Exec line"
grep -q "^Icon=$id\$" "$base/share/applications/$id.desktop" || fail "the desktop entry's icon is not $id"
if appstreamcli validate --no-net "$base/share/metainfo/$id.metainfo.xml"; then
  ok "appstreamcli validate"
else
  fail "appstreamcli validate $id.metainfo.xml"
fi
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$base/share/metainfo/$id.metainfo.xml" ||
  fail "the metainfo does not launch $id.desktop"

# The programs run from the installed folder, without a display.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for p in "${programs[@]}"; do
  [ -x "$base/bin/$p" ] || continue
  if env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$base/bin/$p" --help >"$work/$p.help" 2>"$work/$p.err" &&
     [ -s "$work/$p.help" ]; then
    ok "$p --help"
  else
    fail "$p --help: $(head -3 "$work/$p.err")"
    continue
  fi
  page="$base/share/man/man1/$p.1.gz"
  [ -f "$page" ] || continue
  zcat "$page" | groff -man -Tutf8 -rLL=300n -rHY=0 -P-cbu 2>"$work/$p.groff" >"$work/$p.man"
  [ -s "$work/$p.groff" ] && fail "$p.1: groff warns: $(head -3 "$work/$p.groff")"
  if python3 "$here/same-words.py" "$work/$p.help" "$work/$p.man"; then
    ok "$p.1 says what $p --help says"
  else
    fail "$p.1 differs from $p --help"
  fi
done
if (cd "$work" && "$base/bin/orvex-log" --sample --out sample.csv >sample.json) && [ -s "$work/sample.json" ] &&
   [ "$(wc -l <"$work/sample.json")" -gt 1 ] && [ -s "$work/sample.csv" ]; then
  ok "orvex-log --sample ($(wc -l <"$work/sample.json") readings)"
else
  fail "orvex-log --sample"
fi

if [ "$failures" -gt 0 ]; then
  echo "check-install: $failures failure(s) in $root$prefix" >&2
  exit 1
fi
echo "check-install: $root$prefix is complete"
