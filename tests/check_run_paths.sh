#!/bin/sh
# No ELF file below the directories has a run path (RUNPATH or RPATH) with an
# empty entry or a relative entry other than one that begins with $ORIGIN: the
# loader reads both against the current directory, so a library planted
# there would run its code in every program that starts there.
#
#   check_run_paths.sh [--skip PATH-PATTERN]... DIRECTORY...
# Object files, archives and CMake's own scratch files are skipped, and so are
# the paths the patterns match (the copies tests make while they run, which
# are checked where they are copied from, or by the test that makes them).
set -u
set -f  # the patterns are find's, not the shell's
skips=""
while [ "${1:-}" = --skip ]; do
    skips="$skips ! -path $2"
    shift 2
done
list=$(mktemp) || exit 2
trap 'rm -f "$list"' EXIT
# shellcheck disable=SC2086
find "$@" -type f ! -name '*.o' ! -name '*.obj' ! -name '*.a' ! -path '*/CMakeFiles/*' $skips |
    sort >"$list"
status=0
count=0
while IFS= read -r file; do
    [ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" = '177ELF' ] || continue
    count=$((count + 1))
    paths=$(readelf -d "$file" 2>/dev/null | sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]$/\2/p')
    [ -n "$paths" ] || continue
    bad=$(printf '%s\n' "$paths" | awk -F: '
        NF == 0 { print "an empty run path"; next }
        {
            for (i = 1; i <= NF; i++) {
                if ($i == "") print "an empty entry in " $0
                else if ($i !~ /^\// && $i !~ /^\$(ORIGIN|\{ORIGIN\})(\/|$)/) print "the relative entry " $i " in " $0
            }
        }')
    if [ -n "$bad" ]; then
        printf '%s\n' "$bad" | sed "s|^|$file: |"
        status=1
    fi
done <"$list"
[ "$count" -gt 0 ] || { echo "no ELF files below $*"; exit 1; }
[ "$status" -eq 0 ] && echo "$count ELF files: no run path entry is empty or relative"
exit $status
