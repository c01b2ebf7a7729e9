#!/usr/bin/env bash
# Installs, with apt-get, every Debian package the build, the tests and the
# oracles need. Quick when everything is already there: only missing packages
# are asked for, and the package lists are refreshed only then.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake ninja-build ccache clang pkg-config libgtest-dev
  libbenchmark-dev libclang-rt-14-dev
  # libraries the engine and the program link
  zlib1g-dev libssl-dev libjpeg62-turbo-dev libopenjp2-7-dev libcairo2-dev
  libgdiplus libfontconfig-dev libfreetype-dev libxml2-dev
  libcurl4-openssl-dev libcups2-dev qt6-base-dev libicu-dev liblcms2-dev libtiff-dev
  # oracles used by the tests
  qpdf poppler-utils mupdf-tools ghostscript imagemagick pngcheck
  libtiff-tools jbig2dec libopenjp2-tools libjpeg-turbo-progs python3
  tzdata
  # the program's window tests under a virtual X server
  xvfb xauth
  # metafiles written through libEMF's GDI calls, drawn by emf2svg and rsvg
  libemf-dev emf2svg librsvg2-bin
  # Windows metafile pages drawn by libwmf's converter
  libwmf-bin
  # fonts and data
  fonts-urw-base35 fonts-liberation2 fonts-dejavu-core fonts-droid-fallback
  poppler-data aglfn
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
