#!/bin/sh
# Runs a 32-bit Windows program under 32-bit Wine for CTest (the mingw-x86
# preset's emulator), in a 32-bit Wine prefix of its own, build/wineprefix32,
# whatever WINEPREFIX the caller has: the 64-bit leg's prefix is not shared.
here=$(cd "$(dirname "$0")" && pwd)
WINEPREFIX=$(dirname "$(dirname "$here")")/build/wineprefix32
WINEARCH=win32
PEXIL_WINE_LOADER=/usr/lib/wine/wine
export WINEPREFIX WINEARCH PEXIL_WINE_LOADER
exec "$here/wine-run.sh" "$@"
