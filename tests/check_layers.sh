#!/bin/sh
# Guards the layering of the source tree; prints every breach and fails when there is one.
# Usage: check_layers.sh SOURCE_DIR QTWIDGETS_INCLUDE_DIR
#  - each library includes only itself and the libraries it links (platform <- core <-
#    uninstaller, monitor, update <- ui <- app);
#  - nothing outside src/platform includes a header of a platform realisation
#    ("platform/<os>/..."), except the tests and benchmarks of that realisation
#    (tests/platform/<os>/, bench/, fuzz/); nothing outside src/platform includes an internal header
#    (a name ending in "_p.h"); the contracts in src/platform include no realisation;
#  - nothing below ui includes a QtWidgets header or links Qt6::Widgets;
#  - no include cycle between the files of src/ (a file and its header count as one).
set -u
src_dir=${1:?source dir}
widgets_dir=${2:-}
cd "$src_dir" || exit 2
failures=0

fail()
{
    echo "layering: $*"
    failures=$((failures + 1))
}

# Lines "FILE<TAB>INCLUDED" for every quoted include of the given files.
quoted_includes()
{
    grep -H -o '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]*"' "$@" 2>/dev/null |
        sed 's/:[[:space:]]*#[[:space:]]*include[[:space:]]*"/\t/; s/"$//'
}

allowed_libraries()
{
    case $1 in
    platform) echo "platform" ;;
    core) echo "core platform" ;;
    uninstaller) echo "uninstaller core platform" ;;
    monitor) echo "monitor platform" ;;
    update) echo "update platform" ;;
    ui) echo "ui core uninstaller monitor update platform" ;;
    app) echo "app ui core uninstaller monitor update platform" ;;
    esac
}

sources_of()
{
    find "$@" -type f \( -name '*.h' -o -name '*.cpp' \) 2>/dev/null | sort
}

# 1. Libraries include only what they link.
for library in platform core uninstaller monitor update ui app; do
    [ -d "src/$library" ] || continue
    allowed=$(allowed_libraries "$library")
    quoted_includes $(sources_of "src/$library") | while IFS="$(printf '\t')" read -r file included; do
        top=${included%%/*}
        [ "$top" = "$included" ] && continue
        [ -d "src/$top" ] || continue
        case " $allowed " in
        *" $top "*) ;;
        *) echo "layering: $file includes $included, a layer that $library does not depend on" ;;
        esac
    done
done >"${TMPDIR:-/tmp}/layers.$$"

# 2. Realisations and internal headers stay inside the platform library.
quoted_includes $(sources_of src tests bench fuzz) | while IFS="$(printf '\t')" read -r file included; do
    case $included in platform/*) ;; *) continue ;; esac
    case $file in
    src/platform/*/*) continue ;;
    src/platform/*)
        case $included in platform/*/*) echo "layering: contract file $file includes $included" ;; esac
        continue
        ;;
    esac
    case $included in
    *_p.h) echo "layering: $file includes the internal header $included" ;;
    platform/*/*)
        os=$(echo "$included" | cut -d/ -f2)
        case $file in
        tests/platform/"$os"/* | bench/* | fuzz/*) ;;
        *) echo "layering: $file includes $included, a header of one platform's realisation" ;;
        esac
        ;;
    esac
done >>"${TMPDIR:-/tmp}/layers.$$"

# 3. Nothing below ui knows about widgets.
below_ui="src/platform src/core src/uninstaller src/monitor src/update"
if [ -n "$widgets_dir" ] && [ -d "$widgets_dir" ]; then
    headers=$(ls "$widgets_dir" | grep -E '^(Q[A-Za-z0-9]*|q[a-z0-9_]*\.h)$' | sed 's/\./\\./' | paste -sd'|')
    grep -H -E "^[[:space:]]*#[[:space:]]*include[[:space:]]*<(QtWidgets/)?($headers)>" \
        $(sources_of $below_ui) 2>/dev/null | sed 's|^|layering: a QtWidgets header below ui: |'
else
    echo "layering: no QtWidgets include folder given"
fi >>"${TMPDIR:-/tmp}/layers.$$"
grep -l -E '#[[:space:]]*include[[:space:]]*<QtWidgets' $(sources_of $below_ui) 2>/dev/null |
    sed 's|^|layering: |; s|$| includes QtWidgets|' >>"${TMPDIR:-/tmp}/layers.$$"
for dir in $below_ui; do
    [ -f "$dir/CMakeLists.txt" ] && grep -q 'Qt6::Widgets' "$dir/CMakeLists.txt" &&
        echo "layering: $dir/CMakeLists.txt links Qt6::Widgets" >>"${TMPDIR:-/tmp}/layers.$$"
done

# 4. No include cycle: tsort reports a loop in the graph of modules (a path without extension).
quoted_includes $(sources_of src) | while IFS="$(printf '\t')" read -r file included; do
    [ -f "src/$included" ] || continue
    echo "${file%.*} src/${included%.*}"
done | tsort 2>&1 >/dev/null | sed 's/^tsort: /layering: include cycle: /' >>"${TMPDIR:-/tmp}/layers.$$"

while IFS= read -r line; do
    fail "${line#layering: }"
done <"${TMPDIR:-/tmp}/layers.$$"
rm -f "${TMPDIR:-/tmp}/layers.$$"
if [ "$failures" -gt 0 ]; then
    echo "layering: $failures breach(es)"
    exit 1
fi
echo "layering: clean"
