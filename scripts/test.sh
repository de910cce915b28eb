#!/usr/bin/env bash
# The test command: installs what the project needs, builds it and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2
cd build
ctest --output-on-failure -j2 --timeout 300
