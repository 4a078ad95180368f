#!/usr/bin/env bash
# Installs what is missing, builds, and starts Vantorel.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
echo "Vantorel is built: $(pwd)/build/vantorel"
exec build/vantorel "$@"
