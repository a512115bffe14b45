#!/usr/bin/env bash
# Installs what is missing, builds, seeds the demo profile and database (never overwriting them)
# and starts the program on them.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSORVANTO_WITH_QT=ON
cmake --build build -j"$(nproc)"
bash scripts/seed-demo.sh

if [ ! -x build/sorvanto ]; then
  echo "The demo is seeded. The program's window is not built yet, so there is nothing to start."
  exit 0
fi
exec build/sorvanto "$@"
