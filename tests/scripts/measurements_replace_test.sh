#!/usr/bin/env bash
# measurements_replace_test.sh MEASUREMENTS_SCRIPT: --replace measures nothing
# and leaves the page as it was on a machine other than the page's (its CPU,
# cores or SIMD flags rows differ), and goes on where they match. The script
# runs in a tree of its own, with programs that only record that they ran.
set -uo pipefail
script=$1
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/scripts" "$tree/docs" "$tree/build-release/bin"
cp "$script" "$tree/scripts/measurements.sh"
for program in bench_kernel bench_trace compare_products team_kernel_under_load mpi_compare; do
  printf '#!/bin/sh\ntouch "%s/ran"\n' "$tree" >"$tree/build-release/bin/$program"
  chmod +x "$tree/build-release/bin/$program"
done
cat >"$tree/docs/measurements.md" <<'PAGE'
# Measurements

| | |
|---|---|
| CPU | a CPU no machine has (x86_64) |
| cores | 1000 online: 1 socket(s) × 1000 core(s) × 1 thread(s) per core |
| SIMD flags | avx1024 |
| commit | abc1234 (2026-01-01) |

## Across processes: MPI

old text
PAGE
cp "$tree/docs/measurements.md" "$tree/before.md"

# Another machine's page: refused before anything runs, the page untouched.
out=$(bash "$tree/scripts/measurements.sh" --replace section_mpi 2>&1)
status=$?
((status == 2)) || fail "another machine's page: status $status, not 2"
grep -q "is not the one docs/measurements.md was measured on" <<<"$out" ||
  fail "another machine's page: no refusal in: $out"
for row in CPU cores 'SIMD flags'; do
  grep -q "this machine: | $row |" <<<"$out" || fail "the refusal does not show this machine's $row row"
done
[[ ! -e $tree/ran ]] || fail "another machine's page: a program ran"
cmp -s "$tree/before.md" "$tree/docs/measurements.md" || fail "another machine's page was changed"

# The same rows as this machine's: the check passes (and the unknown section is refused after it).
grep '^  this machine: ' <<<"$out" | sed 's/^  this machine: //' >"$tree/rows"
{
  sed -n '1,4p' "$tree/before.md"
  cat "$tree/rows"
  sed -n '8,$p' "$tree/before.md"
} >"$tree/docs/measurements.md"
out=$(bash "$tree/scripts/measurements.sh" --replace section_none 2>&1)
grep -q "no section named section_none" <<<"$out" || fail "this machine's page: $out"

((failures == 0)) && echo "measurements --replace: every case passed"
exit $((failures > 0))
