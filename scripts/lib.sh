# shellcheck shell=bash
# Shared by the entry points in this folder.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# Parallel build and test jobs: ZORVA_JOBS, or one a processor.
jobs="${ZORVA_JOBS:-$(nproc)}"

# Runs a named stage and prints how long it took.
stage() {
  local name="$1"; shift
  local start=$SECONDS
  echo "==> ${name}"
  "$@"
  echo "==> ${name}: $((SECONDS - start)) s"
}

# Configures and builds a flavour of CMakePresets.json in the preset's folder:
# build_preset <preset> [cmake options...]
build_preset() {
  local preset="$1"; shift
  cmake -S "$root" --preset "$preset" "$@"
  (cd "$root" && cmake --build --preset "$preset" -j"$jobs")
}

# The regular build, with every test, the development host and the benchmarks.
build_regular() {
  build_preset tests
}

# Runs a command with an X display: the session's own, or a virtual one.
with_display() {
  if [ -n "${DISPLAY:-}" ] && [ "${ZORVA_FORCE_XVFB:-0}" != 1 ]; then
    "$@"
  else
    xvfb-run -a -s "-screen 0 1600x1000x24" "$@"
  fi
}

# The Debian suite whose packaged OBS has the given major version: obs_suite 30|32.
obs_suite() {
  case "$1" in
    30) echo trixie ;;
    32) echo sid ;;
    *) echo "error: no packaged OBS '$1' (30 or 32)" >&2; return 2 ;;
  esac
}

# Runs a command in a network namespace of its own in which only the loopback
# interface is up: packaged OBS and the clients that talk to it run so.
in_loopback() {
  unshare --net -- bash -c 'ip link set lo up && exec "$@"' in_loopback "$@"
}

# A package's build takes only the deployment's settings (-DZORVA_<setting>=<value>):
# the rest of it is the scripts'. Exits with a message on anything else.
deployment_settings() {
  local setting
  for setting in "$@"; do
    case "$setting" in
      -DZORVA_*=*) ;;
      *) echo "error: '$setting' is no -DZORVA_<setting>=<value>" >&2; exit 2 ;;
    esac
  done
}
