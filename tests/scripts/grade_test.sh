#!/usr/bin/env bash
# grade_test.sh GRADE BUILD: scripts/grade.sh on the submissions beside this script, one of each
# kind a class hands in, against the compare_products of BUILD. Every student gets the verdict of
# their kind, grading completes with status 0, and a missing or empty folder is status 2.
set -uo pipefail
grade=$1
build=$2
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The submissions are kept as .cc, out of reach of the kit's lint (one does not compile), and
# handed in as the .cpp files the grader reads.
mkdir "$scratch/class"
for f in "$here"/grade_submissions/*.cc; do
  cp "$f" "$scratch/class/$(basename "$f" .cc).cpp"
done
RUN_BUILD=$build OUT=$scratch/out "$grade" "$scratch/class" my_product 2 \
  --size 48 --repeat 2 >"$scratch/log.txt" 2>&1
status=$?
((status == 0)) || fail "grading exited $status: $(tail -5 "$scratch/log.txt")"

# student -> verdict, and the detail that verdict must carry.
expected=(
  "right|ok|"
  "wrong|wrong|linha"
  "crashing|crashed|SIGSEGV"
  "does_not_compile|does not compile|error"
  "never_returns|timed out|timed out"
  "divides|wrong|thread"
  "misnamed|no symbol|my_prodcut"
)
for case in "${expected[@]}"; do
  IFS='|' read -r student verdict detail <<<"$case"
  got=$(python3 - "$scratch/out/grades.csv" "$student" <<'PY'
import csv, sys
for row in csv.DictReader(open(sys.argv[1], newline="")):
    if row["student"] == sys.argv[2]:
        print(row["verdict"] + "|" + row["detail"] + "|" + row["median_seconds"])
PY
  )
  IFS='|' read -r got_verdict got_detail got_median <<<"$got"
  [[ $got_verdict == "$verdict" ]] || fail "$student: verdict '$got_verdict', expected '$verdict'"
  [[ $got_detail == *"$detail"* ]] || fail "$student: detail '$got_detail' lacks '$detail'"
  if [[ $verdict == ok ]]; then
    [[ -n $got_median ]] || fail "$student: right but not timed"
  else
    [[ -z $got_median ]] || fail "$student: $verdict but timed"
  fi
done
grep -q "^| right | ok |" "$scratch/out/grades.md" || fail "grades.md has no row for right"

mkdir "$scratch/empty"
for folder in "$scratch/missing" "$scratch/empty"; do
  RUN_BUILD=$build OUT=$scratch/out "$grade" "$folder" >/dev/null 2>&1
  status=$?
  ((status == 2)) || fail "$folder: status $status, expected 2"
done

((failures == 0)) && echo "grade: every verdict as expected"
((failures == 0))
