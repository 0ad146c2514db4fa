#!/usr/bin/env bash
# Checks the layering of the sources: a layer includes only itself and the
# layers below it (platform < journal < app < engine < wizard); the
# user-interface layer platform/ui is included only by the wizard, the
# installer's main, the product's own programs and the user-interface tests;
# the resource compiler
# platform/rc only by tools and tests; the test doubles platform/testing only
# by tests and benchmarks; FLTK and X11 headers appear only in platform/ui,
# its tests and the product's own programs (which have windows of their own). Prints every offending line and fails when there is one.
set -uo pipefail
root="${1:-$(dirname "$0")/..}"
cd "$root" || exit 2

rank() {
    case "$1" in
        platform) echo 0 ;;
        journal) echo 1 ;;
        app) echo 2 ;;
        engine) echo 3 ;;
        wizard) echo 4 ;;
        *) echo 9 ;;
    esac
}

# The part a file or an include belongs to: platform/ui, platform/rc,
# platform/testing, or its top folder.
part_of() {
    case "$1" in
        platform/ui/*) echo platform/ui ;;
        platform/rc/*) echo platform/rc ;;
        platform/testing/*) echo platform/testing ;;
        *) echo "${1%%/*}" ;;
    esac
}

failures=0
fail() {
    echo "$1: $2" >&2
    failures=$((failures + 1))
}

checked=0
while IFS= read -r file; do
    checked=$((checked + 1))
    from=$(part_of "$file")
    while IFS= read -r line; do
        n=${line%%:*}
        text=${line#*:}
        if [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<(FL|X11)/ ]]; then
            case "$file" in
                platform/ui/* | tests/platform/ui/* | tests/wizard/* | product/*) ;;
                *) fail "$file:$n" "toolkit header outside the user-interface layer: $text" ;;
            esac
            continue
        fi
        [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([a-z_]+/[^\"]*)\" ]] || continue
        target=$(part_of "${BASH_REMATCH[1]}")
        case "$target" in
            platform/ui)
                case "$file" in
                    platform/ui/* | wizard/* | app/main.cpp | product/* | tests/platform/ui/* | tests/wizard/*) ;;
                    *) fail "$file:$n" "only the wizard and the installer's main use platform/ui: $text" ;;
                esac
                continue ;;
            platform/rc)
                case "$file" in
                    platform/rc/* | tools/* | tests/*) ;;
                    *) fail "$file:$n" "only tools and tests use the resource compiler: $text" ;;
                esac
                continue ;;
            platform/testing)
                case "$file" in
                    platform/testing/* | tests/* | bench/*) ;;
                    *) fail "$file:$n" "test doubles belong to tests: $text" ;;
                esac
                continue ;;
        esac
        case "$from" in
            platform | platform/rc | platform/ui | platform/testing) from_rank=0 ;;
            *) from_rank=$(rank "$from") ;;
        esac
        to_rank=$(rank "$target")
        [ "$from_rank" -eq 9 ] && continue  # tools, tests, benchmarks, products use any layer
        [ "$to_rank" -eq 9 ] && continue    # not a layer (a tool's own header)
        if [ "$to_rank" -gt "$from_rank" ]; then
            fail "$file:$n" "$from includes the layer above it: $text"
        fi
    done < <(grep -n '#[[:space:]]*include' "$file")
done < <(find platform journal engine app wizard tools product tests bench \
             \( -name '*.cpp' -o -name '*.hpp' -o -name '*.h' \) 2>/dev/null | sort)

if [ "$checked" -eq 0 ]; then
    echo "no sources found under $PWD" >&2
    exit 2
fi
if [ "$failures" -gt 0 ]; then
    echo "$failures include(s) break the layering" >&2
    exit 1
fi
echo "layering holds in $checked files"
