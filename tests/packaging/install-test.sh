#!/usr/bin/env bash
# cmake --install into a temporary DESTDIR, then the freedesktop validators on the files
# as installed.   install-test.sh BUILD_DIR SOURCE_DIR VERSION BUILD_NUMBER
source "$(dirname "$0")/common.sh"
build=$1 source_dir=$2 version=$3 build_number=$4
root="$work/root"
DESTDIR="$root" cmake --install "$build" --prefix /usr >"$work/install.log"
share="$root/usr/share"

check "program installed and executable" test -x "$root/usr/bin/bramble"
check "program reports version $version" test "$(version_of "$root/usr/bin/bramble")" = "bramble $version (build $build_number)"

desktop="$share/applications/bramble.desktop"
check "desktop entry installed" test -f "$desktop"
check "desktop-file-validate accepts the desktop entry" desktop-file-validate "$desktop"
for line in 'Exec=bramble' 'Icon=bramble' 'Categories=Network;Utility;' 'StartupWMClass=Bramble' \
            'Name=Bramble' 'Type=Application'; do
  check "desktop entry has $line" grep -qxF "$line" "$desktop"
done
check "desktop entry has a Chinese name" grep -q '^Name\[zh_CN\]=.' "$desktop"

metainfo="$share/metainfo/bramble.metainfo.xml"
check "metainfo installed" test -f "$metainfo"
# The one finding left is that the ID is not reverse-DNS: Bramble has none, and its desktop
# entry, window class and autostart file all use "bramble".
check "appstreamcli validates the metainfo" \
  appstreamcli validate --no-net --strict --override=cid-desktopapp-is-not-rdns=pedantic "$metainfo"
check "appstreamcli validates the installed tree" \
  appstreamcli validate-tree --no-net --override=cid-desktopapp-is-not-rdns=pedantic "$root/usr"
newest=$(grep -o '<release version="[^"]*"' "$metainfo" | head -n 1 | cut -d'"' -f2)
check "newest release in the metainfo ($newest) is this version ($version)" test "$newest" = "$version"
check "metainfo has a Chinese summary" grep -q '<summary xml:lang="zh-CN">' "$metainfo"
check "metainfo names its screenshots" grep -q '<caption>' "$metainfo"

icons="$share/icons/hicolor"
for size in 16 22 24 32 48 64 128 256 512; do
  png="$icons/${size}x${size}/apps/bramble.png"
  check "icon at ${size}px" test -f "$png"
  [ -f "$png" ] && check "icon at ${size}px is ${size}x${size}" test "$(png_size "$png")" = "${size}x${size}"
done
check "scalable icon" cmp -s "$icons/scalable/apps/bramble.svg" "$source_dir/resources/icons/bramble.svg"
check "symbolic tray icon" test -f "$icons/symbolic/apps/bramble-symbolic.svg"
# Renders are build products, never sources.
check "no rendered icon is kept in git" \
  test -z "$(git -C "$source_dir" ls-files '*.png' | grep -i 'hicolor\|bramble' || true)"
check "nothing installed outside /usr" test "$(ls "$root")" = "usr"
finish
