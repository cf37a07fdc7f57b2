#!/usr/bin/env bash
# Checks a package made by scripts/package: its control fields and file list, a Depends on the
# Qt runtime libraries and on no development package, lintian without an error and without a
# warning the README does not explain, the programs unpacked into a temporary root printing
# their version (the window program without a display), the launcher, the AppStream entry and
# the manual pages as their own validators see them, and the changelog's version.
# Usage: check_deb.sh <package.deb>
set -euo pipefail
deb=$1
root_dir="$(cd "$(dirname "$0")/../.." && pwd)"
readme="$root_dir/README.md"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
[ -f "$deb" ] || fail "no package at $deb"
field() { dpkg-deb -f "$deb" "$1"; }

package=$(field Package)
version=$(field Version)
arch=$(field Architecture)
[ "$package" = norva-protocol ] || fail "Package is '$package'"
[[ "$version" =~ ^[0-9][0-9.]*-[0-9]+$ ]] || fail "Version '$version' is not VERSION-REVISION"
[ "$arch" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$arch'"
[ "$(basename "$deb")" = "${package}_${version}_${arch}.deb" ] ||
    fail "$(basename "$deb") is not named ${package}_${version}_${arch}.deb"
for name in Maintainer Section Priority Description Installed-Size; do
    [ -n "$(field "$name")" ] || fail "the control file has no $name"
done
[ -z "$(field Homepage)" ] || fail "the control file names a homepage"
echo "$package $version $arch: control fields ok"

depends=$(field Depends)
echo "Depends: $depends"
for library in libqt6core6 libqt6gui6 libqt6widgets6 libqt6svg6 libc6; do
    [[ ", $depends," =~ ,\ $library[\ ,] ]] || fail "Depends lacks $library"
done
[[ "$depends" != *-dev* ]] || fail "Depends names a development package"

# Every file and link, with its mode and owner; folders aside.
listing=$(dpkg-deb -c "$deb")
echo "$listing"
files=$(awk '$1 !~ /^d/ {print $1, $2, $NF}' <<<"$listing" | sort -k3)
expected=$(sort -k3 <<'LIST'
-rwxr-xr-x root/root ./usr/bin/norva-protocol
-rwxr-xr-x root/root ./usr/bin/norva-cli
-rwxr-xr-x root/root ./usr/bin/norva-acceptor-sim
-rw-r--r-- root/root ./usr/share/applications/norva-protocol.desktop
-rw-r--r-- root/root ./usr/share/icons/hicolor/64x64/apps/norva-protocol.png
-rw-r--r-- root/root ./usr/share/metainfo/org.norvaprotocol.NorvaProtocol.metainfo.xml
-rw-r--r-- root/root ./usr/share/man/man1/norva-protocol.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/norva-cli.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/norva-acceptor-sim.1.gz
-rw-r--r-- root/root ./usr/share/doc/norva-protocol/copyright
-rw-r--r-- root/root ./usr/share/doc/norva-protocol/changelog.Debian.gz
LIST
)
[ "$files" = "$expected" ] || fail "the package's files differ; expected:
$expected
packed:
$files"

lintian_out=$(lintian "$deb" 2>&1) || true
echo "lintian:"
echo "${lintian_out:-(nothing to report)}"
! grep -q '^E: ' <<<"$lintian_out" || fail "lintian reports an error"
# A warning left is one the README explains by its tag.
while read -r tag; do
    grep -qF "\`$tag\`" "$readme" || fail "lintian warns $tag, and the README does not explain it"
done < <(sed -n 's/^W: [^:]*: \([a-z0-9-]*\).*/\1/p' <<<"$lintian_out" | sort -u)

unpacked=$(mktemp -d "${TMPDIR:-/tmp}/norva-deb.XXXXXX")
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
for program in norva-protocol norva-cli norva-acceptor-sim; do
    said=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$unpacked/usr/bin/$program" --version) ||
        fail "$program --version failed"
    [ "$(head -n 1 <<<"$said")" = "$program ${version%-*}" ] ||
        fail "$program --version says '$(head -n 1 <<<"$said")', not '$program ${version%-*}'"
    page="$unpacked/usr/share/man/man1/$program.1.gz"
    warnings=$(gzip -dc "$page" | LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z 2>&1) ||
        fail "$program.1 does not render"
    [ -z "$warnings" ] || fail "$program.1 renders with warnings:
$warnings"
done
echo "the programs print version ${version%-*}; the manual pages render without a warning"

desktop-file-validate "$unpacked/usr/share/applications/norva-protocol.desktop" ||
    fail "the desktop entry does not validate"
metainfo="$unpacked/usr/share/metainfo/org.norvaprotocol.NorvaProtocol.metainfo.xml"
appstreamcli validate --no-net "$metainfo" >/dev/null 2>&1 ||
    fail "the AppStream entry does not validate: $(appstreamcli validate --no-net "$metainfo" 2>&1)"
grep -qF '<project_license>MIT</project_license>' "$metainfo" || fail "the AppStream entry names no licence"

doc="$unpacked/usr/share/doc/norva-protocol"
newest=$(gzip -dc "$doc/changelog.Debian.gz" | dpkg-parsechangelog -l- -S Version)
[ "$newest" = "$version" ] || fail "the changelog's newest entry is $newest, the package $version"
head -n 1 "$doc/copyright" |
    grep -qxF 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "the copyright file is not in the machine-readable format"
echo "package $(basename "$deb"): ok"
