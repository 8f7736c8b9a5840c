#!/usr/bin/env bash
# Builds the Debian package from the build tree into a temporary folder and
# checks what it holds and what it depends on (it is not installed here).
#
#   package_test.sh BUILD_DIR
set -uo pipefail
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

(cd "$tmp" && cpack -G DEB -B "$tmp" --config "$build/CPackConfig.cmake") >"$tmp/cpack.log" 2>&1 ||
  { cat "$tmp/cpack.log"; exit 1; }
deb=$(ls "$tmp"/lumaro_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { cat "$tmp/cpack.log"; exit 1; }

listing=$(dpkg-deb -c "$deb")
list=$(awk '{print $6}' <<<"$listing" | sed 's|^\./|/|')
for f in /usr/bin/lumaro /usr/lib/.*lumaro/LumaroEng.so /usr/lib/.*lumaro/lumaro_filters.so \
  /usr/lib/.*lumaro/lumaro_filters.png /usr/lib/.*lumaro/Lumaro.ini /usr/include/lumaro/lumaro_filter.h \
  /usr/share/pkgconfig/lumaro-filter.pc /usr/share/man/man1/lumaro.1.gz \
  /usr/share/bash-completion/completions/lumaro /usr/share/applications/example.lumaro.Lumaro.desktop \
  /usr/share/metainfo/example.lumaro.Lumaro.metainfo.xml /usr/share/icons/hicolor/scalable/apps/lumaro.svg \
  /usr/share/icons/hicolor/16x16/apps/lumaro.png /usr/share/icons/hicolor/256x256/apps/lumaro.png \
  /usr/share/doc/lumaro/README.md; do
  grep -qx "$f" <<<"$list" || fail "the package lacks $f"
done
# Nothing of the build or the tests slips in.
grep -E 'test_|/tests?/|make_completion|CMake' <<<"$list" && fail "stray files in the package"
grep -q '^-r--r--r-- .*/Lumaro.ini$' <<<"$listing" || fail "the settings template is writable"

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libqt6widgets6 libqt6dbus6 libjpeg62-turbo libpng16-16 libtiff6 libexiv2 libcurl4 \
  libopenjp2-7 libwmf; do
  grep -q "\b$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
[ "$(dpkg-deb -f "$deb" Package)" = lumaro ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)" ] || fail "architecture"

[ "$failures" = 0 ] && echo "package test passed: $(basename "$deb")"
exit $((failures > 0))
