#!/usr/bin/env bash
# measurements.sh: every number the kit's pages quote, measured in one run on
# this machine, written to docs/measurements.md together with the pictures
# the pages show (docs/sweep.png, docs/threads-*.png and their traces).
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

The same command three times in a row: on a quiet machine each row's interval overlaps the same
row's interval in the other two runs. Read in [measuring.md](measuring.md).

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
`avx512_i32`-class path), timed in wall-clock time so that the ratio of two rows is a speedup.
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
n = 1024 and 2048, and the rows team (`omp`) at 1024, in rounds that alternate which thread count
goes first; each ratio is taken within its round. Read in [team-kernel.md](team-kernel.md).

TEXT
  measure "$bin/team_kernel_under_load"
}

section_sweep() {
  say <<'TEXT'
## How speed grows with n

Every method at four sizes; the picture is the one the README shows (how to read it: the
README's "How each product's speed grows with n").

![GOP/s and speedup against n, every method](sweep.png)

TEXT
  measure "$bin/compare_products" --sizes 256,512,1024,2048 --seed 1 --plot docs/sweep.png
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
    --size 1024 --repeat 5 --trace docs/threads-quiet.json --timeline docs/threads-quiet.png
  say <<'TEXT'
Then beside one busy process that `scripts/busy.sh` starts, which takes a core away from one
of the threads now and then:

![timelines of omp and the team kernel on 2 threads beside a busy process](threads-busy.png)

TEXT
  measure scripts/busy.sh 1 "$bin/compare_products" --methods omp,kernel --threads 2 \
    --size 1024 --repeat 5 --trace docs/threads-busy.json --timeline docs/threads-busy.png
}

section_trace_cost() {
  say <<'TEXT'
## What tracing costs

One span (one phase of one thread) with recording off, as every product pays it in every run,
and with recording on, as `--trace` pays it. Read in [threads-at-work.md](threads-at-work.md).

TEXT
  measure "$bin/bench_trace" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
}

section_mpi() {
  say <<'TEXT'
## Across processes: MPI

Two ranks on this machine, each computing with the team kernel on one thread: on values 1…100
(the kernel's 16-bit-range path) and on the whole 32-bit range. Read in [mpi.md](mpi.md).

TEXT
  if ! command -v mpirun >/dev/null 2>&1 || [[ ! -x $bin/mpi_compare ]]; then
    say <<<"Not measured: Open MPI (\`mpirun\`, \`$bin/mpi_compare\`) is not installed here."
    say <<<""
    return
  fi
  # Open MPI refuses to start as root unless told twice.
  local as=()
  if (($(id -u) == 0)); then
    as=(env OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1)
  fi
  measure "${as[@]}" mpirun -np 2 --oversubscribe "$bin/mpi_compare" --size 2048 --threads 1 \
    --repeat 6
  measure "${as[@]}" mpirun -np 2 --oversubscribe "$bin/mpi_compare" --size 2048 --threads 1 \
    --repeat 6 --limit 2147483647
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

# ---- the page's head, written last: it knows the whole run -------------------------------------

header() {
  local started=$1 seconds=$2 load_before=$3 load_after=$4 busy_before=$5 commit=$6
  local model sockets per_socket per_core flags=() flag paths narrow all_paths compiler
  model=$(lscpu | sed -n 's/^Model name: *//p' | head -1)
  sockets=$(lscpu | sed -n 's/^Socket(s): *//p' | head -1)
  per_socket=$(lscpu | sed -n 's/^Core(s) per socket: *//p' | head -1)
  per_core=$(lscpu | sed -n 's/^Thread(s) per core: *//p' | head -1)
  for flag in avx2 fma avx512f avx512bw avx512vl avx512_vnni avx_vnni; do
    if grep -m1 '^flags' /proc/cpuinfo | grep -qw "$flag"; then
      flags+=("$flag")
    fi
  done
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
| CPU | $model ($(lscpu | sed -n 's/^Architecture: *//p')) |
| cores | $cores online: $sockets socket(s) × $per_socket core(s) × $per_core thread(s) per core |
| SIMD flags | ${flags[*]:-none of avx2, avx512f, avx512bw, avx512_vnni, avx_vnni} |
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
for section in section_kernel section_make_run section_three_runs section_busy \
  section_team_kernel_quiet section_team_kernel_busy section_sweep section_timelines \
  section_trace_cost section_mpi section_student_products; do
  section_start=$SECONDS
  "$section"
  echo "measurements: $section took $((SECONDS - section_start)) s" >&2
done

load_after=$(load_average)
{
  header "$started" $((SECONDS - start_seconds)) "$load_before" "$load_after" "$busy_before" \
    "$commit"
  cat "$body"
} >"$scratch/page.md"
mv "$scratch/page.md" "$page"
echo "measurements: wrote $page in $((SECONDS - start_seconds)) s" >&2
