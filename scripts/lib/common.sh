# Shared by the scripts: package installation and Wine setup.
# Source it; it sets REPO to the repository's top directory.

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

is_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# apt-get without questions, waiting for another installation to end rather
# than failing on its lock.
apt_get() {
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@"
}

# Installs the Debian packages among "$@" that are missing, without questions.
# An index that fails to download (with i386 added for 32-bit Wine, the
# archive's i386 index of one suite may) does not stop the installation: apt
# installs from the indexes it has, and fails itself if a package is missing.
ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        is_installed "$package" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    apt_get update -qq || echo "apt-get update failed in part; installing from the indexes it has"
    apt_get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# What building and testing the native and Windows builds needs.
# (make and pkgconf: the guides' example is also built by its Makefile.)
BUILD_PACKAGES=(cmake ninja-build g++ clang libgtest-dev googletest make pkgconf)
WINDOWS_PACKAGES=(mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64)
# The Linux build in 32 bits and the emulator that runs it.
I386_PACKAGES=(g++-multilib qemu-user)

# The example (examples/): the target that builds it and deploys it in
# build/default/example.
EXAMPLE_TARGETS=(example_host_deploy)

# Copies the deployed example to DIR (made anew), without log files of earlier
# runs: the host, the factory, the platform library and the ini files at the
# top; the registry proper in system/; the component modules in components/.
lay_out_example() {
    local dir="$1"
    rm -rf "$dir"
    mkdir -p "$(dirname "$dir")"
    cp -R "$REPO/build/default/example" "$dir"
    rm -rf "$dir/PexilLog"
}

# The package version: the one in the top CMakeLists.txt.
PEXIL_VERSION=$(sed -n 's/^project(Pexil VERSION \([0-9.]*\).*/\1/p' "$REPO/CMakeLists.txt")

# Builds the guides' example against an installed Pexil and runs it
# (tests/package/package_test.cmake); LOG receives the output, the other
# arguments are the script's -D settings.
consume_package() {
    local log="$1"
    shift
    cmake -DEXAMPLE_DIR="$REPO/docs/examples" \
        -DEXPECTED_OUTPUT="$REPO/tests/package/expected_host_output.txt" \
        -DCHECK_EXPORTS="$REPO/tests/check_module_exports.sh" \
        -DCHECK_RUN_PATHS="$REPO/tests/check_run_paths.sh" -DGENERATOR=Ninja \
        -DMAKE_PROGRAM="$(command -v ninja)" -DPEXIL_VERSION="$PEXIL_VERSION" "$@" \
        -P "$REPO/tests/package/package_test.cmake" >"$log" 2>&1
}

# The fuzz targets of fuzz/, in the order scripts/fuzz runs them.
FUZZ_TARGETS=(registry_fuzzer profile_reader_fuzzer strings_fuzzer tool_output_fuzzer)

WINE_LOADER=/usr/lib/wine/wine64
WINE_SERVER=/usr/lib/wine/wineserver
WINE32_LOADER=/usr/lib/wine/wine
# The 32-bit leg's own prefix; cmake/toolchains/wine32-run.sh runs every
# program of the mingw-x86 build in it.
WINE32_PREFIX="$REPO/build/wineprefix32"

# Installs 32-bit Wine (wine32:i386) beside the 64-bit one, for the mingw-x86
# leg; apt's output goes to the file $1. Does nothing when both are there.
# When it cannot, or the kernel does not run the 32-bit loader (a kernel
# without 32-bit support), WINE32_UNAVAILABLE says why, in one line, and it
# returns 1.
#
# i386 packages must match the version of their installed amd64 twins (the
# libraries both Wines load). The archive's i386 index of one suite may fail
# to download while its amd64 index is there (it did for the security suite),
# and apt cannot line the two up then. So 32-bit Wine is installed through a
# view of the suites whose i386 index is there (their index files, copied),
# in which these indexes' versions win even over a newer installed one: an
# amd64 library apt has to line up with its twin takes the version both have
# (libgstreamer-plugins-base1.0-0 went back from the security suite's to the
# release's, hence --allow-downgrades). Nothing is ever removed (--no-remove):
# wine64 stays.
ensure_wine32() {
    local log="$1"
    WINE32_UNAVAILABLE=""
    if is_installed wine32:i386 && is_installed wine64 && [ -x "$WINE32_LOADER" ] &&
        [ -x "$WINE_LOADER" ]; then
        wine32_runs
        return
    fi
    echo "Installing: wine32:i386 (32-bit Wine, beside wine64)"
    : >"$log"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    local added_i386=0
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        if ! $sudo dpkg --add-architecture i386 >>"$log" 2>&1; then
            WINE32_UNAVAILABLE="dpkg does not take the i386 architecture: $(tail -n 1 "$log")"
            return 1
        fi
        added_i386=1
    fi
    apt_get update >>"$log" 2>&1 || true

    local lists=""
    eval "$(apt-config shell lists Dir::State::Lists/d)"
    local view
    view=$(mktemp -d) || return 1
    mkdir -p "$view/lists/partial" "$view/preferences.d"
    local release prefix
    for release in "$lists"/*_InRelease "$lists"/*_Release; do
        [ -e "$release" ] || continue
        prefix=${release%InRelease}
        prefix=${prefix%Release}
        compgen -G "${prefix}*binary-i386_Packages*" >/dev/null && cp "$prefix"* "$view/lists/"
    done
    printf 'Package: *\nPin: release o=*\nPin-Priority: 1001\n' >"$view/preferences"

    # apt's error, in its own words: the first of a failed update, the last
    # of a failed installation.
    local why=""
    if ! compgen -G "$view/lists/*binary-i386_Packages*" >/dev/null; then
        WINE32_UNAVAILABLE="the archive gave no i386 package index"
        why=$(grep -E "^E: " "$log" | head -n 1)
    elif ! apt_get -o Dir::State::Lists="$view/lists" \
        -o Dir::Cache::pkgcache="$view/pkgcache.bin" -o Dir::Cache::srcpkgcache="$view/srcpkgcache.bin" \
        -o Dir::Etc::Preferences="$view/preferences" -o Dir::Etc::PreferencesParts="$view/preferences.d" \
        install -y -q --no-install-recommends --no-remove --allow-downgrades \
        wine32:i386 wine64 >>"$log" 2>&1; then
        WINE32_UNAVAILABLE="apt-get cannot install wine32:i386 beside wine64"
        why=$(grep -E "^E: " "$log" | tail -n 1)
    elif [ ! -x "$WINE32_LOADER" ]; then
        WINE32_UNAVAILABLE="wine32:i386 is installed but $WINE32_LOADER is missing"
    fi
    rm -rf "$view"
    [ -z "$WINE32_UNAVAILABLE" ] && { wine32_runs; return; }

    # Leave no i386 architecture behind that nothing uses: every apt-get update
    # would try its indexes.
    [ -n "$why" ] && WINE32_UNAVAILABLE="$WINE32_UNAVAILABLE (${why#E: })"
    if [ "$added_i386" -eq 1 ] && ! dpkg-query -W -f='${Architecture}\n' | grep -qx i386; then
        $sudo dpkg --remove-architecture i386 >>"$log" 2>&1 || true
    fi
    return 1
}

wine32_runs() {
    local said
    said=$("$WINE32_LOADER" --version 2>&1) && return 0
    WINE32_UNAVAILABLE="this kernel does not run the 32-bit loader: $(tail -n 1 <<<"$said")"
    return 1
}

# One Wine prefix and one persistent wineserver for a whole run. Wine's
# background services are started here, outside any test runner's pipes: a
# service that inherited CTest's output pipe would keep it open after the test.
start_wine() {
    export WINEPREFIX="$REPO/build/wineprefix"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    mkdir -p "$WINEPREFIX"
    "$WINE_SERVER" -p
    "$WINE_LOADER" wineboot </dev/null >/dev/null 2>&1 || true
}

# The same for the 32-bit leg, in its own 32-bit prefix; WINEPREFIX is left
# to the 64-bit leg.
start_wine32() {
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    mkdir -p "$WINE32_PREFIX"
    WINEPREFIX="$WINE32_PREFIX" WINEARCH=win32 "$WINE_SERVER" -p
    WINEPREFIX="$WINE32_PREFIX" WINEARCH=win32 "$WINE32_LOADER" wineboot </dev/null >/dev/null 2>&1 || true
    WINE32_STARTED=1
}

stop_wine() {
    [ -n "${WINEPREFIX:-}" ] && "$WINE_SERVER" -k >/dev/null 2>&1 || true
    [ -n "${WINE32_STARTED:-}" ] && WINEPREFIX="$WINE32_PREFIX" "$WINE_SERVER" -k >/dev/null 2>&1 || true
}
