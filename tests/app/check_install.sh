#!/bin/sh
# Installs the build into a fresh prefix of its own and checks what a desktop and a shell find
# there: the three programs, the launcher, its icon and its AppStream entry, the manual pages,
# the copyright file and the changelog, and nothing else.
# Usage: check_install.sh <cmake> <build dir> <bin dir> <data dir> <man dir> <doc dir> <version>
#        <ON when the manual pages are built>  (the four folders relative to the prefix)
set -eu
cmake=$1
build=$2
bindir=$3
datadir=$4
mandir=$5
docdir=$6
version=$7
manpages=$8

prefix=$(mktemp -d "${TMPDIR:-/tmp}/norva-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
unset DESTDIR

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

log=$("$cmake" --install "$build" --prefix "$prefix" 2>&1) ||
    fail "cmake --install failed:
$log"

desktop="$datadir/applications/norva-protocol.desktop"
icon="$datadir/icons/hicolor/64x64/apps/norva-protocol.png"
metainfo="$datadir/metainfo/org.norvaprotocol.NorvaProtocol.metainfo.xml"
programs="norva-protocol norva-acceptor-sim norva-cli"
pages=""
if [ "$manpages" = ON ]; then
    for program in $programs; do
        pages="$pages $mandir/man1/$program.1.gz"
    done
fi
# shellcheck disable=SC2086
expected=$(printf '%s\n' "$bindir/norva-acceptor-sim" "$bindir/norva-cli" "$bindir/norva-protocol" "$desktop" \
    "$icon" "$metainfo" "$docdir/copyright" "$docdir/changelog.Debian.gz" $pages | sort)
installed=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
[ "$installed" = "$expected" ] ||
    fail "installed files differ; expected:
$expected
installed:
$installed"

for program in $programs; do
    [ -x "$prefix/$bindir/$program" ] || fail "$bindir/$program is not executable"
    # Without a display: the window program must answer before it needs one.
    said=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$prefix/$bindir/$program" --version) ||
        fail "$program --version failed"
    first=$(printf '%s\n' "$said" | head -n 1)
    [ "$first" = "$program $version" ] || fail "$program --version says '$first', not '$program $version'"
done
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$prefix/$bindir/norva-protocol" --help |
    grep -q '^Usage: norva-protocol' || fail "norva-protocol --help does not answer without a display"
"$prefix/$bindir/norva-acceptor-sim" --help | grep -q '^Usage: norva-acceptor-sim' ||
    fail "the installed simulator does not run"
"$prefix/$bindir/norva-cli" --help | grep -q '^Usage: norva-cli' ||
    fail "the installed command line does not run"

for line in '[Desktop Entry]' 'Type=Application' 'Name=Norva Protocol' 'Exec=norva-protocol' \
    'Icon=norva-protocol'; do
    grep -qxF "$line" "$prefix/$desktop" || fail "$desktop lacks the line $line"
done
if command -v desktop-file-validate >/dev/null 2>&1; then
    desktop-file-validate "$prefix/$desktop" || fail "$desktop does not validate"
fi

command -v appstreamcli >/dev/null 2>&1 ||
    fail "appstreamcli is needed to check $metainfo (Debian package appstream)"
appstreamcli validate --no-net "$prefix/$metainfo" >/dev/null 2>&1 ||
    fail "$metainfo does not validate: $(appstreamcli validate --no-net "$prefix/$metainfo" 2>&1)"
grep -qF '<launchable type="desktop-id">norva-protocol.desktop</launchable>' "$prefix/$metainfo" ||
    fail "$metainfo does not name the launcher"

# A PNG signature, then the IHDR chunk with a width and a height of 64.
header=$(od -An -tx1 -N24 "$prefix/$icon" | tr -d ' \n')
[ "$header" = "89504e470d0a1a0a0000000d494844520000004000000040" ] ||
    fail "$icon is not a 64x64 PNG ($header)"

for page in $pages; do
    warnings=$(gzip -dc "$prefix/$page" | LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z 2>&1) ||
        fail "$page does not render"
    [ -z "$warnings" ] || fail "$page renders with warnings:
$warnings"
done
for name in copyright changelog.Debian.gz; do
    [ -s "$prefix/$docdir/$name" ] || fail "$docdir/$name is empty"
done

echo "install layout under $prefix: ok"
