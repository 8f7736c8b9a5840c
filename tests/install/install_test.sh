#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR and runs the installed program
# the way a user of a system-wide install does: program files read-only, an
# empty home, settings under the config folder, the installed plug-ins and
# the user's own, batch outputs checked by ImageMagick. Also: the portable
# layout keeps its settings beside the program; an unwritable config folder
# and a corrupt settings file lose nothing; the desktop entry, metainfo,
# manual page and completion are valid.
#
#   install_test.sh BUILD_DIR      (KEEP=1: the temporary folder stays)
set -uo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
im=/usr/bin/convert-im6.q16
tmp=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || { chmod -R u+w "$tmp" 2>/dev/null; rm -rf "$tmp"; }' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
check() { local what=$1; shift; "$@" || fail "$what"; }

negative='{4F1C2A61-7D3E-4B1A-9E52-1C6A3380B103}'  # sample library
userinvert='{0C0FFEE0-1234-4321-ABCD-0123456789AB}'  # user_filter.c

# A child with only this session: its own home, no bus, no display.
run() {  # home [VARIABLE=value]... command...
  local home=$1; shift
  timeout 120 env -i PATH="$PATH" HOME="$home" LANG=C QT_QPA_PLATFORM=offscreen \
    DBUS_SESSION_BUS_ADDRESS=unix:path="$tmp/no-bus" "$@"
}
pixel() { $im "$1" -format '%[fx:int(255*r)],%[fx:int(255*g)],%[fx:int(255*b)]' info:; }

# ---- install ------------------------------------------------------------------
DESTDIR=$tmp/root cmake --install "$build" --prefix /usr >"$tmp/install.log" 2>&1 ||
  { cat "$tmp/install.log"; exit 1; }
usr=$tmp/root/usr
prog=$usr/bin/lumaro
private=$(dirname "$(find "$usr/lib" -name LumaroEng.so | head -n 1)")
for f in "$prog" "$private/LumaroEng.so" "$private/lumaro_filters.so" "$private/lumaro_filters.png" \
  "$private/Lumaro.ini" "$usr/include/lumaro/lumaro_filter.h" "$usr/share/pkgconfig/lumaro-filter.pc" \
  "$usr/share/man/man1/lumaro.1.gz" "$usr/share/bash-completion/completions/lumaro" \
  "$usr/share/applications/example.lumaro.Lumaro.desktop" \
  "$usr/share/metainfo/example.lumaro.Lumaro.metainfo.xml" \
  "$usr/share/icons/hicolor/scalable/apps/lumaro.svg" "$usr/share/icons/hicolor/48x48/apps/lumaro.png" \
  "$usr/share/icons/hicolor/256x256/apps/lumaro.png"; do
  [ -f "$f" ] || fail "not installed: ${f#"$tmp"/root}"
done

check "desktop-file-validate" desktop-file-validate "$usr/share/applications/example.lumaro.Lumaro.desktop"
check "appstreamcli validate" appstreamcli validate --no-net --no-color \
  "$usr/share/metainfo/example.lumaro.Lumaro.metainfo.xml" >"$tmp/appstream.log" ||
  cat "$tmp/appstream.log"
warnings=$(zcat "$usr/share/man/man1/lumaro.1.gz" | LC_ALL=C.UTF-8 MANROFFSEQ='' man --warnings -l - 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "manual page warnings: $warnings"
for option in --convert --settings --set --output --format --quiet --overwrite-sources --shard \
  --skip-existing --report --jobs --split --automation --embedding --regserver --unregserver --help --version; do
  zcat "$usr/share/man/man1/lumaro.1.gz" | grep -q -- "${option//-/\\\\-}" || fail "manual page lacks $option"
done
completion=$usr/share/bash-completion/completions/lumaro
check "completion is bash" bash -n "$completion"
keys=$(bash -c "source '$completion' 2>/dev/null; _lumaro_set_keys")
for key in General.Language Dimensions.Width JPEG.Quality "Watermarks.Font - lfHeight"; do
  grep -qxF "$key" <<<"$keys" || fail "completion lacks --set $key"
done

# A user's plug-in built against the installed header through pkg-config.
home=$tmp/home
mkdir -p "$home/.local/share/lumaro/filters"
cflags=$(PKG_CONFIG_PATH=$usr/share/pkgconfig pkg-config --cflags lumaro-filter) || fail "pkg-config"
filterdir=$(PKG_CONFIG_PATH=$usr/share/pkgconfig pkg-config --variable=filterdir lumaro-filter)
[ "$(cd "$filterdir" && pwd -P)" = "$(cd "$private" && pwd -P)" ] || fail "filterdir is $filterdir"
check "user plug-in builds" cc -shared -fPIC -Wall -Werror $cflags -o \
  "$home/.local/share/lumaro/filters/userinvert.so" "$here/user_filter.c"

chmod -R a-w "$tmp/root"

# ---- installed, first start: settings under the config folder -------------------
run "$home" "$prog" --regserver >"$tmp/first.log" 2>&1 || fail "first start: $(cat "$tmp/first.log")"
ini=$home/.config/Lumaro/Lumaro.ini
if [ -f "$ini" ]; then
  grep -q '^Language=1$' "$ini" || fail "Language not from the locale"
  grep -qF "[$negative]" "$ini" || fail "installed plug-in not loaded"
  grep -qF "[$userinvert]" "$ini" || fail "user plug-in not loaded"
else
  fail "no $ini"
fi
[ ! -e "$private/Tessel.ini" ] && [ "$(find "$tmp/root" -newer "$tmp/install.log" -type f | wc -l)" = 0 ] ||
  fail "the program folder was written"

# ---- batch mode: the same default file, both plug-ins ----------------------------
$im -size 4x4 xc:white "$tmp/white.png"
convert_one() {  # output-folder set...
  local out=$1; shift
  local args=()
  for s in "$@"; do args+=(--set "$s"); done
  run "$home" "$prog" --convert --quiet --output "$out" "${args[@]}" -- "$tmp/white.png" >>"$tmp/batch.log" 2>&1
}
sed -i 's/^OutputFormat=.*/OutputFormat=1/' "$ini"  # PNG, read from the user's file
check "batch, installed filter" convert_one "$tmp/o1" General.ApplyFilters=1 "$negative.On=1"
check "batch, user filter" convert_one "$tmp/o2" General.ApplyFilters=1 "$userinvert.On=1"
check "batch, both filters" convert_one "$tmp/o3" General.ApplyFilters=1 "$negative.On=1" "$userinvert.On=1"
[ "$(pixel "$tmp/o1/white.png" 2>/dev/null)" = "0,0,0" ] || fail "installed Negative: $(cat "$tmp/batch.log")"
[ "$(pixel "$tmp/o2/white.png" 2>/dev/null)" = "0,0,0" ] || fail "user UserInvert"
[ "$(pixel "$tmp/o3/white.png" 2>/dev/null)" = "255,255,255" ] || fail "both filters"

# ---- unwritable config folder, read-only home, corrupt file: nothing lost ---------
# (root writes into read-only folders: that case needs another user)
if [ "$(id -u)" != 0 ]; then
  cp "$ini" "$tmp/ini.before"
  chmod a-w "$home/.config/Lumaro"
  run "$home" "$prog" --regserver >"$tmp/ro.log" 2>&1 || fail "read-only config folder: exit code"
  grep -q "not stored" "$tmp/ro.log" || fail "no message for a read-only config folder: $(cat "$tmp/ro.log")"
  cmp -s "$ini" "$tmp/ini.before" || fail "settings file changed in a read-only folder"
  chmod u+w "$home/.config/Lumaro"
fi

printf 'just some notes\nno section here\n' >"$ini"
run "$home" "$prog" --regserver >"$tmp/corrupt.log" 2>&1 || fail "corrupt settings: exit code"
[ "$(cat "$ini")" = "$(printf 'just some notes\nno section here')" ] || fail "corrupt settings file overwritten"

# A home where no folder can be made (below a file: so for root too).
echo x >"$tmp/afile"
run "$tmp/afile/home" XDG_DATA_HOME="$tmp/data" "$prog" --regserver >"$tmp/rohome.log" 2>&1 || fail "home cannot be written: exit code"
grep -q "cannot create the settings folder" "$tmp/rohome.log" || fail "home cannot be written: $(cat "$tmp/rohome.log")"

# ---- portable layout: the settings file beside the program ------------------------
portable=$tmp/portable
mkdir -p "$portable" "$tmp/home2/.local/share/lumaro/filters"
cp "$home/.local/share/lumaro/filters/userinvert.so" "$tmp/home2/.local/share/lumaro/filters/"
cp "$build/bin/lumaro" "$build/bin/LumaroEng.so" "$build/bin/lumaro_filters.so" "$portable/"
run "$tmp/home2" "$portable/lumaro" --regserver >"$tmp/portable.log" 2>&1 || fail "portable start"
[ -f "$portable/Lumaro.ini" ] || fail "portable: no Lumaro.ini beside the program"
[ ! -e "$tmp/home2/.config/Lumaro" ] || fail "portable: wrote into the config folder"
grep -qF "[$negative]" "$portable/Lumaro.ini" || fail "portable: plug-in not loaded"
grep -qF "[$userinvert]" "$portable/Lumaro.ini" && fail "portable: loaded the user's plug-ins"

[ "$failures" = 0 ] && echo "install test passed"
exit $((failures > 0))
