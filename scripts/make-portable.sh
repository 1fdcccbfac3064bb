#!/usr/bin/env bash
# Packs a built tree as the portable release archive: a .tar.gz holding the one folder
# Bramble/ with the program at its top and the marker the updater checks. With a signing
# key it also signs the archive and writes its feed entry.
#
#   scripts/make-portable.sh BUILD_DIR OUT_DIR [SECRET_KEY_FILE]
#
# Writes OUT_DIR/Bramble-<version>-<arch>.tar.gz and, with a key,
# OUT_DIR/Bramble-<version>-<arch>.feed-item.xml. The archive does not carry Qt: the program
# uses the Qt 6 and the other libraries of the system (see docs/releasing.md).
set -euo pipefail

build=${1:?usage: make-portable.sh BUILD_DIR OUT_DIR [SECRET_KEY_FILE]}
out=${2:?usage: make-portable.sh BUILD_DIR OUT_DIR [SECRET_KEY_FILE]}
key=${3:-}
build=$(cd "$build" && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)

# shellcheck source=/dev/null
source "$build/release-info.sh"
signer="$build/bin/bramble-sign-update"
[ -x "$build/bin/bramble" ] || { echo "make-portable: $build/bin/bramble is not built" >&2; exit 1; }
[ -x "$signer" ] || { echo "make-portable: $signer is not built" >&2; exit 1; }

if [ -n "$key" ]; then
  # A release signed with another key than the one it checks with could never update again.
  public=$("$signer" public-key --secret-key-file "$key")
  if [ "$public" != "$BRAMBLE_UPDATE_PUBLIC_KEY" ]; then
    echo "make-portable: $build was not configured with the public key of $key" >&2
    echo "  (configure it with -DBRAMBLE_UPDATE_PUBLIC_KEY=$public)" >&2
    exit 1
  fi
fi

stage=$(mktemp -d "${TMPDIR:-/tmp}/bramble-portable.XXXXXX")
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage/root" cmake --install "$build" --prefix /usr --strip >/dev/null

# The program sits at the top of the folder: that is where the updater looks for it.
folder="$stage/Bramble"
mkdir -p "$folder"
cp -p "$stage/root/usr/bin/bramble" "$folder/bramble"
cp -R -p "$stage/root/usr/share" "$folder/share"
"$signer" portable-manifest "$folder" --version "$BRAMBLE_VERSION" >/dev/null

name="Bramble-$BRAMBLE_VERSION-$BRAMBLE_ARCH"
archive="$out/$name.tar.gz"
# Same bytes for the same tree: sorted names, no owners, fixed times.
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$(dirname "$0")/.." log -1 --format=%ct 2>/dev/null || echo 0)}
tar --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$epoch" \
    -C "$stage" -cf - Bramble | gzip -n -9 > "$archive.part"
mv "$archive.part" "$archive"
echo "$archive"

if [ -n "$key" ]; then
  entry="$out/$name.feed-item.xml"
  "$signer" sign "$archive" --secret-key-file "$key" \
      --url "${BRAMBLE_UPDATE_FEED_URL}$name.tar.gz" \
      --build "$BRAMBLE_BUILD_NUMBER" --display-version "$BRAMBLE_VERSION" > "$entry.part"
  mv "$entry.part" "$entry"
  echo "$entry"
fi
