#!/usr/bin/env python3
"""try_goal_test.py SCRIPT: make try's goal line judged by intervals, never by medians alone."""
import os
import subprocess
import sys
import tempfile

HEADER = ("method,library_call,threads,rows,inner,cols,repetitions,median_seconds,gops,"
          "speedup_vs_tipo0,speedup_vs_one_thread,result,check_seconds,seed,min_seconds,max_seconds,"
          "median_low_seconds,median_high_seconds,rounds,speedup_vs_one_thread_low,"
          "speedup_vs_one_thread_high,others_cpu_percent,steal_percent\n")


def row(method, threads, median, gops, low, high, tipo0="", one="", one_low="", one_high="",
        result="identical"):
    return "%s,x,%d,64,64,64,9,%s,%s,%s,%s,%s,0.0001,,%s,%s,%s,%s,9,%s,%s,5.0,0.0\n" % (
        method, threads, median, gops, tipo0, one, result, low, high, low, high, one_low, one_high)


# tipo0 at 1.0 s (0.9–1.1); a row at 0.1 s (0.09–0.11) is 10× (8.18–12.2) over it.
TIPO0 = row("tipo0", 1, "1.0", "0.5", "0.9", "1.1", tipo0="1.0")
OMP2 = row("omp", 2, "0.6", "1.0", "0.55", "0.65", one="1.6", one_low="1.5", one_high="1.7")

# name | goal line of the source | CSV rows | expected stdout | expected status
CASES = [
    ("met: the whole ratio interval above the bound", "// goal: speedup_vs_tipo0[1] >= 5\n",
     TIPO0 + row("mine", 1, "0.1", "5.0", "0.09", "0.11", tipo0="10.0"),
     "goal: speedup_vs_tipo0[1] >= 5: met (10 (8.182–12.22) against 5)\n", 0),
    ("not met: the whole interval below the bound", "// goal: speedup_vs_tipo0[1] >= 5\n",
     TIPO0 + row("mine", 1, "0.5", "1.0", "0.45", "0.55", tipo0="2.0"),
     "goal: speedup_vs_tipo0[1] >= 5: not met (2 (1.636–2.444) against 5)\n", 0),
    ("undecided: a median above the bound whose interval holds it",
     "// goal: speedup_vs_tipo0[1] >= 5\n",
     TIPO0 + row("mine", 1, "0.18", "2.8", "0.15", "0.25", tipo0="5.5"),
     "goal: speedup_vs_tipo0[1] >= 5: undecided: the interval holds the bound (5.5 (3.6–7.333) "
     "against 5); run longer (--time) or on a quieter machine\n", 0),
    ("against another row: its interval times the factor",
     "// goal: speedup_vs_one_thread[2] >= 0.9 * omp.speedup_vs_one_thread[2]\n",
     OMP2 + row("mine", 2, "0.5", "1.2", "0.48", "0.52", one="1.9", one_low="1.8", one_high="2.0"),
     "goal: speedup_vs_one_thread[2] >= 0.9 * omp.speedup_vs_one_thread[2]: met (1.9 (1.8–2) "
     "against 1.44 (1.35–1.53) (0.9 × omp's 1.6 (1.5–1.7)))\n", 0),
    ("GOP/s from the time interval, below a row's",
     "// goal: gops[2] >= 2 * omp.gops[2]\n",
     OMP2 + row("mine", 2, "0.5", "1.2", "0.48", "0.52"),
     "goal: gops[2] >= 2 * omp.gops[2]: not met (1.2 (1.154–1.25) against 2 (1.846–2.182) "
     "(2 × omp's 1 (0.9231–1.091)))\n", 0),
    ("a column without an interval decides nothing",
     "// goal: speedup_vs_one_thread[2] >= 1.2\n",
     row("mine", 2, "0.5", "1.2", "0.48", "0.52", one="1.9"),
     "goal: speedup_vs_one_thread[2] >= 1.2: undecided: no interval in the CSV for "
     "speedup_vs_one_thread (fewer than 6 rounds?); 1.9 (no interval) against 1.2\n", 0),
    ("a wrong product never meets its goal", "// goal: speedup_vs_tipo0[1] >= 5\n",
     TIPO0 + row("mine", 1, "0.1", "5.0", "0.09", "0.11", tipo0="10.0", result="differs"),
     "goal: speedup_vs_tipo0[1] >= 5: not met (mine at 1 thread: differs)\n", 0),
    ("no goal line, nothing said", "// try: ARGS='--size 64'\n", TIPO0, "", 0),
    ("a goal line it cannot read", "// goal: fast enough\n", TIPO0, "", 2),
]


def main(script):
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        source, table = os.path.join(tmp, "mine.cpp"), os.path.join(tmp, "mine.csv")
        for name, goal, rows, want, want_status in CASES:
            with open(source, "w") as f:
                f.write(goal + "int x;\n")
            with open(table, "w") as f:
                f.write(HEADER + rows)
            r = subprocess.run([script, source, table, "mine"], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True)
            if r.stdout != want or r.returncode != want_status:
                print("FAIL: %s: status %d, stdout %r\n  expected status %d, %r" %
                      (name, r.returncode, r.stdout, want_status, want))
                failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
