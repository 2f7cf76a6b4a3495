#!/usr/bin/env bash
# Installs what the tests need (Debian 12, as root), builds both presets and
# runs their test suites. Usage: scripts/test.sh
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh || exit 1
scripts/fetch-minizip.sh || exit 1

status=0
for preset in native windows; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null || exit 1
  cmake --build --preset "$preset" || exit 1
done
for preset in native windows; do
  echo "== $preset: tests"
  ctest --preset "$preset" | tee "build/$preset-ctest.log" || status=1
done

# One closing line for both suites.
passed=0 failed=0
for preset in native windows; do
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "build/$preset-ctest.log" | tail -n1)
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$line")
  [ -n "$total" ] || { status=1; continue; }
  passed=$((passed + total - bad)) failed=$((failed + bad))
done
echo "tests: $passed passed, $failed failed"
exit $status
