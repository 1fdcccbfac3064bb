#!/usr/bin/env bash
# Installs every Debian package Bramble needs to build, test and run. Safe to re-run.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git ccache
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite qt6-svg-dev libqt6svg6
  qt6-image-formats-plugins qt6-qpa-plugins
  qcoro-qt6-dev
  libgumbo-dev nlohmann-json3-dev libsodium-dev libarchive-dev zlib1g-dev libsqlite3-dev
  libcpp-httplib-dev libbenchmark-dev
  xvfb xauth fonts-noto-cjk
)
# Qt's own Chinese texts (standard buttons, file dialogs).
packages+=(qt6-translations-l10n)
# A window manager, a tray and screenshots, for looking at the window under Xvfb by hand.
packages+=(openbox trayer xdotool imagemagick x11-utils)
# The validators the packaging tests run, the hicolor theme they install into, and
# dpkg-shlibdeps and file, which cpack needs to work out the .deb's dependencies.
packages+=(desktop-file-utils appstream hicolor-icon-theme dpkg-dev file)
# make fuzz: clang with libFuzzer and its sanitizer runtimes; llvm-symbolizer names the frames
# of a finding.
packages+=(clang-14 libclang-rt-14-dev llvm-14)
# The loopback guard traces each test's connections.
packages+=(strace)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
