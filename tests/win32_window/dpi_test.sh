#!/usr/bin/env bash
# The native window at 144 and 192 DPI: the window tests' DPI test, run in a
# private Wine prefix whose LogPixels is set, so that the build's shared
# prefix, and the tests running in it meanwhile, stay at 96 DPI. The private
# prefix has a registry of its own and the shared prefix's drive; it and its
# Wine server are gone when the script ends.
#   dpi_test.sh BUILD_DIR
set -euo pipefail
build=$1
shared=${WINEPREFIX:-$build/wineprefix}
prefix=$(mktemp -d /tmp/quendal-dpi-prefix.XXXXXX)
export WINEPREFIX=$prefix
# The folder of the Wine server's sockets, as wine-run.sh chooses it.
[ -z "${QUENDAL_WINE_TMPDIR:-}" ] || export TMPDIR="$QUENDAL_WINE_TMPDIR"
cleanup() {
    wineserver -k 2>/dev/null || true
    rm -rf "$prefix"
}
trap cleanup EXIT

cp "$shared"/*.reg "$shared"/.update-timestamp "$prefix"/
cp -a "$shared/dosdevices" "$prefix"/
ln -s "$shared/drive_c" "$prefix/drive_c"
for dpi in 144 192; do
    # The server writes the registry back when it ends: it must be gone
    # before the next value goes in.
    wineserver -k 2>/dev/null || true
    wineserver -w
    sed -i "s/^\"LogPixels\"=dword:[0-9a-f]*/\"LogPixels\"=dword:$(printf '%08x' "$dpi")/" \
        "$prefix/user.reg" "$prefix/system.reg"
    QUENDAL_TEST_DPI=$dpi "$build/display-run.sh" "$build/tests/win32_window_tests.exe" \
        --gtest_filter=Win32UpdaterWindow.LayoutFontsAndGlyphsScaleWithTheDpi
done
