#!/usr/bin/env bash
# Checks the Debian package built in BUILD_DIR (default build-package): its desktop entry,
# metainfo and manual pages validate, lintian finds no errors, and the installed programs run
# from a copy of the package's tree that is neither the build tree nor /usr.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-package}
debs=("$build"/tarnwick_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "expected one package in $build" >&2; exit 1; }
deb=${debs[0]}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/extracted"
root=$work/extracted/usr

desktop-file-validate "$root/share/applications/tarnwick.desktop"
appstreamcli validate --no-net --no-color "$root"/share/metainfo/*.metainfo.xml

# The windows are laid out for the font of this package.
dpkg-deb -f "$deb" Depends | grep -qw fonts-wine || { echo "no dependency on fonts-wine" >&2; exit 1; }

# lintian's exit status ignores warnings; errors fail the check.
lintian --fail-on error --suppress-tags initial-upload-closes-no-bugs "$deb"

for page in tarnwick tarnwick-policy tarnwick-reg tarnwick-lab; do
  file="$root/share/man/man1/$page.1.gz"
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 "$file" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { echo "$page.1: $warnings" >&2; exit 1; }
  [ -n "$(LC_ALL=C.UTF-8 man -l "$file" 2>/dev/null)" ] || { echo "$page.1 renders empty" >&2; exit 1; }
done

for size in 16 32 48 64 128; do
  file "$root/share/icons/hicolor/${size}x$size/apps/tarnwick.png" | grep -q "$size x $size" ||
    { echo "icon $size is not ${size}x$size" >&2; exit 1; }
done

# The programs run from a moved copy; the help lies where the program looks beside itself.
prefix=$work/prefix
mv "$root" "$prefix"
machine=$work/machine
export QT_QPA_PLATFORM=offscreen XDG_DATA_HOME=$work/data
description=$(cd "$work" && "$prefix/bin/tarnwick" --machine "$machine" --describe)
grep -qxF "Help collection:   $prefix/share/tarnwick/tarnwick.qhc" <<<"$description" ||
  { echo "the installed tarnwick does not find its help: $description" >&2; exit 1; }
"$prefix/bin/tarnwick-policy" --machine "$machine" users >/dev/null
"$prefix/bin/tarnwick-reg" --help | grep -q '^Usage: tarnwick-reg'
"$prefix/bin/tarnwick-reg" --machine "$machine" export | grep -q '^REGEDIT4'
"$prefix/bin/tarnwick-lab" --help | grep -q '^Usage: tarnwick-lab'
echo "package ok: $deb"
