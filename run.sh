#!/usr/bin/env bash
# Installs what is missing, builds the program (Release) and starts it with
# the files given: ./run.sh [file.pdf ...] (each argument one file).
set -euo pipefail
cd "$(dirname "$0")"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); start it from a desktop session," >&2
  echo "        or under a virtual X server: xvfb-run ./run.sh file.pdf" >&2
  exit 1
fi

./scripts/install-deps.sh

BUILD_DIR=${RUN_BUILD_DIR:-build-release}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPVL_TESTS=OFF >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)" --target corvane-pdf-reader

exec "$BUILD_DIR/src/app/corvane-pdf-reader" "$@"
