#!/usr/bin/env python3
"""try_goal.py SRC CSV LABEL: the `// goal:` lines of SRC judged on a compare_products --csv file.

`make try` runs this after the timed run when SRC carries a goal. A goal reads

    // goal: COLUMN[N] OP BOUND

where COLUMN is a column of the CSV, N a thread count, OP one of >= > <= <, and BOUND either a
number or `[FACTOR *] METHOD.COLUMN[N]`, another row of the same run. The left side is the row
named LABEL (the student's product). One line per goal:

    goal: TEXT: met (VALUE (LOW–HIGH) against BOUND)
    goal: TEXT: not met (...)
    goal: TEXT: undecided: the interval holds the bound (...); run longer (--time) or on a quieter machine

A goal is decided by intervals, never by medians alone: met when the whole interval of the value
clears the whole interval of the bound, not met when it misses it entirely, undecided when they
overlap. The intervals come from the CSV:
  median_seconds          median_low_seconds .. median_high_seconds
  gops                    the same interval, turned into rates (gops * median / seconds)
  speedup_vs_one_thread   speedup_vs_one_thread_low .. _high
  speedup_vs_tipo0        no column of its own: tipo0's time interval over this row's, end
                          against end (wider than the per-round ratios' interval, so a goal it
                          decides is decided safely)
A column without an interval (too few rounds, or one the CSV gives no interval for) leaves the
goal undecided. `// busy: N` in SRC adds a note: the goal is meant beside N busy processes.

Exit status: 0 when every goal line was read and judged (met or not: a goal is information), 2
when the CSV cannot be read or a goal line cannot be parsed.
"""
import csv
import re
import sys

GOAL = re.compile(
    r"^\s*(?P<col>\w+)\[(?P<n>\d+)\]\s*(?P<op>>=|<=|>|<)\s*"
    r"(?:(?P<number>[0-9.]+)\s*$|(?:(?P<factor>[0-9.]+)\s*\*\s*)?(?P<method>[\w-]+)\.(?P<col2>\w+)\[(?P<n2>\d+)\]\s*$)"
)
NO_INTERVAL = "no interval in the CSV for %s (fewer than 6 rounds?)"


class Unreadable(Exception):
    pass


def number(row, column):
    text = row.get(column, "")
    return float(text) if text not in ("", None) else None


def find_row(rows, method, threads):
    for row in rows:
        if row["method"] == method and row["threads"] == str(threads):
            return row
    return None


def interval(rows, row, column):
    """(value, low, high) of `column` in `row`; low and high are None where the CSV has none."""
    value = number(row, column)
    if value is None:
        return None
    median = number(row, "median_seconds")
    seconds_low = number(row, "median_low_seconds")
    seconds_high = number(row, "median_high_seconds")
    low = high = None
    if column == "median_seconds":
        low, high = seconds_low, seconds_high
    elif column == "gops" and median and seconds_low and seconds_high:
        low, high = value * median / seconds_high, value * median / seconds_low
    elif column.startswith("speedup_vs_one_thread"):
        low, high = number(row, "speedup_vs_one_thread_low"), number(row, "speedup_vs_one_thread_high")
    elif column == "speedup_vs_tipo0":
        if row["method"] == "tipo0":
            low = high = 1.0
        else:
            base = next((r for r in rows if r["method"] == "tipo0"), None)
            base_low = number(base, "median_low_seconds") if base else None
            base_high = number(base, "median_high_seconds") if base else None
            if base_low and base_high and seconds_low and seconds_high:
                low, high = base_low / seconds_high, base_high / seconds_low
    return value, low, high


def show(value, low, high):
    if low is None:
        return "%.4g (no interval)" % value
    return "%.4g (%.4g–%.4g)" % (value, low, high)


def threads(n):
    return "%s thread%s" % (n, "" if n == "1" else "s")


def judge(text, rows, label, hint):
    m = GOAL.match(text)
    if not m:
        raise Unreadable("cannot read the goal '%s'" % text)
    op = m["op"]
    mine = find_row(rows, label, int(m["n"]))
    if mine is None:
        return "undecided: no row %s at %s in the run%s" % (label, threads(m["n"]), hint)
    if mine["result"] != "identical":
        return "not met (%s at %s: %s)" % (label, threads(m["n"]), mine["result"])
    left = interval(rows, mine, m["col"])
    if left is None:
        return "undecided: %s has no %s at %s%s" % (label, m["col"], threads(m["n"]), hint)
    if m["number"] is not None:
        bound = float(m["number"])
        right = (bound, bound, bound)
        against = "%g" % bound
    else:
        other = find_row(rows, m["method"], int(m["n2"]))
        if other is None:
            return "undecided: no row %s at %s in the run%s" % (m["method"], threads(m["n2"]), hint)
        base = interval(rows, other, m["col2"])
        if base is None:
            return "undecided: %s has no %s at %s%s" % (m["method"], m["col2"], threads(m["n2"]),
                                                        hint)
        factor = float(m["factor"]) if m["factor"] else 1.0
        right = tuple(None if v is None else factor * v for v in base)
        against = show(*right) + " (%g × %s's %s)" % (factor, m["method"], show(*base))
    detail = "%s against %s" % (show(*left), against)
    if left[1] is None or right[1] is None:
        missing = m["col"] if left[1] is None else m["col2"]
        return "undecided: %s; %s" % (NO_INTERVAL % missing, detail)
    (_, low, high), (_, bound_low, bound_high) = left, right
    if op in (">=", ">"):
        clears, misses = low >= bound_high, high < bound_low
        if op == ">":
            clears, misses = low > bound_high, high <= bound_low
    else:
        clears, misses = high <= bound_low, low > bound_high
        if op == "<":
            clears, misses = high < bound_low, low >= bound_high
    if clears:
        return "met (%s)" % detail
    if misses:
        return "not met (%s)" % detail
    return ("undecided: the interval holds the bound (%s); run longer (--time) or on a quieter "
            "machine" % detail)


def main(argv):
    if len(argv) != 4:
        print("usage: try_goal.py SRC CSV LABEL", file=sys.stderr)
        return 2
    source, csv_path, label = argv[1:]
    with open(source) as f:
        lines = f.read().splitlines()
    goals = [l.split("// goal:", 1)[1].strip() for l in lines if l.lstrip().startswith("// goal:")]
    busy = [l.split("// busy:", 1)[1].strip() for l in lines if l.lstrip().startswith("// busy:")]
    runs = [l.split("// try:", 1)[1].strip() for l in lines if l.lstrip().startswith("// try:")]
    # A row or column missing from the run is most often a run made without the file's own options.
    hint = "; run it as the file says: make try SRC=%s %s" % (source, runs[0]) if runs else ""
    if not goals:
        return 0
    try:
        with open(csv_path, newline="") as f:
            rows = list(csv.DictReader(f))
    except OSError as e:
        print("goal: cannot read the run's CSV %s: %s" % (csv_path, e.strerror), file=sys.stderr)
        return 2
    status = 0
    for text in goals:
        try:
            print("goal: %s: %s" % (text, judge(text, rows, label, hint)))
        except Unreadable as e:
            print("goal: %s" % e, file=sys.stderr)
            status = 2
    for n in busy:
        others = rows[0].get("others_cpu_percent", "") if rows else ""
        print("goal: meant beside %s busy process(es) (scripts/busy.sh %s make try ...); others "
              "took %s%% of the CPU in this run" % (n, n, others or "an unknown share"))
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
