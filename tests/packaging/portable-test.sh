#!/usr/bin/env bash
# Packs the portable release archive from the build folder, unpacks it as a user would and
# lets the updater's own code judge the folder and install the archive over it.
#   portable-test.sh BUILD_DIR SOURCE_DIR VERSION BUILD_NUMBER PROBE
source "$(dirname "$0")/common.sh"
build=$1 source_dir=$2 version=$3 build_number=$4 probe=$5
bash "$source_dir/scripts/make-portable.sh" "$build" "$work/out" >"$work/pack.log" 2>&1 \
  || { cat "$work/pack.log" >&2; fail "make-portable.sh failed"; finish; }
archive=$(ls "$work"/out/Bramble-"$version"-*.tar.gz 2>/dev/null | head -n 1)
check "archive named Bramble-$version-<arch>.tar.gz" test -n "$archive"
[ -n "$archive" ] || finish

tar -tzf "$archive" >"$work/entries"
check "archive holds the one folder Bramble/" test -z "$(grep -v '^Bramble/' "$work/entries" || true)"
check "archive holds the marker" grep -qxF Bramble/.bramble-portable "$work/entries"
check "archive holds the program at the top of the folder" grep -qxF Bramble/bramble "$work/entries"

mkdir -p "$work/user"
tar -xzf "$archive" -C "$work/user"
folder="$work/user/Bramble"
marker="$folder/.bramble-portable"
check "marker line 1" test "$(sed -n 1p "$marker")" = "bramble-portable 1"
check "marker line 2" test "$(sed -n 2p "$marker")" = "version $version"
(cd "$folder" && find . \( -type f -o -type l \) ! -name .bramble-portable | sed 's|^\./||' | LC_ALL=C sort) \
  >"$work/shipped"
check "marker lists exactly the shipped files, sorted" cmp -s <(tail -n +3 "$marker") "$work/shipped"
check "unpacked program reports its version" \
  test "$(version_of "$folder/bramble")" = "bramble $version (build $build_number)"

# The updater accepts the folder as a portable install and installs the archive over it.
"$probe" "$folder" "$archive" >"$work/probe.log" 2>&1 || true
cat "$work/probe.log"
check "updater detects the folder as a portable install" grep -qxF "kind portable" "$work/probe.log"
check "updater would replace the folder" grep -qxF "installable yes" "$work/probe.log"
check "updater installs the archive over it" grep -qxF "installed yes" "$work/probe.log"
check "folder still runs after the update" \
  test "$(version_of "$folder/bramble")" = "bramble $version (build $build_number)"
check "no staging or old copies left beside it" test "$(ls -A "$work/user")" = "Bramble"

# A file of the user's in the folder makes it refuse, so nothing of theirs is ever deleted.
echo notes >"$folder/my-notes.txt"
"$probe" "$folder" "$archive" >"$work/probe2.log" 2>&1 || true
check "a folder holding a user's file is refused" grep -q '^FAIL installable: .*my-notes.txt' "$work/probe2.log"
check "the user's file is kept" test -f "$folder/my-notes.txt"

# Signing with a key the build does not check against is refused before anything is packed.
"$build/bin/bramble-sign-update" generate-keys --secret-key-file "$work/secret.key" >/dev/null
if bash "$source_dir/scripts/make-portable.sh" "$build" "$work/signed" "$work/secret.key" \
     >"$work/sign.log" 2>&1; then
  fail "a release signed with a key its build does not know was packed"
else
  check "the mismatched key is named" grep -q 'was not configured with the public key' "$work/sign.log"
fi
finish
