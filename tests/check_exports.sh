#!/usr/bin/env bash
# Reads the built plug-in's real export table and compares it with the nine functions
# of the packer interface, and for a Windows DLL their eight Unicode and extended
# counterparts too (plain names: a 32-bit __stdcall name left decorated, such as
# OpenArchive@4, is one the host never finds); for a Windows DLL also checks that every
# imported DLL is a system DLL, so the plug-in installs without any compiler runtime
# beside it, and that the file is named for the hosts of its bitness (32-bit Total
# Commander loads vellum.wcx, 64-bit vellum.wcx64).
#
#   check_exports.sh pe  <objdump> <vellum.wcx|vellum.wcx64>   (PE DLL)
#   check_exports.sh elf <nm>      <vellum.wcx64>              (ELF shared object)
set -euo pipefail

kind=$1
tool=$2
module=$3

expected="CanYouHandleThisFile
CloseArchive
GetPackerCaps
OpenArchive
PackFiles
ProcessFile
ReadHeader
SetChangeVolProc
SetProcessDataProc"
# The Windows hosts call these in preference to the nine; Double Commander on Linux
# would too, so the shared object must not have them.
unicode="CanYouHandleThisFileW
OpenArchiveW
PackFilesW
ProcessFileW
ReadHeaderEx
ReadHeaderExW
SetChangeVolProcW
SetProcessDataProcW"

failed=0

case "$kind" in
pe)
    expected=$(printf '%s\n%s\n' "$expected" "$unicode" | sort)
    dump=$("$tool" -p "$module")
    # The name pointer table lists every export by name: "[   0] Name".
    exports=$(printf '%s\n' "$dump" |
        sed -n '/\[Ordinal\/Name Pointer\] Table/,/^[[:space:]]*$/p' |
        sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort)
    imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p')
    magic=$(printf '%s\n' "$dump" | sed -n 's/^Magic[[:space:]]*[0-9a-fA-F]*[[:space:]]*(\(.*\))/\1/p')
    case "$magic:$module" in
    PE32:*.wcx | PE32+:*.wcx64) echo "image: $magic" ;;
    *)
        echo "image $magic is misnamed for its hosts: $module"
        failed=1 ;;
    esac
    if [ -z "$imports" ]; then
        echo "no import table found in $module"
        failed=1
    fi
    while IFS= read -r dll; do
        [ -n "$dll" ] || continue
        case "${dll,,}" in
        kernel32.dll | ole32.dll | oleaut32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-*.dll)
            echo "import: $dll" ;;
        *)
            echo "import not allowed (not a system DLL): $dll"
            failed=1 ;;
        esac
    done <<<"$imports"
    ;;
elf)
    exports=$("$tool" -D --defined-only "$module" | awk 'NF >= 3 { print $3 }' | sed 's/@.*//' | sort -u)
    ;;
*)
    echo "unknown module kind: $kind"
    exit 2
    ;;
esac

if [ "$exports" != "$expected" ]; then
    echo "exports of $module differ from the expected functions:"
    diff <(printf '%s\n' "$expected") <(printf '%s\n' "$exports") || true
    failed=1
else
    echo "exports: $(printf '%s\n' "$expected" | wc -l) functions, nothing else"
fi

exit "$failed"
