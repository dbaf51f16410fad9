#!/usr/bin/env bash
# measurements.sh: every number the kit's pages quote, measured in one run on
# this machine, written to docs/measurements.md together with the pictures
# the pages show (docs/sweep.png, docs/roofline.png, docs/threads-*.png, docs/mpi-*.png and their
# traces).
#
# `make measurements` builds the Release programs first (`make release`) and
# then runs this script from the repository root. Run it on a quiet machine
# and commit what it wrote: re-measuring the kit is that one commit.
#
# Each section of the page is one function below: it says what it measures,
# then runs the kit's programs and pastes their output verbatim under the
# exact command that made it. The page is put together in a scratch file and
# moved into place only once every section has run, so an interrupted run
# leaves the committed page as it was. Busy processes are started only through
# scripts/busy.sh, which never leaves one behind.
#
# `scripts/measurements.sh section_mpi section_ladder` runs only the sections
# named and prints their part of the page instead of writing it (the pictures
# they draw are still written): a way to try one section while working on it.
# `scripts/measurements.sh --replace section_mpi ...` runs them and puts each
# in place of its own part of the page, stamped with when and on which commit
# it ran, so that a change to one subsystem can be measured again without the
# whole page (and every figure the lessons quote from it) moving; the header
# lists what was measured again. The next whole run drops the stamps. It
# refuses on a machine other than the header's (machine_rows below).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${RELEASE_BUILD:-build-release}
bin=$build/bin
page=docs/measurements.md
cores=$(nproc)

for program in bench_kernel bench_trace compare_products team_kernel_under_load; do
  if [[ ! -x $bin/$program ]]; then
    echo "$0: $bin/$program is missing: run \`make measurements\` (or \`make release\` first)" >&2
    exit 1
  fi
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
body=$scratch/body.md

# ---- helpers ------------------------------------------------------------------------------------

# A command as it would be typed: words of plain characters as they are,
# anything else in single quotes.
shown() {
  local out='' word
  for word in "$@"; do
    if [[ $word =~ ^[A-Za-z0-9_./:=,+@%-]+$ ]]; then
      out+=" $word"
    else
      out+=" '${word//\'/\'\\\'\'}'"
    fi
  done
  printf '%s' "${out# }"
}

# Text for the page, from standard input.
say() { cat >>"$body"; }

# Runs a command from the repository root and pastes it into the page: the
# command, then everything it printed (standard output and error) verbatim.
# The output is shown on the terminal too. A command that fails stops the run.
measure() {
  local out=$scratch/out.txt status
  echo "measurements: $(shown "$@")" >&2
  set +e
  "$@" 2>&1 | tee "$out" >&2
  status=${PIPESTATUS[0]}
  set -e
  if ((status != 0)); then
    echo "$0: exit status $status from: $(shown "$@")" >&2
    exit 1
  fi
  {
    # shellcheck disable=SC2016
    printf '```sh\n%s\n```\n\n```text\n' "$(shown "$@")"
    cat "$out"
    printf '```\n\n'
  } >>"$body"
}

load_average() { cut -d' ' -f1-3 /proc/loadavg; }

# The share of the machine's CPU time that something used over one second
# (from /proc/stat's first line: user nice system idle iowait irq softirq steal).
busy_percent() {
  local a b
  read -r -a a < <(head -1 /proc/stat)
  sleep 1
  read -r -a b < <(head -1 /proc/stat)
  local busy=0 total=0 i d
  for i in 1 2 3 4 5 6 7 8; do
    d=$((b[i] - a[i]))
    total=$((total + d))
    if ((i != 4 && i != 5)); then
      busy=$((busy + d))
    fi
  done
  echo $((total > 0 ? 100 * busy / total : 0))
}

# ---- sections, in the order of the page ---------------------------------------------------------

section_kernel() {
  say <<'TEXT'
## The kernel against the machine's peak

What one core can do (`BM_peak_*`: multiply-adds on registers, no memory traffic: `vpmulld` +
`vpaddd` for 32-bit numbers, `vpmaddwd` / `vpdpwssd` for pairs of 16-bit numbers), beside the block
kernel `mmsubmatriz` on every path this CPU runs (`BM_mmsubmatriz/<path>`, n = 1024, values in
[−1000, 1000] so that the 16-bit-range paths can run), a plain i-k-j loop over the same matrices
(`BM_ikj`) and the scan that picks a path (`BM_range_scan`). `GOP` is a rate: billions of
operations per second (2·n³ per product). Medians of three repetitions, in a shuffled order.
Used by [kernel.md](kernel.md).

TEXT
  measure "$bin/bench_kernel" \
    '--benchmark_filter=^BM_peak_|^BM_mmsubmatriz/.*/1024$|^BM_ikj/1024$|^BM_range_scan/1024$' \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
    --benchmark_enable_random_interleaving=true
  cp "$scratch/out.txt" "$scratch/peaks.txt"
}

section_make_run() {
  say <<'TEXT'
## What `make run` shows

`compare_products` without options, as `make run` starts it (`make run` builds the same Release
program into `build-run/`): 512 × 512 factors, every method, 1 and 2 threads. Read in
[products.md](products.md); every column and mark is explained in
[compare-products.md](compare-products.md).

TEXT
  measure "$bin/compare_products"
}

section_three_runs() {
  say <<'TEXT'
## One comparison, three times

The same command three times in a row. An interval describes its own run: the machine drifts by
a few per cent from one run to the next, so a row's interval need not overlap the same row's
interval in the next run, while the paired speedups over one thread stay close. Read in
[measuring.md](measuring.md).

TEXT
  for _ in 1 2 3; do
    measure "$bin/compare_products" --methods omp,kernel --threads 1,2 --size 1024
  done
}

section_busy() {
  say <<TEXT
## The same beside a busy process on every core

The comparison above once more, while \`scripts/busy.sh\` keeps $cores other processes spinning,
one per core, as another user's job would. The line under the table names how much of the machine
they took, and the warning says that speedups over one thread are not reliable. Read in
[measuring.md](measuring.md).

TEXT
  measure scripts/busy.sh "$cores" "$bin/compare_products" --methods omp,kernel --threads 1,2 \
    --size 1024
}

section_team_kernel_quiet() {
  say <<'TEXT'
## The team kernel on a quiet machine

The block kernel on a team (`BM_team_kernel/.../threads:T`: `team_kernel::mmsubmatrizOMP` on T
threads; on one thread it is the kernel alone) at n = 1024, 2048 and 4096, and on the flat
64 × 4096 × 4096 and the tall 4096 × 64 × 4096 products, values over the whole int32 range (the
int32 path the kernel chooses, named in the header), timed in wall-clock time so that the ratio
of two rows is a speedup.
Read in [team-kernel.md](team-kernel.md).

TEXT
  measure "$bin/bench_kernel" \
    '--benchmark_filter=^BM_team_kernel/m:[0-9]+/k:[0-9]+/n:[0-9]+/threads:(1|2)/small:0/' \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
    --benchmark_enable_random_interleaving=true
}

section_team_kernel_busy() {
  say <<'TEXT'
## The team kernel beside busy processes

`team_kernel_under_load` starts its own busy processes (plain spinning loops at normal priority,
not pinned: none, one, then one per core) and times the team kernel on 1 and 2 threads at
n = 256, 512, 1024 and 2048 — the small sizes students run as well as the large — and the rows
team (`omp`) at 1024, in 31 rounds that shuffle which thread count goes first; each ratio is taken
within its round. First on values over the whole int32 range, then on values 1..100 (`--small`,
the 16-bit-range path). Read in [team-kernel.md](team-kernel.md).

TEXT
  measure "$bin/team_kernel_under_load" --sizes 256,512,1024,2048 --rounds 31 --seconds 0.05
  measure "$bin/team_kernel_under_load" --sizes 256,512,1024,2048 --rounds 31 --seconds 0.05 \
    --rows-size 0 --small
}

section_small_products_busy() {
  say <<'TEXT'
## Small products beside busy processes

What a student's `make run` sees: the threaded products at n = 512 (the kernel at 256 too) on 1
and 2 threads, each call timed alone in the kit's rounds, with nothing started beside them, then
beside one and two busy processes (`scripts/busy.sh`). Read in [team-kernel.md](team-kernel.md).

TEXT
  local methods=cyclic,cyclic-blocks,ranges,ranges-blocks,omp,kernel
  measure "$bin/compare_products" --methods "$methods" --threads 1,2 --size 512 --time 5
  measure scripts/busy.sh 1 "$bin/compare_products" --methods "$methods" --threads 1,2 --size 512 \
    --time 5
  measure scripts/busy.sh 2 "$bin/compare_products" --methods "$methods" --threads 1,2 --size 512 \
    --time 5
  measure scripts/busy.sh 1 "$bin/compare_products" --methods kernel --threads 1,2 --size 256 \
    --time 5
  say <<'TEXT'
The smallest products, quiet: the team kernel called directly (`team_kernel_small`: 31 rounds of
five calls back to back on 1 and on 2 threads, their order alternating), around the bound of
2^21 multiply-adds (n = 128) up to which a product runs on the caller alone.

TEXT
  measure "$bin/team_kernel_small" --sizes 64,128,160,192,256 --rounds 31 --calls 5
  say <<'TEXT'
One call of the kernel on 2 threads at n = 512 beside one busy process, traced (the call nearest
the row's median):

![the team kernel on 2 threads at n = 512 beside a busy process](kernel-small-busy.png)

TEXT
  measure scripts/busy.sh 1 "$bin/compare_products" --methods kernel --threads 2 --size 512 \
    --repeat 15 --trace docs/kernel-small-busy.json --timeline docs/kernel-small-busy.png
  say <<<"The lanes of this trace (docs/kernel-small-busy.json):"
  say <<<""
  trace_summary docs/kernel-small-busy.json
}

section_sweep() {
  say <<'TEXT'
## How speed grows with n

Every method at four sizes; the picture is the one the README shows (how to read it: the
README's "How each product's speed grows with n").

![GOP/s and speedup against n, every method](sweep.png)

TEXT
  measure "$bin/compare_products" --sizes 256,512,1024,2048 --seed 1 --plot docs/sweep.png
  cp "$scratch/out.txt" "$scratch/sweep.txt"
}

# Every lane of a trace in one table: for each traced row, when each thread's first phase began
# and its last one ended, and the longest phase, in ms from the start of the call (the lane
# `product` is the whole call).
trace_summary() {
  say <<'TEXT'
| row | lane | from, ms | to, ms | longest phase, ms |
|---|---|---:|---:|---|
TEXT
  awk -F'[:,{}]' '
    function field(key,   f, v) {
      for (f = 1; f < NF; f++) {
        if ($f == "\"" key "\"") { v = $(f + 1); gsub(/"/, "", v); return v }
      }
      return ""
    }
    function label(   v) {
      if (!match($0, /"args":\{"name":"[^"]*"/)) { return "" }
      v = substr($0, RSTART + 16, RLENGTH - 17); return v
    }
    /"ph":"M"/ && /"process_name"/ { row[field("pid")] = label() }
    /"ph":"M"/ && /"thread_name"/ { lane[field("pid") "," field("tid")] = label() }
    /"ph":"X"/ {
      key = field("pid") "," field("tid"); ts = field("ts") / 1000; end = ts + field("dur") / 1000
      if (!(key in from)) { from[key] = ts; to[key] = end; keys[++count] = key }
      if (ts < from[key]) { from[key] = ts }
      if (end > to[key]) { to[key] = end }
      if (end - ts > longest[key]) { longest[key] = end - ts; what[key] = field("name") }
    }
    END {
      for (i = 1; i <= count; i++) {
        k = keys[i]; split(k, part, ",")
        printf "| %s | %s | %.3f | %.3f | %s %.3f |\n", row[part[1]], lane[k], from[k], to[k], \
          what[k], longest[k]
      }
    }' "$1" | say
  say <<<""
}

section_timelines() {
  say <<'TEXT'
## Threads at work

Each threaded row once more after its rounds, with every thread's phases recorded: the pictures
and traces of [threads-at-work.md](threads-at-work.md) (open the `.json` files in Perfetto,
ui.perfetto.dev). First with nothing started beside it:

![timelines of cyclic-blocks, ranges, omp and the team kernel on 2 threads](threads-quiet.png)

TEXT
  measure "$bin/compare_products" --methods cyclic-blocks,ranges,omp,kernel --threads 2 \
    --size 1024 --repeat 6 --trace docs/threads-quiet.json --timeline docs/threads-quiet.png
  say <<<"The lanes of this trace (docs/threads-quiet.json):"
  say <<<""
  trace_summary docs/threads-quiet.json
  say <<'TEXT'
Then beside one busy process that `scripts/busy.sh` starts, which takes a core away from one
of the threads now and then:

![timelines of omp and the team kernel on 2 threads beside a busy process](threads-busy.png)

TEXT
  measure scripts/busy.sh 1 "$bin/compare_products" --methods omp,kernel --threads 2 \
    --size 1024 --repeat 6 --trace docs/threads-busy.json --timeline docs/threads-busy.png
  say <<<"The lanes of this trace (docs/threads-busy.json):"
  say <<<""
  trace_summary docs/threads-busy.json
}

section_trace_cost() {
  say <<'TEXT'
## What tracing costs

One span (one phase of one thread) with recording off, as every product pays it in every run,
and with recording on, as `--trace` pays it. Read in [threads-at-work.md](threads-at-work.md).

TEXT
  measure "$bin/bench_trace" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
}

# Whether MPI runs here: says so on the page and fails when it does not. Sets `mpi_as`, the
# words that start a command as Open MPI wants it (as root it refuses to start unless told twice).
mpi_ready() {
  if ! command -v mpirun >/dev/null 2>&1 || [[ ! -x $bin/mpi_compare ]]; then
    say <<<"Not measured: Open MPI (\`mpirun\`, \`$bin/mpi_compare\`) is not installed here."
    say <<<""
    return 1
  fi
  mpi_as=()
  if (($(id -u) == 0)); then
    mpi_as=(env OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1)
  fi
}

section_mpi() {
  say <<'TEXT'
## Across processes: MPI

Two ranks on this machine, each computing with the team kernel on one thread: on values 1…100
(the kernel's 16-bit-range path) and on the whole 32-bit range, in 51 rounds each, so that the
intervals of the speedups, not only their medians, can be read against the goals. Read in
[mpi.md](mpi.md).

TEXT
  mpi_ready || return 0
  measure "${mpi_as[@]}" mpirun -np 2 --oversubscribe "$bin/mpi_compare" --size 2048 --threads 1 \
    --repeat 51
  measure "${mpi_as[@]}" mpirun -np 2 --oversubscribe "$bin/mpi_compare" --size 2048 --threads 1 \
    --repeat 51 --limit 2147483647
}

# Where each rank's time went in an mpi_compare trace: for each traced call (a column per method
# and rank) the time of each phase of the rank's calling thread, in ms. A phase inside another
# counts for itself alone (a wait for a dealt block inside a panel's broadcast), the team kernel's
# own phases count as the `compute` they are part of, and `unmarked` is the call's time outside
# every phase. Then each rank's clock offset to rank 0's and its uncertainty.
mpi_trace_summary() {
  python3 - "$1" <<'PYTHON' | say
import json, sys
trace = json.load(open(sys.argv[1]))
events = [e for e in trace["traceEvents"] if e["ph"] == "X"]
calls = [e for e in events if e.get("cat") == "call"]
columns, table, kinds = [], {}, ["call"]
for call in calls:
    column = (call["name"].split(",")[0], call["pid"])
    columns.append(column)
    t0, t1 = call["ts"], call["ts"] + call["dur"]
    spans = sorted((e for e in events if e.get("cat") == "phase" and e["pid"] == call["pid"]
                    and e["tid"] == 0 and t0 <= e["ts"] <= t1), key=lambda e: (e["ts"], -e["dur"]))
    own, open_spans = {"call": call["dur"]}, []
    for e in spans:
        # Inside the last open span only if it ends within it (times are whole microseconds).
        end = e["ts"] + e["dur"]
        while open_spans and end > open_spans[-1]["ts"] + open_spans[-1]["dur"] + 0.5:
            open_spans.pop()
        if any(o["name"] == "compute" for o in open_spans):
            continue  # the kernel's own phases are the compute they are in
        if open_spans:
            own[open_spans[-1]["name"]] -= e["dur"]
        own[e["name"]] = own.get(e["name"], 0.0) + e["dur"]
        open_spans.append(e)
        if e["name"] not in kinds:
            kinds.append(e["name"])
    own["unmarked"] = call["dur"] - sum(v for k, v in own.items() if k != "call")
    table[column] = own
kinds.append("unmarked")
methods = [m for m, _ in columns]
columns.sort(key=lambda c: (methods.index(c[0]), c[1]))
print("| phase, ms | " + " | ".join(f"{m}, rank {r}" for m, r in columns) + " |")
print("|---|" + "---:|" * len(columns))
for kind in kinds:
    cells = (f"{table[c][kind] / 1000:.2f}" if kind in table[c] else "" for c in columns)
    print(f"| {kind} | " + " | ".join(cells) + " |")
print()
for c in trace["otherData"]["clock_offsets"][1:]:
    print(f"Rank {c['rank']}'s clock: offset {c['offset_us']:.3f} µs to rank 0's, "
          f"uncertain by {c['uncertainty_us']:.3f} µs.")
print()
PYTHON
}

section_mpi_timelines() {
  say <<'TEXT'
## Across processes: every rank on one timeline

Each MPI product on two ranks, one thread each, at n = 2048 on values 1…100: after 15 timed
rounds, 5 more calls with every rank's phases recorded, of which the one nearest the row's median
is kept and drawn on one time axis. First as the products run, overlapping their messages with
computation, then the same products with the overlap off (`--no-overlap`: each rank waits where
blocking calls would, and SUMMA broadcasts each panel in full before anyone multiplies it). One
picture per run, a panel per method. Read in [mpi.md](mpi.md#every-rank-on-one-timeline).

![rows, summa and summa-blocks on two ranks, overlapping](mpi-timeline.png)

TEXT
  mpi_ready || return 0
  measure "${mpi_as[@]}" mpirun -np 2 --oversubscribe "$bin/mpi_compare" --size 2048 --threads 1 \
    --repeat 15 --trace docs/mpi-trace.json --timeline docs/mpi-timeline.png
  say <<<"Where each rank's time went in this trace (docs/mpi-trace.json):"
  say <<<""
  mpi_trace_summary docs/mpi-trace.json
  say <<'TEXT'
The same with the overlap off:

![rows, summa and summa-blocks on two ranks, overlap off](mpi-timeline-no-overlap.png)

TEXT
  measure "${mpi_as[@]}" mpirun -np 2 --oversubscribe "$bin/mpi_compare" --size 2048 --threads 1 \
    --repeat 15 --no-overlap --trace docs/mpi-trace-no-overlap.json \
    --timeline docs/mpi-timeline-no-overlap.png
  say <<<"Where each rank's time went in this trace (docs/mpi-trace-no-overlap.json):"
  say <<<""
  mpi_trace_summary docs/mpi-trace-no-overlap.json
}

# Students' own products beside the kit's (compare_products --add): the
# starter and the two worked examples of docs/exercises.md, built by this
# Release build as shared objects, once quiet and once beside a busy process.
section_student_products() {
  local added=() name
  for name in my_product transposed_rows tiles_atomic; do
    added+=(--add "$name=$build/exercises/$name.so")
  done
  say <<'TEXT'
## Students' products beside the kit's

The starter of [exercises.md](exercises.md) (`exercises/my_product.cpp`) and its two worked
examples (`exercises/examples/`), each given to `compare_products` with `--add` as a student
would, beside `tipo1`, `omp` and `kernel`: quiet, then beside one busy process (the case the
atomic counter of `tiles_atomic` is for).

TEXT
  measure "$bin/compare_products" --methods tipo1,omp,kernel --threads 1,2 --size 1024 --time 5 \
    "${added[@]}"
  measure scripts/busy.sh 1 "$bin/compare_products" --methods tipo1,omp,kernel --threads 1,2 \
    --size 1024 --time 5 "${added[@]}"
}

section_ladder() {
  local S=$build/exercises/solutions E=exercises/solutions
  mkdir -p out
  say <<'TEXT'
## The exercise ladder's solutions

The finished solutions of [exercises.md](exercises.md)'s five steps (`exercises/solutions/`),
each given with `--add` beside the kit rows its goal names, as its `// try:` line runs it: steps
1 to 3 on one thread at n = 512, step 4 on 1 and 2 threads at n = 1024 for 30 s, quiet, then
steps 4 and 5 beside one busy process for 60 s (step 5's goal is meant there). After each run,
`scripts/try_goal.py` judges the goals of the solutions in it, as `make try` does; beside the
busy process it also judges step 4's row by step 5's goal, which a fixed share must miss.

TEXT
  measure "$bin/compare_products" --methods tipo0,tipo1,kernel --threads 1 --size 512 --time 10 \
    --add "step1_loop_order=$S/step1_loop_order.so" --add "step2_transpose=$S/step2_transpose.so" \
    --add "step3_registers=$S/step3_registers.so" --csv out/ladder-steps-1-3.csv
  measure scripts/try_goal.py $E/step1_loop_order.cpp out/ladder-steps-1-3.csv step1_loop_order
  measure scripts/try_goal.py $E/step2_transpose.cpp out/ladder-steps-1-3.csv step2_transpose
  measure scripts/try_goal.py $E/step3_registers.cpp out/ladder-steps-1-3.csv step3_registers
  measure "$bin/compare_products" --methods tipo1,omp,kernel --threads 1,2 --size 1024 --time 30 \
    --add "step4_omp_rows=$S/step4_omp_rows.so" --add "step5_atomic_team=$S/step5_atomic_team.so" \
    --csv out/ladder-steps-4-5.csv
  measure scripts/try_goal.py $E/step4_omp_rows.cpp out/ladder-steps-4-5.csv step4_omp_rows
  measure scripts/busy.sh 1 "$bin/compare_products" --methods tipo1,omp,kernel --threads 1,2 \
    --size 1024 --time 60 --add "step4_omp_rows=$S/step4_omp_rows.so" \
    --add "step5_atomic_team=$S/step5_atomic_team.so" --csv out/ladder-steps-4-5-busy.csv
  measure scripts/try_goal.py $E/step5_atomic_team.cpp out/ladder-steps-4-5-busy.csv \
    step5_atomic_team
  measure scripts/try_goal.py $E/step5_atomic_team.cpp out/ladder-steps-4-5-busy.csv step4_omp_rows
}

# ---- scaling, bandwidth, roofline, placement: figures computed from the runs above ------------

# Thread counts 1, 2, 4, ... up to the number of CPUs, then twice that many (more threads than
# cores: what a sweep on this machine cannot show, it shows as the missing cores).
thread_list() {
  local list=1 t=1
  while ((t < cores)); do
    t=$((t * 2 > cores ? cores : t * 2))
    list+=",$t"
  done
  echo "$list,$((2 * cores))"
}

# The strong-scaling table of a compare_products CSV (columns found by their header names): for
# every row on more than one thread, the paired speedup over one thread with its interval, the
# efficiency S/p, the serial fraction that speedup implies (Karp–Flatt: e = (1/S - 1/p)/(1 - 1/p),
# its interval from the speedup's), and what Amdahl's law with that e predicts on 8 and 64
# threads (a model, not a measurement).
scaling_table() {
  say <<'TEXT'
| method | n | threads p | speedup S (interval) | efficiency S / p | serial fraction e (Karp–Flatt, interval) | Amdahl with e: 8 threads | 64 threads |
|---|---:|---:|---|---:|---|---:|---:|
TEXT
  awk -F, -v cores="$cores" '
    function kf(s, p) { return (1 / s - 1 / p) / (1 - 1 / p) }
    function amdahl(e, q) { return e <= 0 || e >= 1 ? "-" : sprintf("%.1fx", 1 / (e + (1 - e) / q)) }
    NR == 1 { for (i = 1; i <= NF; i++) { col[$i] = i }; next }
    {
      p = $col["threads"] + 0; s = $col["speedup_vs_one_thread"]
      lo = $col["speedup_vs_one_thread_low"]; hi = $col["speedup_vs_one_thread_high"]
      if (p <= 1 || s == "" || s + 0 <= 0) { next }
      note = p > cores ? sprintf(" (%d cores)", cores) : ""
      range = (lo != "" && hi != "" && lo + 0 > 0) ? \
        sprintf(" (%.3f to %.3f)", kf(hi, p), kf(lo, p)) : ""
      printf "| `%s` | %d | %d%s | %.2fx (%.2f–%.2f) | %.0f%% | %.3f%s | %s | %s |\n", \
        $col["method"], $col["rows"], p, note, s, lo, hi, 100 * s / p, kf(s, p), range, \
        amdahl(kf(s, p), 8), amdahl(kf(s, p), 64)
    }' "$1" | say
  say <<<""
}

section_thread_sweep() {
  local csv=out/thread-sweep.csv threads
  threads=$(thread_list)
  say <<TEXT
## Strong scaling: one product, more threads

The same 1024 × 1024 product (the same numbers: \`--seed 1\`) on ${threads//,/, } threads, for the four
products that hand out rows or pieces of the result: \`cyclic\` (the slow i-j-k nest), \`ranges\`
and \`omp\` (i-k-j rows) and the team kernel. $cores cores: the last thread count has more threads
than cores. Under the table, computed from its CSV: the speedup S over one thread (the median of
the per-round ratios, with its 95% interval), the efficiency S / p, the serial fraction that
speedup implies by the Karp–Flatt metric, e = (1/S − 1/p) / (1 − 1/p), with the interval that
the speedup's interval gives, and what Amdahl's law, S = 1 / (e + (1 − e) / p), predicts from
that e on 8 and 64 threads (a model, not a measurement: "-" where e is not between 0 and 1). Read in
[scaling.md](scaling.md).

TEXT
  measure "$bin/compare_products" --methods cyclic,ranges,omp,kernel --threads "$threads" \
    --size 1024 --seed 1 --csv "$csv"
  scaling_table "$csv"
}

section_weak_scaling() {
  local csv=out/weak-scaling.csv n1=1024 n2
  # The size whose product is `cores` times the work of n1 (work grows as n^3).
  n2=$(awk -v n="$n1" -v p="$cores" 'BEGIN { printf "%d", n * p ^ (1 / 3) + 0.5 }')
  say <<TEXT
## Weak scaling: the work per thread held constant

Strong scaling keeps the product and adds threads; weak scaling grows the product with the
threads, so that each thread has the same work: n = $n1 on 1 thread against n = $n2 on $cores
threads ($n2³ is $cores × $n1³ to within a fraction of a per cent). In one sweep, so that both
sizes are measured the same way. Under the table, computed from its CSV: the weak-scaling
efficiency, the time of the small product on one thread over the time of the large one on
$cores threads, corrected for the small difference in work (1 would be perfect: more threads
finish proportionally more work in the same time). Read in [scaling.md](scaling.md).

TEXT
  measure "$bin/compare_products" --methods omp,kernel --sizes "$n1,$n2" --threads "1,$cores" \
    --seed 1 --csv "$csv"
  say <<'TEXT'
| method | 1 thread, small product: median s | more threads, large product: median s | work ratio | weak-scaling efficiency |
|---|---:|---:|---:|---:|
TEXT
  awk -F, -v n1="$n1" -v n2="$n2" -v p="$cores" '
    NR == 1 { for (i = 1; i <= NF; i++) { col[$i] = i }; next }
    {
      m = $col["method"]; n = $col["rows"] + 0; t = $col["threads"] + 0
      s = $col["median_seconds"]
      if (s == "") { next }
      if (n == n1 && t == 1) { small[m] = s }
      if (n == n2 && t == p) { large[m] = s; order[++count] = m }
    }
    END {
      w = (n2 / n1) ^ 3
      for (i = 1; i <= count; i++) {
        m = order[i]
        if (!(m in small)) { continue }
        printf "| `%s` | %.6f | %.6f | %.3f (%d threads) | %.0f%% |\n", m, small[m], large[m], w, p, \
          100 * small[m] * w / p / large[m]
      }
    }' "$csv" | say
  say <<<""
}

section_stream() {
  say <<'TEXT'
## Memory bandwidth: the streaming benchmark

`bench_stream` (`bench/stream_bench.cpp`) runs McCalpin's four STREAM loops (copy, scale, add,
triad) over arrays of 32-bit numbers, on one thread and on every core, once on arrays far larger
than the caches (n:16777216, 64 MiB each: memory's bandwidth) and once on arrays that stay in a
core's L2 cache (n:65536); `GB` is a rate, 10^9 bytes moved per second. Triad is the figure the
roofline below draws. Medians of three repetitions. Read in [roofline.md](roofline.md).

TEXT
  local program=
  if [[ -x $bin/bench_stream ]]; then
    program=$bin/bench_stream
  elif [[ -x $bin/stream_bench ]]; then
    program=$bin/stream_bench
  fi
  : >"$scratch/stream.txt"
  if [[ -z $program ]]; then
    say <<<"Not measured: \`$bin/bench_stream\` is not built here."
    say <<<""
    return
  fi
  measure "$program" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
  cp "$scratch/out.txt" "$scratch/stream.txt"
}

# The rate, in GB/s, of the first benchmark of the streaming run whose name matches the pattern:
# its median line when there are aggregates (counter "GB=12.3/s", or "GB=1.2k/s").
stream_gbs() {
  awk -v pattern="$1" '
    $1 ~ pattern && $1 !~ /_(mean|stddev|cv)$/ && match($0, /GB=[0-9.]+k?\//) {
      v = substr($0, RSTART + 3, RLENGTH - 4)
      if (v ~ /k$/) { v = substr(v, 1, length(v) - 1) * 1000 }
      printf "%.1f\n", v
      exit
    }' "$scratch/stream.txt"
}

section_roofline() {
  local data=$scratch/roofline.dat script=$scratch/roofline.gp memory all one l2
  memory="^BM_stream_triad/n:16777216/threads:"
  all=$(stream_gbs "${memory}${cores}/")
  one=$(stream_gbs "${memory}1/")
  l2=$(stream_gbs "^BM_stream_triad/n:65536/threads:1/")
  # Peaks: the median line of each BM_peak_* probe.
  awk '/^BM_peak_.*_median/ {
      name = $1; sub(/^BM_peak_/, "", name); sub(/_median$/, "", name)
      if (match($0, /GOP=[0-9.]+/)) print name, substr($0, RSTART + 4, RLENGTH - 4)
    }' "$scratch/peaks.txt" >"$scratch/peaks.dat"
  # Products: every row of the size sweep that has a rate, at x = 2n^3 / (3 * 4 n^2) = n / 6
  # operations per byte (each matrix moved once: the least traffic a product can have).
  awk '$1 ~ /^[0-9]+$/ && $3 ~ /^[0-9]+$/ && $5 ~ /^[0-9.]+$/ {
      print $2 ($3 > 1 ? "/" $3 : ""), $1, $1 / 6, $5
    }' "$scratch/sweep.txt" >"$data"
  local top top_one
  top=$(awk -v c="$cores" '{ p = $2 > p ? $2 : p } END { print c * p }' "$scratch/peaks.dat")
  top_one=$(awk '{ p = $2 > p ? $2 : p } END { print p }' "$scratch/peaks.dat")
  say <<TEXT
## The roofline

Each product of the size sweep placed against what the machine can do. The flat roofs are the
register-only peaks of the first section (\`BM_peak_*\`, one core), and the highest of them times
the $cores cores; the slanted roofs are the triad bandwidths of the streaming benchmark times the
operations per byte: memory on every core and on one core, and a core's L2 cache. A product sits
at x = 2n³ / (3 · 4n²) = n / 6 operations per byte: each of its three matrices moved between
memory and the cores once, the least traffic a product of that size can have; its height is its
GOP/s in the sweep (one point per size: 256, 512, 1024, 2048). Read in [roofline.md](roofline.md).

![roofline: peaks, bandwidth and the kit's products](roofline.png)

| roof | rate |
|---|---:|
TEXT
  awk '{ printf "| `BM_peak_%s`, one core | %s GOP/s |\n", $1, $2 }' "$scratch/peaks.dat" | say
  say <<<"| the highest peak × $cores cores | $top GOP/s |"
  local name value
  for name in "memory, $cores cores:$all" "memory, one core:$one" "L2 cache, one core:$l2"; do
    value=${name##*:}
    say <<<"| triad bandwidth, ${name%:*} | ${value:-not measured}${value:+ GB/s} |"
  done
  if [[ -n $all ]]; then
    say <<<"| ridge point of the highest peak × $cores cores on memory's bandwidth | $(awk -v p="$top" -v b="$all" 'BEGIN { printf "%.1f", p / b }') operations per byte |"
  fi
  say <<<""
  {
    echo "set terminal pngcairo size 1400,800 noenhanced font ',10'"
    echo "set output 'docs/roofline.png'"
    echo "set title \"Roofline: $(lscpu | sed -n 's/^Model name: *//p' | head -1 | tr -d '"'), $cores cores, $(date -u +%Y-%m-%d): the peaks of one core and the STREAM triad bandwidth\""
    echo "set logscale xy 2"
    echo "set xlabel 'operations per byte moved (n / 6 for an n x n product)'"
    echo "set ylabel 'GOP/s'"
    echo "set xrange [0.0625:1024]"
    echo "set yrange [1:2048]"
    echo "set grid"
    echo "set key outside right top"
    echo "set samples 400"
    local plots=() i=0 peak
    while read -r name peak; do
      i=$((i + 1))
      plots+=("$peak with lines dashtype 2 lw 2 title 'peak $name, one core ($peak GOP/s)'")
    done <"$scratch/peaks.dat"
    plots+=("$top with lines dashtype 3 lw 2 lc rgb 'black' title 'highest peak x $cores cores ($top GOP/s)'")
    if [[ -n $all ]]; then
      plots+=("($all * x < $top ? $all * x : 1/0) with lines lw 3 lc rgb 'black' title 'memory, $cores cores ($all GB/s)'")
    fi
    if [[ -n $one ]]; then
      plots+=("($one * x < $top_one ? $one * x : 1/0) with lines lw 2 lc rgb 'gray40' title 'memory, one core ($one GB/s)'")
    fi
    if [[ -n $l2 ]]; then
      plots+=("($l2 * x < $top_one ? $l2 * x : 1/0) with lines lw 2 dashtype 4 lc rgb 'gray40' title 'L2 cache, one core ($l2 GB/s)'")
    fi
    # One data file per series, so that each is drawn as one line through its sizes; nine
    # colours, drawn with round points and then with square ones.
    local k=0 file series title colours=('#e6194b' '#3cb44b' '#4363d8' '#f58231' '#911eb4'
      '#008080' '#9a6324' '#800000' '#000075')
    while read -r series; do
      k=$((k + 1))
      file=$scratch/roofline-$k.dat
      awk -v s="$series" '$1 == s { print $3, $4 }' "$data" >"$file"
      title=${series/\// on }
      if [[ $series == */* ]]; then
        title+=" threads"
      fi
      plots+=("'$file' using 1:2 with linespoints lw 2 pt $((k > 9 ? 5 : 7)) lc rgb '${colours[k % ${#colours[@]}]}' title '$title'")
    done < <(cut -d' ' -f1 "$data" | awk '!seen[$0]++')
    local IFS=,
    echo "plot ${plots[*]}"
  } >"$script"
  if ! command -v gnuplot >/dev/null 2>&1; then
    say <<<"Not drawn: gnuplot is not installed here."
    say <<<""
    return
  fi
  gnuplot "$script"
}

section_cyclic_start() {
  local i json
  say <<'TEXT'
## How long cyclic-blocks takes to start its threads

`cyclic-blocks` on 2 threads, traced in five separate runs (one traced call each, after five
rounds), and from each trace the calling thread's `start threads` (the calls of `pthread_create`
for both workers) and when each worker's `band product` ran, in ms from the start of the call.
A `start threads` that lasts as long as thread 0's band, with thread 1 starting only after
thread 0 ended, is a caller that got no core while thread 0 ran. Read in
[threads-at-work.md](threads-at-work.md).

| run | call, ms | start threads, ms | thread 0's band, ms | thread 1's band, ms |
|---|---:|---:|---|---|
TEXT
  for i in 1 2 3 4 5; do
    json=out/cyclic-start-$i.json
    "$bin/compare_products" --methods cyclic-blocks --threads 2 --size 1024 --repeat 6 --quiet \
      --trace "$json"
    awk -F'[:,]' -v run="$i" '
      /"ph":"X"/ {
        name = ""; ts = 0; dur = 0
        for (f = 1; f <= NF; f++) {
          if ($f ~ /"name"$/) { name = $(f + 1); gsub(/"/, "", name) }
          if ($f ~ /"ts"$/) { ts = $(f + 1) / 1000 }
          if ($f ~ /"dur"$/) { dur = $(f + 1) / 1000 }
        }
        if (name == "product") { call = dur }
        if (name == "start threads") { start = dur }
        if (name == "band product") {
          band[++bands] = sprintf("%.2f to %.2f", ts, ts + dur)
        }
      }
      END { printf "| %d | %.2f | %.2f | %s | %s |\n", run, call, start, band[1], band[2] }' \
      "$json" | say
  done
  say <<<""
  say <<TEXT
The command of each run (the trace's number changes from run to run):

\`\`\`sh
$(shown "$bin/compare_products" --methods cyclic-blocks --threads 2 --size 1024 --repeat 6 --quiet \
    --trace out/cyclic-start-1.json)
\`\`\`

TEXT
}

section_false_sharing() {
  say <<'TEXT'
## False sharing

`false_sharing_demo` (`examples/posix_threads/`): each thread increments a counter of its own,
once with the counters side by side in one cache line and once with each counter on a line of
its own; it prints the fastest of three runs of each layout and their ratio. On 2 threads (its
default), then on 1 thread, where there is no other core to take the line away. Read in
[false-sharing.md](false-sharing.md).

TEXT
  if [[ ! -x $bin/false_sharing_demo ]]; then
    say <<<"Not measured: \`$bin/false_sharing_demo\` is not built here."
    say <<<""
    return
  fi
  measure "$bin/false_sharing_demo"
  measure "$bin/false_sharing_demo" 1
}

section_placement() {
  say <<'TEXT'
## Thread placement: OMP_PROC_BIND, OMP_PLACES, taskset

The same comparison (`omp` and `kernel`, 1 and 2 threads, n = 1024) with the threads left where
the scheduler puts them, bound to cores by the OpenMP runtime (`OMP_PROC_BIND=close` and
`spread` with `OMP_PLACES=cores`), and with the whole program held on one CPU by `taskset -c 0`;
then the default and `close` beside one busy process. Read in [placement.md](placement.md).

TEXT
  # shellcheck disable=SC2054  # commas inside words: the options' own lists
  local common=(--methods omp,kernel --threads 1,2 --size 1024 --time 5 --seed 1)
  measure "$bin/compare_products" "${common[@]}"
  measure env OMP_PROC_BIND=close OMP_PLACES=cores "$bin/compare_products" "${common[@]}"
  measure env OMP_PROC_BIND=spread OMP_PLACES=cores "$bin/compare_products" "${common[@]}"
  if command -v taskset >/dev/null 2>&1; then
    measure taskset -c 0 "$bin/compare_products" "${common[@]}"
  else
    say <<<"Not measured: \`taskset\` (util-linux) is not installed here."
    say <<<""
  fi
  measure scripts/busy.sh 1 "$bin/compare_products" "${common[@]}"
  measure scripts/busy.sh 1 env OMP_PROC_BIND=close OMP_PLACES=cores "$bin/compare_products" \
    "${common[@]}"
}

# ---- the page's head, written last: it knows the whole run -------------------------------------

# The header's rows that name the machine: the CPU, its cores and the SIMD
# flags the kernel chooses by. A section measured again must come from a
# machine with the same rows, or the page would quote two machines as one.
machine_rows() {
  local model sockets per_socket per_core flags=() flag
  model=$(lscpu | sed -n 's/^Model name: *//p' | head -1)
  sockets=$(lscpu | sed -n 's/^Socket(s): *//p' | head -1)
  per_socket=$(lscpu | sed -n 's/^Core(s) per socket: *//p' | head -1)
  per_core=$(lscpu | sed -n 's/^Thread(s) per core: *//p' | head -1)
  for flag in avx2 fma avx512f avx512bw avx512vl avx512_vnni avx_vnni; do
    if grep -m1 '^flags' /proc/cpuinfo | grep -qw "$flag"; then
      flags+=("$flag")
    fi
  done
  cat <<TEXT
| CPU | $model ($(lscpu | sed -n 's/^Architecture: *//p')) |
| cores | $cores online: $sockets socket(s) × $per_socket core(s) × $per_core thread(s) per core |
| SIMD flags | ${flags[*]:-none of avx2, avx512f, avx512bw, avx512_vnni, avx_vnni} |
TEXT
}

header() {
  local started=$1 seconds=$2 load_before=$3 load_after=$4 busy_before=$5 commit=$6
  local paths narrow all_paths compiler
  paths=$(sed -n 's/^kernel_path: //p' "$body" | head -1)
  narrow=$(sed -n 's/^kernel_path_16bit_range: //p' "$body" | head -1)
  # shellcheck disable=SC2016
  all_paths=$("$bin/bench_kernel" --benchmark_list_tests --benchmark_filter='^BM_mmsubmatriz/' |
    cut -d/ -f2 | uniq | sed 's/.*/`&`/' | paste -sd, - | sed 's/,/, /g')
  compiler=$("$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")" --version |
    head -1)
  cat <<TEXT
# Measurements

Every measured number in the kit's pages comes from this page, written by \`make measurements\` in
one run on one machine. The lessons link here; to measure again, run \`make measurements\` on a
machine as quiet as you can find and commit what it writes (this page and the pictures beside it).
What the tables' columns, intervals and marks mean: [compare-products.md](compare-products.md) and
[measuring.md](measuring.md).

| | |
|---|---|
| measured | $started (UTC), the run took ${seconds} s |
$(machine_rows)
| kernel paths chosen | \`$paths\` for the whole int32 range, \`$narrow\` when the values fit in 16 bits |
| kernel paths this CPU runs | $all_paths |
| load average (1, 5, 15 min) | $load_before before, $load_after after (the 1-minute figure before includes the build) |
| CPU time busy in the second before | ${busy_before}% of the machine |
| build | $(shown "$build"), Release, $compiler |
| commit | $commit |

TEXT
}

# ---- the run ------------------------------------------------------------------------------------

started=$(date -u '+%Y-%m-%d %H:%M')
start_seconds=$SECONDS
load_before=$(load_average)
busy_before=$(busy_percent)
commit=unknown
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  commit=$(git log -1 --format='%h (%cs)')
  # The files this run rewrites do not count as changes.
  if ! git diff --quiet HEAD -- . ':!docs/measurements.md' ':!docs/*.png' ':!docs/*.json'; then
    commit+=', with uncommitted changes'
  fi
fi

: >"$body"
replace=0
if [[ ${1:-} == --replace ]]; then
  replace=1
  shift
  if (($# == 0)); then
    echo "$0: --replace needs the sections to measure again" >&2
    exit 2
  fi
  if ! diff <(grep -E '^\| (CPU|cores|SIMD flags) \|' "$page") <(machine_rows) >"$scratch/machine.diff"; then
    echo "$0: this machine is not the one $page was measured on; run the whole page again (make measurements)" >&2
    sed -n 's/^< /  the page:     /p; s/^> /  this machine: /p' "$scratch/machine.diff" >&2
    exit 2
  fi
fi
sections=(section_kernel section_make_run section_three_runs section_busy \
  section_thread_sweep section_weak_scaling section_team_kernel_quiet section_team_kernel_busy \
  section_small_products_busy section_sweep section_stream section_roofline section_timelines section_cyclic_start \
  section_trace_cost section_false_sharing section_placement section_mpi \
  section_mpi_timelines section_student_products section_ladder)
if (($# > 0)); then
  sections=("$@")
fi
for section in "${sections[@]}"; do
  if [[ $(type -t "$section") != function || $section != section_* ]]; then
    echo "$0: no section named $section" >&2
    exit 2
  fi
done
# Each section into a part of its own, then the parts in order.
whole=$body
for section in "${sections[@]}"; do
  section_start=$SECONDS
  body=$scratch/$section.md
  : >"$body"
  "$section"
  cat "$body" >>"$whole"
  echo "measurements: $section took $((SECONDS - section_start)) s" >&2
done
body=$whole

if ((replace)); then
  stamp="$started (UTC), commit $commit; ${busy_before}% of the machine busy in the second before,"
  stamp+=" load average $load_before"
  python3 - "$page" "$stamp" "$scratch" "${sections[@]}" <<'PYTHON'
import re, sys
page_path, stamp, scratch, sections = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
page = open(page_path, encoding="utf-8").read().split("\n")

def headings(lines):
    """Indexes of the lines that open a section: '## ' outside code blocks."""
    out, fenced = [], False
    for i, line in enumerate(lines):
        if line.startswith("```"):
            fenced = not fenced
        elif not fenced and line.startswith("## "):
            out.append(i)
    return out

for section in sections:
    part = open(f"{scratch}/{section}.md", encoding="utf-8").read().rstrip("\n").split("\n")
    if not part or not part[0].startswith("## "):
        sys.exit(f"measurements: {section} does not open with a heading")
    starts = [i for i in headings(page) if page[i] == part[0]]
    if len(starts) != 1:
        sys.exit(f"measurements: the page has {len(starts)} sections headed {part[0]!r}")
    start = starts[0]
    after = [i for i in headings(page) if i > start]
    end = after[0] if after else len(page)
    note = f"*Measured again on its own at {stamp}; the rest of the page comes from the run in the header.*"
    page[start:end] = [part[0], "", note] + part[1:] + [""]
    row = f"| measured again | `{section}` at {stamp.split(' (UTC)')[0]} (UTC) |"
    rows = [i for i, line in enumerate(page) if line.startswith("| measured again | `" + section + "`")]
    if rows:
        page[rows[0]] = row
    else:
        commit_row = next(i for i, line in enumerate(page) if line.startswith("| commit |"))
        page.insert(commit_row + 1, row)
open(page_path, "w", encoding="utf-8").write("\n".join(page))
PYTHON
  echo "measurements: measured again in $page: ${sections[*]}" >&2
  exit 0
fi
if (($# > 0)); then
  cat "$body"
  exit 0
fi
load_after=$(load_average)
{
  header "$started" $((SECONDS - start_seconds)) "$load_before" "$load_after" "$busy_before" \
    "$commit"
  cat "$body"
} >"$scratch/page.md"
mv "$scratch/page.md" "$page"
echo "measurements: wrote $page in $((SECONDS - start_seconds)) s" >&2
