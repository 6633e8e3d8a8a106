#!/usr/bin/env bash
# Configures and builds one build tree.
#
#   scripts/build.sh [--quiet] [--programs] [--target NAME]... [BUILD_DIR] [extra cmake arguments...]
#
# --target builds only NAME and what it needs (the tree stays configured for everything, so a
# later build of the whole tree reuses what was built). --programs configures a new tree without
# the tests, which need packages that running does not (a tree that has them keeps them); without
# it the tests are part of the tree. --quiet shows CMake's progress instead of the compilers'
# lines, which go to BUILD_DIR/logs/build.log and are shown in part on a failure.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
quiet=0
programs=0
targets=()
while [[ ${1:-} == --* ]]; do
  case $1 in
    --quiet) quiet=1; shift ;;
    --programs) programs=1; shift ;;
    --target) targets+=(--target "$2"); shift 2 ;;
    *) echo "build.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
build=${1:-"$root/build"}
shift || true
launcher=()
if command -v ccache >/dev/null; then
  # Paths relative to the source tree, so a fresh clone elsewhere reuses what an earlier build
  # compiled.
  export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
tests=-DSTRIMO_TESTS=ON
if ((programs)); then
  tests=-DSTRIMO_TESTS=OFF
  grep -qx 'STRIMO_TESTS:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null && tests=-DSTRIMO_TESTS=ON
fi
configure=(cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$tests" "${launcher[@]}" "$@")
compile=(cmake --build "$build" -j "$(nproc)" "${targets[@]}")
if ((quiet == 0)); then
  "${configure[@]}" >/dev/null
  "${compile[@]}"
  exit
fi

# shellcheck source=progress.sh
source "$root/scripts/progress.sh"
mkdir -p "$build/logs"
log=$(cd "$build/logs" && pwd)/build.log
: >"$log"
only_log() { cat >>"$log"; }
run_logged "$log" "  preparing the build (CMake)" only_log "${configure[@]}"
# The Makefiles' own progress: "[ 42%] Building CXX object ...".
percent() { tee -a "$log" | sed -un 's/^\[ *\([0-9][0-9]*\)%\].*/\1/p'; }
run_logged "$log" "  compiling" percent "${compile[@]}"
