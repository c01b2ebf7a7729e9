# Sourced by the benchmark scripts: installs what is missing and builds pvl
# (Release) in the benchmark build folder; sets PVL, JBIG2_ENCODER and a temporary OUT
# folder removed on exit. BENCH_SKIP_DEPS=1 leaves the packages alone (on a
# machine where the build's packages are known to be there); JOBS sets the
# build's parallelism (2: the machine is shared). PVL_BIN names an existing
# pvl to time instead (an earlier build, for before-and-after figures).
[ "${BENCH_SKIP_DEPS:-0}" = 1 ] || ./scripts/install-deps.sh
BUILD_DIR=${BENCH_BUILD_DIR:-bench-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPVL_TESTS=OFF >/dev/null
if [ -n "${PVL_BIN:-}" ]; then
  PVL=$PVL_BIN
  cmake --build "$BUILD_DIR" -j"${JOBS:-2}" --target make_jbig2_generic >/dev/null
else
  cmake --build "$BUILD_DIR" -j"${JOBS:-2}" --target pvl make_jbig2_generic >/dev/null
  PVL="$BUILD_DIR/tools/pvl"
fi
# The arithmetic JBIG2 coder of the scanned benchmark documents.
JBIG2_ENCODER="$BUILD_DIR/bench/make_jbig2_generic"
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT
