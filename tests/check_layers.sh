#!/bin/sh
# The layers of src/, lowest first: a file may include files of its own layer
# and of the layers below it, never of a layer above.
#
#   platform  <  support  <  module, component  <  registry, log  <  factory
#
#   check_layers.sh SOURCE_DIRECTORY
set -u
src=$1/src
layer() {
    case "$1" in
        platform) echo 0 ;;
        support) echo 1 ;;
        module | component) echo 2 ;;
        registry | log) echo 3 ;;
        factory) echo 4 ;;
        *) echo "" ;;
    esac
}
status=0
count=0
for file in $(find "$src" -name '*.cpp' -o -name '*.h' | sort); do
    relative=${file#"$src"/}
    directory=${relative%%/*}
    own=$(layer "$directory")
    [ -n "$own" ] || { echo "$relative: $directory is no layer"; status=1; continue; }
    count=$((count + 1))
    for included in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z]*\)\/.*".*/\1/p' "$file"); do
        other=$(layer "$included")
        [ -n "$other" ] || continue
        if [ "$other" -gt "$own" ]; then
            echo "$relative includes $included/, a higher layer"
            status=1
        fi
    done
done
[ "$status" -eq 0 ] && echo "$count files include only their own layer and those below"
exit $status
