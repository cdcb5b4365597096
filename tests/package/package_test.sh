#!/usr/bin/env bash
# What the Debian package holds and what Debian's own checkers say of it.
#   package_test.sh PACKAGE_DIR VERSION
set -euo pipefail
dir=$1 version=$2
skip=77
for tool in dpkg-deb desktop-file-validate appstreamcli lintian file convert; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit $skip; }
done

failed=0
fail() { echo "FAIL: $*"; failed=1; }

deb=$dir/snake-garden_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { echo "FAIL: no $deb; found: $(ls "$dir")"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
root=$work/root
app_id=org.snakegarden.SnakeGarden

# Every file, with its mode: nothing missing, nothing extra, the two programs executable.
expected="-rwxr-xr-x ./usr/games/snake-garden
-rwxr-xr-x ./usr/lib/games/snake-garden/snake
-rw-r--r-- ./usr/share/applications/$app_id.desktop
-rw-r--r-- ./usr/share/doc/snake-garden/changelog.gz
-rw-r--r-- ./usr/share/doc/snake-garden/copyright
-rw-r--r-- ./usr/share/icons/hicolor/128x128/apps/snake-garden.png
-rw-r--r-- ./usr/share/icons/hicolor/256x256/apps/snake-garden.png
-rw-r--r-- ./usr/share/icons/hicolor/48x48/apps/snake-garden.png
-rw-r--r-- ./usr/share/icons/hicolor/64x64/apps/snake-garden.png
-rw-r--r-- ./usr/share/icons/hicolor/scalable/apps/snake-garden.svg
-rw-r--r-- ./usr/share/man/man6/snake-garden.6.gz
-rw-r--r-- ./usr/share/metainfo/$app_id.metainfo.xml"
actual=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $1, $6 }' | sort -k2)
[ "$actual" = "$expected" ] || fail "file list differs:
$(diff <(echo "$expected") <(echo "$actual"))"

# Dependencies come from the binary: SDL's run-time library and the C and C++ run-times, each
# with the version the binary needs; never a development package.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
names=$(echo "$depends" | tr ',' '\n' | sed -E 's/^ *([^ ]+).*/\1/' | sort | tr '\n' ' ')
[ "$names" = "libc6 libgcc-s1 libsdl2-2.0-0 libstdc++6 " ] || fail "dependencies are: $names"
echo "$depends" | tr ',' '\n' | grep -v '(>= ' && fail "a dependency without the version the binary needs"
[ "$(dpkg-deb -f "$deb" Section)" = games ] || fail "section is not games"

# Each theme size holds an image of that size that decodes to exactly the board's colours: black,
# the snake's fill and white rim, the prize's red ring and light-blue dots.
for size in 48 64 128 256; do
  icon=$root/usr/share/icons/hicolor/${size}x$size/apps/snake-garden.png
  [[ $(file "$icon") == *"PNG image data, $size x $size,"* ]] || fail "the ${size}x$size icon is not $size x $size"
  colours=$(convert "$icon" -unique-colors -depth 8 txt:- | grep -o '#[0-9A-F]\{6\}' | sort | tr '\n' ' ')
  [ "$colours" = "#000000 #5454FC #7C7CFC #A80000 #FCFCFC " ] ||
    fail "the ${size}x$size icon's colours are $colours"
done

desktop=$root/usr/share/applications/$app_id.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate"
grep -qx 'Exec=/usr/games/snake-garden' "$desktop" || fail "Exec: $(grep ^Exec "$desktop")"
grep -qx 'Terminal=true' "$desktop" || fail "the entry does not ask for a terminal"
grep -qx 'Categories=Game;ArcadeGame;' "$desktop" || fail "categories: $(grep ^Categories "$desktop")"

metainfo=$root/usr/share/metainfo/$app_id.metainfo.xml
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo's release is not $version"
man_page=$(zcat "$root/usr/share/man/man6/snake-garden.6.gz")
[[ ${man_page%%$'\n'*} == *"Snake Garden $version"* ]] || fail "the man page is not of version $version"

# Lintian: no errors and no warnings (the README lists any that is left on purpose).
lintian --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1 || true
grep -v 'running with root privileges' "$work/lintian" || true
grep -E '^[EW]: ' "$work/lintian" >/dev/null && fail "lintian reports errors or warnings"

[ $failed -eq 0 ] && echo "passed"
exit $failed
