#!/usr/bin/env bash
# The program installed as a desktop program: `cmake --install` into a temporary prefix puts the
# executable, a desktop entry that desktop-file-validate accepts and an SVG icon where desktops
# look for them, and the installed program answers --version and --help without a display.
#
#   tests/install_test.sh BUILD_DIR VERSION [CMAKE]
set -euo pipefail
build=$1
version=$2
cmake=${3:-cmake}

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

"$cmake" --install "$build" --prefix "$prefix" >"$prefix/install.log" || {
  cat "$prefix/install.log" >&2
  fail "cmake --install failed"
}

program=$prefix/bin/sorvanto
entry=$prefix/share/applications/sorvanto.desktop
icon=$prefix/share/icons/hicolor/scalable/apps/sorvanto.svg
[ -x "$program" ] || fail "no executable $program"
[ -f "$entry" ] || fail "no desktop entry $entry"
[ -f "$icon" ] || fail "no icon $icon"

desktop-file-validate "$entry" || fail "desktop-file-validate refused the entry"
for line in 'Name=Sorvanto' 'Exec=sorvanto' 'Icon=sorvanto' 'Categories=Office;Database;'; do
  grep -qxF "$line" "$entry" || fail "the entry lacks the line $line"
done
grep -q '^Comment=' "$entry" || fail "the entry has no English comment"
grep -q '^Comment\[ja\]=' "$entry" || fail "the entry has no Japanese comment"

xmllint --noout "$icon" || fail "the icon is not well-formed XML"
[ "$(xmllint --xpath 'local-name(/*)' "$icon")" = svg ] || fail "the icon's root is not <svg>"
[ "$(xmllint --xpath 'namespace-uri(/*)' "$icon")" = http://www.w3.org/2000/svg ] ||
  fail "the icon's root is not in the SVG namespace"

# No display of any kind: a window would make the program fail here instead of answering.
run() {
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" "$@"
}

out=$(run --version) || fail "--version ended with status $?"
[ "$out" = "Sorvanto $version" ] || fail "--version printed '$out', not 'Sorvanto $version'"
# Qt's own options stay with the application object and do not stop the answer.
out=$(run -platform offscreen -reverse --version) || fail "--version after Qt's options failed"
[ "$out" = "Sorvanto $version" ] || fail "--version after Qt's options printed '$out'"

out=$(run --help) || fail "--help ended with status $?"
for text in 'Usage: ' '--help' '--version' 'KEY_WORDS'; do
  grep -qF -- "$text" <<<"$out" || fail "--help does not mention '$text': $out"
done
echo "installed into $prefix: entry, icon, --version and --help all right"
