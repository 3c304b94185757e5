# Shared by the entry points in this folder.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs=2

# Runs a named stage and prints how long it took.
stage() {
  local name="$1"; shift
  local start=$SECONDS
  echo "==> ${name}"
  "$@"
  echo "==> ${name}: $((SECONDS - start)) s"
}

# Configures and builds one flavour: build_tree <folder> [cmake options...]
build_tree() {
  local dir="$1"; shift
  cmake -S "$root" -B "$root/$dir" "$@"
  cmake --build "$root/$dir" -j"$jobs"
}

# Runs a command with an X display: the session's own, or a virtual one.
with_display() {
  if [ -n "${DISPLAY:-}" ] && [ "${ZORVA_FORCE_XVFB:-0}" != 1 ]; then
    "$@"
  else
    xvfb-run -a -s "-screen 0 1600x1000x24" "$@"
  fi
}

# Builds OBS 30 with obs-websocket once into a cache (scripts/build-obs), then
# what a real OBS loads and what its tests start, against that OBS, into
# build-real-obs/: the module's development flavour, the WebEngine browser
# panels, the sample services and the probe module. The rest of the tree is
# built and tested against the stand-ins.
real_obs_build() {
  "$root/scripts/build-obs"
  cmake -S "$root" -B "$root/build-real-obs" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_PREFIX_PATH="$("$root/scripts/build-obs" --print-prefix)" \
    -DZORVA_BUILD_TESTS=OFF -DZORVA_BUILD_BENCH=OFF -DZORVA_REAL_OBS_TESTS=ON
  cmake --build "$root/build-real-obs" -j"$jobs" \
    --target vorn-zorva-dev obs-browser-webengine zorva-sample-services real-obs-probe
  npm ci --prefix "$root/tests/real-obs" --no-audit --no-fund
}

# What the real-OBS harness (tests/real-obs/harness.mjs) needs outside CTest.
export_real_obs_environment() {
  export ZORVA_BUILD_DIR="$root/build-real-obs"
  ZORVA_OBS_PREFIX="$("$root/scripts/build-obs" --print-prefix)"
  export ZORVA_OBS_PREFIX
}
