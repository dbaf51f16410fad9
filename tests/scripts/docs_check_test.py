#!/usr/bin/env python3
"""docs_check_test.py CHECKER: the docs checker on a small kit of its own, one page per case.

Each case writes README.md into a folder that also holds docs/measurements.md,
a Makefile and a build folder whose bin/compare_products reads options like
the real one's dry run (exit 0 when it accepts them, 2 when it refuses), then
runs the checker and compares what it reports.
"""
import os
import stat
import subprocess
import sys
import tempfile

MEASUREMENTS = """# Measurements

## The kernel's peak

```text
method  threads  median s  GOP/s (95% interval)  vs 1 thread
kernel        2  0.053538  438 (419–461)         1.43x (1.39–1.49)
machine: other programs used 0% of its CPU time, median of 25 rounds
```
"""

MAKEFILE = "run:\n\t@true\ntry:\n\t@true\ntest:\n\t@true\n"

# Accepts --dry-run followed by --size N and --threads LIST only.
COMPARE_PRODUCTS = """#!/bin/sh
[ "$1" = --dry-run ] || exit 2
shift
while [ $# -gt 0 ]; do
  case $1 in
    --size|--threads) [ $# -ge 2 ] || exit 2; shift 2 ;;
    --save) shift 2 ;;
    --load) [ -f "$2" ] || { echo "compare_products: --load: $2: No such file or directory" >&2; exit 2; }; shift 3 ;;
    *) echo "compare_products: unknown option $1" >&2; exit 2 ;;
  esac
done
exit 0
"""

FENCE = "```"

# name | README.md | what the report must hold (empty: no finding)
CASES = [
    ("a figure found, in the same unit or in another unit of time",
     "The kernel reaches 1.43× (1.39–1.49) on 2 threads, 438 GOP/s, one call in 53.5 ms.\n", []),
    ("a figure missing",
     "The kernel reaches 1.44× on 2 threads.\n",
     ["README.md:1: the figure '1.44×' is not on docs/measurements.md"]),
    ("a figure of two digits is not rounded, and a count is no time",
     "About 1.4× faster; a run of 25 s.\n",
     ["README.md:1: the figure '1.4×'", "README.md:1: the figure '25 s'"]),
    ("a marked figure, and numbers that are no figures",
     "A barrier costs about 100 ns†; matrices of 512 × 512 or 1024x1024 on 2 cores.\n", []),
    ("a figure in a command's comment",
     FENCE + "sh\nmake run   # about 3 s\n" + FENCE + "\n",
     ["README.md:2: the figure '3 s'"]),
    ("commands the kit accepts",
     FENCE + "sh\nmake run ARGS='--size 64 --threads 1,2'\nmake\n"
     "build-run/bin/compare_products --size 64 \\\n  --threads 2\n" + FENCE + "\n", []),
    ("a bad option, in ARGS and on a kit program's command line",
     FENCE + "sh\nmake run ARGS='--size 64 --bogus'\nE=build-run/bin\n"
     "$E/compare_products --threads 2 --colour\n" + FENCE + "\n",
     ["README.md:2: compare_products refuses ARGS='--size 64 --bogus' (status 2: "
      "compare_products: unknown option --bogus)",
      "README.md:4: compare_products refuses '--threads 2 --colour' (status 2: "
      "compare_products: unknown option --colour)"]),
    ("an input that an earlier command of the page makes, and one that none makes",
     FENCE + "sh\nbuild-run/bin/compare_products --size 4 --save out/s\n"
     "build-run/bin/compare_products --load out/s/A.txt out/s/B.txt\n"
     "build-run/bin/compare_products --load out/t/A.txt out/t/B.txt\n" + FENCE + "\n",
     ["README.md:4: compare_products refuses '--load out/t/A.txt"]),
    ("a make target or a program the kit does not have",
     FENCE + "sh\nmake test bench-all\nmpirun -np 2 build-release/bin/no_such_tool --size 4\n" +
     FENCE + "\n",
     ["README.md:2: make has no target 'bench-all'",
      "README.md:3: the kit has no program 'no_such_tool'"]),
    ("links that hold",
     "[m](docs/measurements.md), [peak](docs/measurements.md#the-kernels-peak), [top](#top)\n\n"
     "# Top\n", []),
    ("a broken link, picture and anchor",
     "[m](docs/missing.md) ![p](docs/sweep.png) [a](docs/measurements.md#the-peak)\n",
     ["README.md:1: the link 'docs/missing.md' names no file",
      "README.md:1: the link 'docs/sweep.png' names no file",
      "README.md:1: the link 'docs/measurements.md#the-peak' names no heading of "
      "docs/measurements.md"]),
]


def make_kit(root):
    os.makedirs(os.path.join(root, "docs"))
    os.makedirs(os.path.join(root, "build", "bin"))
    with open(os.path.join(root, "docs", "measurements.md"), "w", encoding="utf-8") as f:
        f.write(MEASUREMENTS)
    with open(os.path.join(root, "Makefile"), "w") as f:
        f.write(MAKEFILE)
    program = os.path.join(root, "build", "bin", "compare_products")
    with open(program, "w") as f:
        f.write(COMPARE_PRODUCTS)
    os.chmod(program, os.stat(program).st_mode | stat.S_IXUSR)


def main(checker):
    failures = 0
    for name, readme, want in CASES:
        with tempfile.TemporaryDirectory() as root:
            make_kit(root)
            with open(os.path.join(root, "README.md"), "w", encoding="utf-8") as f:
                f.write(readme)
            r = subprocess.run([checker, "--root", root], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True)
            lines = r.stdout.splitlines()
            missing = [w for w in want if not any(line.startswith(w) for line in lines)]
            status = 1 if want else 0
            if missing or len(lines) != len(want) or r.returncode != status:
                print("FAIL: %s: status %d (expected %d)\n  reported: %s\n  missing: %s\n%s"
                      % (name, r.returncode, status, lines, missing, r.stderr))
                failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
