#!/usr/bin/env bash
# Runs check_includes.sh on one-file trees: each line of the table is a file,
# the include it holds and whether the check must pass.
set -uo pipefail
check="$(cd "$(dirname "$0")" && pwd)/check_includes.sh"
cases=(
    'engine/a.cpp|#include "journal/journal.hpp"|pass'
    'engine/a.cpp|#include "app/errors.hpp"|pass'
    'app/a.cpp|#include "engine/install_sequence.hpp"|fail'
    'platform/a.cpp|#include "journal/journal.hpp"|fail'
    'journal/a.hpp|#include "wizard/host.hpp"|fail'
    'app/a.cpp|#include <FL/Fl.H>|fail'
    'platform/a.cpp|#include <X11/Xlib.h>|fail'
    'platform/ui/a.cpp|#include <FL/Fl.H>|pass'
    'app/a.cpp|#include "platform/ui/fltk_ui.hpp"|fail'
    'app/main.cpp|#include "platform/ui/fltk_ui.hpp"|pass'
    'wizard/a.cpp|#include "platform/ui/fltk_ui.hpp"|pass'
    'platform/a.cpp|#include "platform/ui/fltk_ui.hpp"|fail'
    'engine/a.cpp|#include "platform/testing/faulty_file_system.hpp"|fail'
    'tests/engine/a_test.cpp|#include "platform/testing/faulty_file_system.hpp"|pass'
    'app/a.cpp|#include "platform/rc/resource_compiler.hpp"|fail'
    'tools/mwtool/a.cpp|#include "platform/rc/resource_compiler.hpp"|pass'
    'platform/ui/a.cpp|#include "platform/message_box.hpp"|pass'
    'platform/ui/a.cpp|#include "engine/tokens.hpp"|fail'
)
bad=0
for c in "${cases[@]}"; do
    IFS='|' read -r file include want <<<"$c"
    tree=$(mktemp -d)
    mkdir -p "$tree/$(dirname "$file")"
    printf '// fixture\n%s\n' "$include" >"$tree/$file"
    if bash "$check" "$tree" >/dev/null 2>&1; then got=pass; else got=fail; fi
    rm -rf "$tree"
    if [ "$got" != "$want" ]; then
        echo "$file with '$include': check gave $got, expected $want" >&2
        bad=$((bad + 1))
    fi
done
[ "$bad" -eq 0 ] || exit 1
echo "include check: ${#cases[@]} cases as expected"
