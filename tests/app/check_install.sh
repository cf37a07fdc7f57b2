#!/bin/sh
# Installs the build into a fresh prefix of its own and checks what a desktop and a shell find
# there: the three programs, the launcher, its icon and its AppStream entry, and nothing else.
# Usage: check_install.sh <cmake> <build dir> <bin dir> <data dir>  (the last two relative)
set -eu
cmake=$1
build=$2
bindir=$3
datadir=$4

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
expected=$(printf '%s\n' "$bindir/norva-acceptor-sim" "$bindir/norva-cli" "$bindir/norva-protocol" "$desktop" \
    "$icon" "$metainfo" | sort)
installed=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
[ "$installed" = "$expected" ] ||
    fail "installed files differ; expected:
$expected
installed:
$installed"

for program in norva-protocol norva-acceptor-sim norva-cli; do
    [ -x "$prefix/$bindir/$program" ] || fail "$bindir/$program is not executable"
done
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

echo "install layout under $prefix: ok"
