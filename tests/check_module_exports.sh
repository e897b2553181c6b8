#!/bin/sh
# Every module the project builds exports exactly the seven entry points, and
# nothing keeps it loaded: on ELF no STB_GNU_UNIQUE symbol and no -z nodelete
# (dlclose returns 0 even when glibc keeps such a library); on Windows the
# seven carry the ordinals 1 to 7 and their whole names are exactly these (a
# decorated CreateComponent@8 is another name).
#
#   check_module_exports.sh elf|pe DIRECTORY [OBJDUMP]
set -u
kind=$1
directory=$2
objdump=${3:-objdump}
expected="CreateComponent GetComponentIDs PexilDllCanUnloadNow PexilDllFreeMap PexilSetDllSafe SetDLLRegistry SetFactoryHandle"
ordinals="1 CreateComponent
2 SetDLLRegistry
3 PexilDllFreeMap
4 PexilDllCanUnloadNow
5 SetFactoryHandle
6 PexilSetDllSafe
7 GetComponentIDs"
status=0
count=0
for module in $(find "$directory" -name "*.dll" -not -path "*/plain/*" | sort); do
    [ -e "$module" ] || continue
    count=$((count + 1))
    name=$(basename "$module")
    if [ "$kind" = elf ]; then
        exports=$(nm -D --defined-only "$module" | awk '{print $3}' | sort | tr '\n' ' ' | sed 's/ $//')
        [ "$exports" = "$expected" ] || { echo "$name exports: $exports"; status=1; }
        if readelf --dyn-syms -W "$module" | grep -q UNIQUE; then
            echo "$name has STB_GNU_UNIQUE symbols:"; readelf --dyn-syms -W "$module" | grep UNIQUE
            status=1
        fi
        if readelf -d "$module" | grep -q NODELETE; then
            echo "$name is linked with -z nodelete"; status=1
        fi
    else
        table=$("$objdump" -p "$module" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
            sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] \(.*[^[:space:]]\)[[:space:]]*$/\1 \2/p' | sort -n)
        # The table lists ordinals counted from the ordinal base (1).
        [ "$table" = "$(echo "$ordinals" | awk '{print $1-1, $2}')" ] ||
            [ "$table" = "$ordinals" ] || { echo "$name export table:"; echo "$table"; status=1; }
    fi
done
[ "$count" -gt 0 ] || { echo "no modules in $directory"; exit 1; }
[ "$status" -eq 0 ] && echo "$count modules export exactly the seven entry points"
exit $status
