#!/bin/sh
# Runs a Windows program under Wine for CTest (the mingw-x64 preset's emulator;
# wine32-run.sh runs the 32-bit build through it with the 32-bit loader).
# Now and then Wine fails to start a program at all: it exits non-zero without
# a byte of output. Such a start is tried again, at most three times in all.
# A program that started (it wrote anything, or succeeded) is never run again,
# so a test that fails, fails.
loader=${PEXIL_WINE_LOADER:-/usr/lib/wine/wine64}
out=$(mktemp) || exit 125
err=$(mktemp) || exit 125
trap 'rm -f "$out" "$err"' EXIT
attempt=1
while :; do
    "$loader" "$@" >"$out" 2>"$err"
    status=$?
    if [ "$status" -eq 0 ] || [ -s "$out" ] || [ -s "$err" ] || [ "$attempt" -ge 3 ]; then
        break
    fi
    echo "wine-run: $1 did not start (status $status); starting it again" >&2
    attempt=$((attempt + 1))
done
cat "$out"
cat "$err" >&2
exit "$status"
