#!/usr/bin/env bash
# grade.sh DIR [SYMBOL] [TIMEOUT] [compare_products option]...: a class's products, each
# DIR/<student>.cpp, compiled, checked and timed beside the kit's rows; `make grade` runs it after
# the Release build of `make run` (docs/teaching.md).
#
# 1. Every file is compiled with the command line the build wrote for the exercises
#    (build-run/exercises/compile_command: the kit's headers, flags and warnings). A compile
#    error is that student's verdict, with the compiler's first error line.
# 2. Every compiled product is checked alone, before any clock: on shapes that no block or
#    vector width divides, at 1 to 3 threads (more threads than the rows leave whole), with
#    values over the whole int32 range, one round each. A missing symbol, a wrong result, a
#    crash or a hang (each call bounded by TIMEOUT seconds) is the verdict, and that product is
#    not timed.
# 3. The products that passed are timed in one compare_products run, each in a worker of its
#    own, in the same interleaved rounds as tipo1, omp and kernel (by default --size 512 at 1
#    thread and at every CPU; further options are passed on, e.g. --size 1024 --time 30). A row
#    that goes wrong there (a crash at the larger size) is still that student's verdict alone.
#
# Writes OUT/grades.csv (student,verdict,detail, then the timed figures and the busy line's) and
# OUT/grades.md (the same as a table), OUT being `out` unless set. Exit status: 0 when grading
# completed, whatever the verdicts; 2 for a missing folder or one without .cpp files; 1 when the
# tools themselves failed.
set -euo pipefail

usage="usage: $0 DIR [SYMBOL] [TIMEOUT] [compare_products option]..."
if (($# < 1)); then
  echo "$usage" >&2
  exit 2
fi
dir=${1%/}
symbol=${2:-my_product}
timeout=${3:-}
shift $(($# < 3 ? $# : 3))
run_build=${RUN_BUILD:-build-run}
out=${OUT:-out}
tool=$run_build/bin/compare_products
compile_command=$run_build/exercises/compile_command

if [[ -z $dir || ! -d $dir ]]; then
  echo "$0: no folder '$dir' (make grade DIR=folder, with one <student>.cpp per student)" >&2
  exit 2
fi
shopt -s nullglob
sources=("$dir"/*.cpp)
shopt -u nullglob
if ((${#sources[@]} == 0)); then
  echo "$0: $dir holds no .cpp file (one <student>.cpp per student)" >&2
  exit 2
fi
for needed in "$tool" "$compile_command"; do
  if [[ ! -e $needed ]]; then
    echo "$0: $needed is missing: run \`make grade\` (or \`make run\` first)" >&2
    exit 1
  fi
done
if [[ -n $timeout && ! $timeout =~ ^[0-9]+([.][0-9]+)?$ ]]; then
  echo "$0: TIMEOUT must be a number of seconds, got '$timeout'" >&2
  exit 2
fi
timeout_option=()
if [[ -n $timeout ]]; then
  timeout_option=(--timeout "$timeout")
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
verdicts=$scratch/verdicts.tsv # label, student, verdict, detail
: >"$verdicts"
passed=()

# The first line of a file that matches a pattern, tabs and carriage returns made spaces.
first_line() { grep -m1 -E "$1" "$2" | tr '\t\r' '  ' | sed -e 's/^ *//' || true; }

# A label compare_products accepts (letters, digits, - _ .), never a method's name, never twice.
declare -A taken=()
label_for() {
  local label=${1//[^A-Za-z0-9_.-]/_}
  case $label in
    tipo[0-9] | cyclic | cyclic-blocks | ranges | ranges-blocks | omp | kernel) label="student-$label" ;;
  esac
  while [[ -n ${taken[$label]:-} ]]; do
    label="${label}_"
  done
  taken[$label]=1
  printf '%s' "$label"
}

# The verdict of one CSV result cell that is not `identical`.
verdict_of() {
  case $1 in
    differs) echo wrong ;;
    crashed* | exited*) echo crashed ;;
    "timed out") echo "timed out" ;;
    *changed*) echo "changed its input" ;;
    *) echo wrong ;;
  esac
}

# The first row of one label in a compare_products CSV whose result is not identical, as
# "result" (nothing when every row was identical). The result cell may be quoted.
first_failure() {
  python3 - "$1" "$2" <<'PY'
import csv, sys
with open(sys.argv[1], newline="") as f:
    for row in csv.DictReader(f):
        if row["method"] == sys.argv[2] and row["result"] not in ("identical", "skipped"):
            print(row["result"] + "\t" + row["threads"] + "\t" + row["rows"] + "x" + row["inner"] + "x" + row["cols"])
            break
PY
}

limit="the tool's default"
if [[ -n $timeout ]]; then
  limit="$timeout s per call"
fi
echo "grading ${#sources[@]} file(s) of $dir: symbol $symbol, timeout $limit"
read -r -a compile <"$compile_command"
for source in "${sources[@]}"; do
  student=$(basename "$source" .cpp)
  label=$(label_for "$student")
  so=$scratch/$label.so
  log=$scratch/$label
  # 1. Compile.
  if ! "${compile[@]}" "$source" -o "$so" >"$log.compile.txt" 2>&1; then
    printf '%s\t%s\t%s\t%s\n' "$label" "$student" "does not compile" \
      "$(first_line 'error' "$log.compile.txt")" >>"$verdicts"
    echo "  $student: does not compile"
    continue
  fi
  # 2. Checked alone, shape by shape, before any clock.
  verdict=
  detail=
  for shape in 7x13x5 97x600x45 1x1x1; do
    status=0
    "$tool" --shape "$shape" --limit 2147483647 --threads 1,2,3 --repeat 1 --methods tipo1 \
      "${timeout_option[@]}" --add "$label=$so:$symbol" --quiet --csv "$log.check.csv" \
      >/dev/null 2>"$log.check.txt" || status=$?
    if ((status == 0)); then
      continue
    fi
    if ((status == 2)); then
      if grep -q "has no symbol" "$log.check.txt"; then
        verdict="no symbol"
        exported=$(nm -D --defined-only "$so" 2>/dev/null | awk '$2 == "T" {print $3}' |
          grep -v -E '^_(init|fini)$' | head -5 | paste -sd' ' - || true)
        detail="no function '$symbol' (extern \"C\"? SYMBOL=?); it exports: ${exported:-nothing}"
      else
        verdict="does not compile"
        detail=$(first_line '.' "$log.check.txt")
      fi
      break
    fi
    failure=$(first_failure "$log.check.csv" "$label")
    if [[ -z $failure ]]; then
      verdict=wrong
      detail=$(first_line '.' "$log.check.txt")
    else
      IFS=$'\t' read -r result threads case_shape <<<"$failure"
      verdict=$(verdict_of "$result")
      said=$(first_line "$label|differ|element|result" "$log.check.txt")
      detail="$result at $case_shape on $threads thread(s)${said:+: $said}"
    fi
    break
  done
  if [[ -n $verdict ]]; then
    detail=${detail//"$so"/"$source"}
    printf '%s\t%s\t%s\t%s\n' "$label" "$student" "$verdict" "$detail" >>"$verdicts"
    echo "  $student: $verdict"
    continue
  fi
  printf '%s\t%s\t%s\t%s\n' "$label" "$student" ok "" >>"$verdicts"
  passed+=(--add "$label=$so:$symbol")
  echo "  $student: right on every shape checked"
done

# 3. The right ones timed together beside the kit's rows.
timed_csv=$scratch/timed.csv
if ((${#passed[@]} > 0)); then
  echo "timing $((${#passed[@]} / 2)) product(s) beside tipo1, omp and kernel"
  status=0
  threads=1
  if (($(nproc) > 1)); then
    threads="1,$(nproc)"
  fi
  "$tool" --size 512 --threads "$threads" --methods tipo1,omp,kernel "${timeout_option[@]}" \
    "$@" "${passed[@]}" --csv "$timed_csv" 2>"$scratch/timed.txt" || status=$?
  if ((status > 1)); then
    echo "$0: compare_products stopped with status $status:" >&2
    cat "$scratch/timed.txt" >&2
    exit 1
  fi
else
  : >"$timed_csv"
fi

# The two files, from the verdicts and the timed CSV.
mkdir -p "$out"
python3 - "$verdicts" "$timed_csv" "$out/grades.csv" "$out/grades.md" <<'PY'
import csv, sys

verdicts_path, timed_path, csv_path, md_path = sys.argv[1:5]
rows = {}
try:
    with open(timed_path, newline="") as f:
        for r in csv.DictReader(f):
            rows.setdefault(r["method"], []).append(r)
except (OSError, KeyError):
    pass

def pick(method, threads):
    for r in rows.get(method, []):
        if r["threads"] == str(threads):
            return r
    return None

def verdict_of(result):
    if result == "differs":
        return "wrong"
    if result.startswith(("crashed", "exited")):
        return "crashed"
    if result == "timed out":
        return "timed out"
    if "changed" in result:
        return "changed its input"
    return "wrong"

columns = ["student", "verdict", "detail", "median_seconds", "gops", "speedup_vs_tipo1",
           "threads", "speedup_vs_one_thread", "speedup_vs_one_thread_low",
           "speedup_vs_one_thread_high", "others_cpu_percent", "steal_percent"]
tipo1 = pick("tipo1", 1)
out = []
with open(verdicts_path) as f:
    for line in f:
        label, student, verdict, detail = line.rstrip("\n").split("\t")
        g = dict.fromkeys(columns, "")
        g.update(student=student, verdict=verdict, detail=detail)
        mine = rows.get(label, [])
        if verdict == "ok" and mine:
            bad = [r for r in mine if r["result"] not in ("identical", "skipped")]
            if bad:
                g["verdict"] = verdict_of(bad[0]["result"])
                g["detail"] = "%s on %s thread(s) in the timed run" % (bad[0]["result"], bad[0]["threads"])
            one = pick(label, 1)
            most = max(mine, key=lambda r: int(r["threads"]))
            if one and one["median_seconds"]:
                g["median_seconds"] = one["median_seconds"]
                g["gops"] = one["gops"]
                if tipo1 and tipo1["median_seconds"] and float(one["median_seconds"]) > 0:
                    # A ratio of the two medians of the same run (not a paired ratio).
                    g["speedup_vs_tipo1"] = "%.3f" % (float(tipo1["median_seconds"]) /
                                                      float(one["median_seconds"]))
            if most is not one:
                g["threads"] = most["threads"]
                for c in ("speedup_vs_one_thread", "speedup_vs_one_thread_low",
                          "speedup_vs_one_thread_high"):
                    g[c] = most[c]
            g["others_cpu_percent"] = one["others_cpu_percent"] if one else ""
            g["steal_percent"] = one["steal_percent"] if one else ""
        out.append(g)

with open(csv_path, "w", newline="") as f:
    w = csv.DictWriter(f, fieldnames=columns)
    w.writeheader()
    w.writerows(out)

def cell(text):
    return text.replace("|", "\\|")

def interval(g):
    if not g["speedup_vs_one_thread"]:
        return ""
    return "%sx (%s–%s) on %s" % (g["speedup_vs_one_thread"], g["speedup_vs_one_thread_low"],
                                  g["speedup_vs_one_thread_high"], g["threads"])

with open(md_path, "w") as f:
    f.write("| student | verdict | median s, 1 thread | GOP/s | vs tipo1 | vs 1 thread | detail |\n")
    f.write("|---|---|---:|---:|---:|---|---|\n")
    for g in out:
        f.write("| %s | %s | %s | %s | %s | %s | %s |\n" % (
            cell(g["student"]), g["verdict"], g["median_seconds"], g["gops"],
            g["speedup_vs_tipo1"] + ("x" if g["speedup_vs_tipo1"] else ""), interval(g),
            cell(g["detail"])))
    busy = next((g["others_cpu_percent"] for g in out if g["others_cpu_percent"]), "")
    if busy:
        f.write("\nOther programs used %s%% of the machine's CPU time while the rounds ran.\n" % busy)
PY
echo "wrote $out/grades.csv and $out/grades.md"
