# Shared by scripts/run and scripts/test: packages, configure, build.
# shellcheck shell=bash

NORVA_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Debian packages the build and the tests need.
# Xvfb lets a test run the real program on a real X server; the fonts stand in for Arial and
# Tahoma with the same widths. Qt's SVG module writes the session picture as SVG.
NORVA_PACKAGES=(cmake g++ make pkg-config qt6-base-dev qt6-svg-dev xvfb fonts-liberation
                fonts-dejavu-extra)
# The fuzz targets are built with clang and its libFuzzer runtime.
NORVA_FUZZ_PACKAGES=(clang libclang-rt-14-dev)
# The test command also checks the formatting, the installed AppStream file and the manual
# pages, which help2man makes from the programs' --help.
NORVA_CHECK_PACKAGES=(clang-format appstream help2man groff-base)
# scripts/package: dpkg-shlibdeps (dpkg-dev) and file find what the programs link against.
NORVA_PACKAGE_PACKAGES=(dpkg-dev file help2man)
# The test command's checks of the package.
NORVA_PACKAGE_CHECK_PACKAGES=(lintian desktop-file-utils appstream groff-base)

norva_missing_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" \
            || missing+=("$pkg")
    done
    echo "${missing[@]}"
}

norva_ensure_packages() {
    local missing
    missing=$(norva_missing_packages "$@")
    [ -z "$missing" ] && return 0
    echo "Installing Debian packages: $missing"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || { echo "Need root (or sudo) to install: $missing" >&2; return 1; }
        sudo="sudo"
    fi
    # shellcheck disable=SC2086
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q \
        && $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
}

# norva_configure <build dir> [extra cmake arguments...]
# Arguments given again reach a folder configured before, so an option cannot go stale there.
norva_configure() {
    local dir="$1"
    shift
    if [ ! -f "$dir/CMakeCache.txt" ] || [ "$#" -gt 0 ]; then
        cmake -S "$NORVA_ROOT" -B "$dir" "$@" >/dev/null
    fi
}

# The tracked C++ sources; without a git checkout, every source outside the build folders.
norva_cxx_sources() {
    if git -C "$NORVA_ROOT" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git -C "$NORVA_ROOT" ls-files -- '*.cpp' '*.h'
    else
        (cd "$NORVA_ROOT" && find . -path './build*' -prune -o -type f \( -name '*.cpp' -o -name '*.h' \) \
            -print | sed 's|^\./||' | sort)
    fi
}

# Fails, naming the files, when a source differs from what .clang-format makes of it.
norva_check_format() {
    local files
    mapfile -t files < <(norva_cxx_sources)
    (cd "$NORVA_ROOT" && clang-format --dry-run --Werror "${files[@]}")
}

# norva_build <build dir> [extra cmake arguments...]
norva_build() {
    norva_configure "$@"
    cmake --build "$1" --parallel "$(nproc)"
}

# norva_build_quietly <build dir> <targets...>: one line to say so; the compiler's output only
# when the build fails.
norva_build_quietly() {
    local dir="$1"
    shift
    echo "Building in ${dir#"$NORVA_ROOT"/} ..." >&2
    local log status=0
    log=$(mktemp "${TMPDIR:-/tmp}/norva-build.XXXXXX")
    { norva_configure "$dir" && cmake --build "$dir" --parallel "$(nproc)" --target "$@"; } \
        >"$log" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
        cat "$log" >&2
        echo "The build failed (status $status)." >&2
    fi
    rm -f "$log"
    return "$status"
}

# The test programs of the suites carrying a CTest label; a test is named after its program.
norva_labelled_tests() {  # <build dir> <label>
    (cd "$1" && ctest -N -L "$2" | sed -n 's/^ *Test *#[0-9]*: //p')
}
