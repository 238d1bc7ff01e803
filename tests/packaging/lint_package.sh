#!/bin/sh
# Builds the Debian package from a build folder and lets lintian judge it.
# Usage: lint_package.sh CPACK CPACK_CONFIG OUT_DIR LINTIAN
set -eu
cpack=$1 config=$2 out=$3 lintian=$4
rm -rf "$out"
"$cpack" --config "$config" -G DEB -B "$out" >"$out.log" 2>&1 || {
  cat "$out.log"
  exit 1
}
# no-manual-page: the command line has no manual page yet.
"$lintian" --info --fail-on error,warning "$out"/sorviclean_*.deb
