#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Quilvane, and runs it or its tests.
#   ./build.sh run    install what is needed, build, start the program
#   ./build.sh test   install what is needed, build, run every test
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev libgl-dev libblkid-dev libcurl4-openssl-dev
  libgtest-dev libgmock-dev
  dosfstools mtools ntfs-3g fuse3 exfatprogs sleuthkit fdisk util-linux coreutils xz-utils
  clang libclang-rt-14-dev
  libimage-exiftool-perl imagemagick sox lame zip libjpeg-turbo-progs netpbm foremost testdisk
  libarchive-tools
  dcraw libexiv2-dev qt6-image-formats-plugins adwaita-icon-theme shared-mime-info
  python3 xdg-utils strace tzdata
  qt6-translations-l10n xvfb openbox x11-utils
  ffmpeg
)

install_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
}

build() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build build --parallel "$(nproc)"
}

case "${1:-}" in
  run)
    install_packages
    build
    exec ./build/app/quilvane "${@:2}"
    ;;
  test)
    install_packages
    build
    QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure --parallel "$(nproc)" --timeout 600
    ;;
  *)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
