#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the data layer against embedded Firebird
# and against a private Firebird server on loopback that this script starts and stops.
#
#   scripts/test.sh                 build into build/ and run the tests
#   SORVANTO_SANITIZE=1 scripts/test.sh   the same with AddressSanitizer and UBSan, in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

build=build
cmake_args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DSORVANTO_WITH_QT=ON)
if [ "${SORVANTO_SANITIZE:-0}" = 1 ]; then
  build=build-asan
  cmake_args+=(-DSORVANTO_SANITIZE=ON)
  # The leak check at exit does not follow the engine's dynamically loaded thread-local blocks:
  # LeakSanitizer's bookkeeping of them went stale when the engine unloaded its libraries, and
  # its tracer then crashed reading them, failing tests that had passed.
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:intercept_tls_get_addr=0
  export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
cmake -S . -B "$build" "${cmake_args[@]}"
cmake --build "$build" -j"$(nproc)"

server_dir=$PWD/$build/fbserver
bash scripts/test-server.sh start "$server_dir"
trap 'bash scripts/test-server.sh stop "$server_dir"' EXIT
set -a
# shellcheck source=/dev/null
. "$server_dir/env"
set +a

# Demo files and embedded databases of the tests stay inside the build folder, and so does the
# engine's lock folder, which the tests' processes and isql-fb share whatever the machine's
# /tmp/firebird is like.
export SORVANTO_DRIVES=$PWD/$build/test-drives
export FIREBIRD_LOCK=$PWD/$build/fblock
mkdir -p "$FIREBIRD_LOCK"
chmod 700 "$FIREBIRD_LOCK"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure
