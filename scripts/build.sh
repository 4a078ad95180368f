#!/usr/bin/env bash
# Configures and builds Vantorel into build/ (warnings on, tests and benchmarks included).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
