#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: each test on its own through CTest,
# then (when no CTest arguments are given) each test program once as a whole process,
# since a fault that one test leaves for a later one shows only there. The last line
# counts both: "N passed, N failed".
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
export QT_QPA_PLATFORM=offscreen SCRATCH="$scratch"

# A private session bus with an unlocked Secret Service for the key-store tests.
exec dbus-run-session -- bash -c '
  set -u
  eval "$(printf test | gnome-keyring-daemon --unlock --components=secrets | sed "s/^/export /")"
  ctest --test-dir build --output-on-failure -j"$(nproc)" "$@" 2>&1 | tee "$SCRATCH/ctest.log"
  ctest_rc=${PIPESTATUS[0]}
  # "100% tests passed, 0 tests failed out of 412"
  summary=$(grep -E "tests passed, [0-9]+ tests? failed out of [0-9]+" "$SCRATCH/ctest.log" | tail -n 1 || true)
  failed=$(sed -E "s/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/" <<<"$summary")
  total=$(sed -E "s/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/" <<<"$summary")
  if [[ -z $summary ]]; then failed=1; total=1; fi
  passed=$((total - failed))
  if [[ $ctest_rc -ne 0 && $failed -eq 0 ]]; then failed=1; fi

  if [[ $# -eq 0 ]]; then
    # Each program in its own scratch folders, all at once; the slowest sets the time.
    started=$(date +%s)
    declare -A pids logs
    # The media tests play in real time for minutes: they run as three processes, each one
    # whole for the third of the tests it is given. The sound tests are not run here: each
    # runs on its own above, and all of them once more in one process on PipeWire, while
    # beside nine other programs here they measured the machine rather than the player.
    for program in build/tests/*_tests; do
      [[ -x $program ]] || continue
      base=$(basename "$program")
      shards=1
      only=()
      if [[ $base == media_tests ]]; then
        shards=3
        only=("--gtest_filter=-SoundTest.*")
      fi
      for ((shard = 0; shard < shards; shard++)); do
        name=$base
        ((shards > 1)) && name="$base ($((shard + 1)) of $shards)"
        home="$SCRATCH/whole/$base-$shard"
        mkdir -p "$home/home" "$home/config" "$home/data" "$home/cache"
        HOME="$home/home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" \
          XDG_CACHE_HOME="$home/cache" LC_ALL=C.UTF-8 GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$shard \
          "$program" "${only[@]}" >"$SCRATCH/whole-$base-$shard.log" 2>&1 &
        pids[$name]=$!
        logs[$name]="$SCRATCH/whole-$base-$shard.log"
      done
    done
    while IFS= read -r name; do
      if wait "${pids[$name]}"; then
        echo "whole program $name: passed"
        passed=$((passed + 1))
      else
        echo "whole program $name: FAILED (exit $?); its output ends:"
        tail -n 40 "${logs[$name]}"
        failed=$((failed + 1))
      fi
    done < <(printf "%s\n" "${!pids[@]}" | sort)
    echo "Whole test programs took $(( $(date +%s) - started )) s."
  fi
  echo "$passed passed, $failed failed"
  [[ $failed -eq 0 ]]
' bash "$@"
