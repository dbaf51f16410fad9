#!/usr/bin/env python3
"""check_braces_test.py CHECKER: lint's brace check reads code behind every switch, and only code."""
import os
import subprocess
import sys
import tempfile

# name | source | findings expected (line numbers)
CASES = [
    ("braced code passes",
     "void f(int n) {\n  if (n) {\n    g();\n  } else if (n > 1) {\n    h();\n  } else {\n  }\n"
     "  for (;;) {\n  }\n  do {\n  } while (n);\n}\n", []),
    ("a body without braces behind a switch no build defines",
     "#if DENSE_NEVER_DEFINED\nvoid f(int n) {\n  for (int i = 0; i < n; ++i)\n    g(i);\n}\n#endif\n",
     [3]),
    ("else and do without braces",
     "void f(int n) {\n  if (n) {\n  } else\n    g();\n  do g(); while (n);\n}\n", [3, 5, 5]),
    ("comments, strings and directives are not code",
     "// if (x) y();\n/* for (;;) z(); */\nconst char* s = \"while (1) w();\";\n"
     "#define LOOP(n) for (int i = 0; i < n; ++i) g(i)\n", []),
]


def main(checker):
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        for name, source, want in CASES:
            path = os.path.join(tmp, "case.cpp")
            with open(path, "w") as f:
                f.write(source)
            r = subprocess.run([checker, path], stdout=subprocess.PIPE, text=True)
            got = [int(line.split(":")[1]) for line in r.stdout.splitlines()]
            if got != want or r.returncode != (1 if want else 0):
                print("FAIL: %s: lines %s (status %d), expected %s" % (name, got, r.returncode, want))
                failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
