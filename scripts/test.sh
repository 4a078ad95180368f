#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh

# The tests never touch the user's own settings, data or key store.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data" \
       XDG_CACHE_HOME="$scratch/cache" XDG_RUNTIME_DIR="$scratch/runtime"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=offscreen

# A private session bus with an unlocked Secret Service for the key-store tests.
exec dbus-run-session -- bash -c '
  eval "$(printf test | gnome-keyring-daemon --unlock --components=secrets | sed "s/^/export /")"
  ctest --test-dir build --output-on-failure -j"$(nproc)" "$@"
' bash "$@"
