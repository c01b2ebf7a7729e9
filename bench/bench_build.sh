# Sourced by the benchmark scripts: installs what is missing and builds pvl
# (Release) in the benchmark build folder; sets PVL and a temporary OUT
# folder removed on exit.
./scripts/install-deps.sh
BUILD_DIR=${BENCH_BUILD_DIR:-bench-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPVL_TESTS=OFF >/dev/null
cmake --build "$BUILD_DIR" -j"${JOBS:-3}" --target pvl >/dev/null
PVL="$BUILD_DIR/tools/pvl"
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT
