#!/usr/bin/env bash
# Installs the Debian packages the build needs, when they are missing.
# As root it runs apt-get itself; otherwise it prints the one line to run.
set -euo pipefail
PACKAGES=(cmake ninja-build g++ pkg-config
          libgtest-dev googletest libbenchmark-dev
          qt6-base-dev qt6-multimedia-dev qt6-qpa-plugins qt6-translations-l10n
          libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
          libsodium-dev libssl-dev ffmpeg xvfb xauth
          python3 xdotool x11-utils tzdata
          dbus-daemon at-spi2-core python3-pyatspi
          pulseaudio pulseaudio-utils
          libewf-dev ewf-tools libfuse3-dev fuse3
          clang-16 libclang-rt-16-dev
          dpkg-dev lintian man-db openbox)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -eq 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "Missing packages. Run:" >&2
  echo "  sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
