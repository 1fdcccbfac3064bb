#!/usr/bin/env bash
# Builds the Debian package from the build folder with cpack, unpacks it into a temporary
# root and runs the program from there.   deb-test.sh BUILD_DIR VERSION BUILD_NUMBER
source "$(dirname "$0")/common.sh"
build=$1 version=$2 build_number=$3
cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log" >&2; fail "cpack built no package"; finish; }
deb=$(ls "$work"/out/bramble_*.deb 2>/dev/null | head -n 1)
check "package file named bramble_${version}-1_<arch>.deb" test -n "$deb"
[ -n "$deb" ] || finish

field() { dpkg-deb -f "$deb" "$1"; }
check "package name" test "$(field Package)" = bramble
check "package version" test "$(field Version)" = "$version-1"
depends=$(field Depends)
echo "Depends: $depends"
# dpkg-shlibdeps found the linked libraries; the SQL plugin is named by hand.
for needed in libqt6core6 libqt6widgets6 libqt6network6 libqt6sql6 libqt6sql6-sqlite libqt6svg6 \
              libsodium23 libarchive13 libgumbo1 libc6; do
  check "depends on $needed" grep -qE "(^|, )$needed( |,|$)" <<<"$depends"
done

dpkg-deb -c "$deb" | awk '{print $6}' >"$work/contents"
check "installs only below /usr" test -z "$(grep -v '^\./$' "$work/contents" | grep -v '^\./usr/' || true)"
for f in ./usr/bin/bramble ./usr/share/applications/bramble.desktop \
         ./usr/share/metainfo/bramble.metainfo.xml ./usr/share/icons/hicolor/scalable/apps/bramble.svg \
         ./usr/share/icons/hicolor/256x256/apps/bramble.png \
         ./usr/share/icons/hicolor/symbolic/apps/bramble-symbolic.svg; do
  check "ships $f" grep -qxF "$f" "$work/contents"
done

dpkg -x "$deb" "$work/root"
check "unpacked program reports its version" \
  test "$(version_of "$work/root/usr/bin/bramble")" = "bramble $version (build $build_number)"
check "unpacked program is stripped" sh -c "! readelf -S '$work/root/usr/bin/bramble' | grep -q '\.symtab'"
finish
