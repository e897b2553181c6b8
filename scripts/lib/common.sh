# Shared by the scripts: package installation and Wine setup.
# Source it; it sets REPO to the repository's top directory.

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# Installs the Debian packages among "$@" that are missing, without questions.
ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
        $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            "${missing[@]}" >/dev/null
}

# What building and testing the native and Windows builds needs.
BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev googletest)
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

stop_wine() {
    [ -n "${WINEPREFIX:-}" ] && "$WINE_SERVER" -k >/dev/null 2>&1 || true
}
