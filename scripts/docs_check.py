#!/usr/bin/env python3
"""docs_check.py [--root DIR] [--build DIR]: the pages' figures, commands and links, checked.

Reads README.md and docs/*.md of the kit at DIR (by default the folder above
this script) and prints one line per finding, PAGE:LINE: what, then exits 1
when there was one (0 when none, 2 when it cannot run). `make docs-check`
and `make test` run it after the build; BUILD (default DIR/build) is a
configured and built build folder of the kit.

1. Figures. A lesson page (README.md and every docs/*.md but measurements.md)
   may quote a measured figure only from docs/measurements.md. A figure is a
   number, or a range like 11.6–12.1, with a unit of speed, time or ratio:
   GOP/s, GB/s, s, ms, µs (or us), ns, × or x written against the number
   (1.43× but not 512 × 512), %. It is held when measurements.md shows a
   number of the same value (1.5 holds for 1.50x), or, when the page gives
   three significant digits or more, one that rounds to it; a time may be
   held in another unit of time, and a number the page gives without a unit
   counts as seconds too (measurements.md's tables have a "median s" column),
   so 53.5 ms is held by 0.053538.
   A figure that is not a measurement (a definition, a worked example, a
   threshold) is marked by a dagger written right after it: "a barrier of
   100 ns†", "±10%†". Figures inside ```sh blocks count only in their
   comments; every other block (program output) counts.
2. Commands. In every page's ```sh blocks (lines joined at a trailing
   backslash, split at ; && || | &):
   - `make T...` names only targets the Makefile has (make's own database,
     `make -pRrq`), and for `make run` and `make try` the words of
     ARGS='...' are accepted by compare_products;
   - a word .../bin/NAME (a kit program, whatever comes before it: mpirun,
     time, scripts/busy.sh) names a program the build has (BUILD/bin/NAME);
   - the options given to compare_products or mpi_compare are accepted by the
     program's own option reader: `PROGRAM --dry-run ARGS` exits 0 when it
     accepts them and 2 when it refuses. A program without --dry-run is one
     finding (compare_products) or not checked (mpi_compare). The program runs in DIR, with
     paths into build-run/, build-release/ or build/ read in BUILD; a refusal that is only
     about an input an earlier command of the page makes (the files of a --save, the shared
     object of a make try, a compiler's -o file) is no finding.
   A variable set alone earlier in the block (E=build-run/exercises) is
   substituted in the words after it.
3. Links. Every [text](target), ![alt](target), [label]: target and HTML
   src=/href= of every page, outside code, that is not a web address must
   name a file or folder that exists, and its #anchor a heading of the target
   page as GitHub makes anchors (lower case, punctuation dropped, spaces to
   hyphens, -1, -2, ... for repeated headings).
"""
import argparse
import os
import re
import shlex
import subprocess
import sys

MARK = "\u2020"  # †, right after a figure that is not a measurement
NUMBER = r"\d+(?:\.\d+)?"
FIGURE = re.compile(
    r"(?<![\w.,/\-−])(?P<low>" + NUMBER + r")(?:\s?[–-]\s?(?P<high>" + NUMBER + r"))?"
    r"(?:(?P<spaced>[ \u00a0\u202f]?)(?P<unit>GOP/s|GB/s|ms|µs|us|ns|s)|(?P<ratio>[×x%]))"
    r"(?![\w/])(?P<mark>" + MARK + r")?")
MEASURED = re.compile(
    r"(?<![\w.])(?P<gop>GOP=)?(?P<num>" + NUMBER + r")(?![\d.])(?:(?P<time>[ \u00a0]?(?:ms|µs|us|ns|s))(?![\w/])"
    r"|(?P<ratio>[x×])(?!\w)|(?P<percent> ?%)|(?P<rate> ?GOP/s|/s)|(?P<gb> ?GB/s)|(?P<word>[ x]\w))?")
TIME_SCALE = {"s": 1.0, "ms": 1e-3, "µs": 1e-6, "us": 1e-6, "ns": 1e-9}
DRY_RUN_PROGRAMS = ("compare_products", "mpi_compare")
BUILD_PATH = re.compile(r"(^|[=:,])(?:\./)?build(?:-run|-release)?/")
KIT_PROGRAM = re.compile(r"(?:^|/)bin/([\w.+-]+)$")
LINK = re.compile(r"(!?)\[([^\]]*)\]\(\s*<?([^)\s>]*)>?(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE = re.compile(r"^\s{0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s|$)")
HTML_LINK = re.compile(r"\b(?:src|href)\s*=\s*\"([^\"]*)\"")
FENCE = re.compile(r"^\s*(```+|~~~+)\s*([\w+-]*)")


class Page:
    """A markdown page: its lines, each with the fence it sits in (None outside)."""

    def __init__(self, root, rel):
        self.rel = rel
        self.path = os.path.join(root, rel)
        with open(self.path, encoding="utf-8") as f:
            self.lines = f.read().split("\n")
        self.fences = []
        fence = None
        for line in self.lines:
            m = FENCE.match(line)
            if fence is None and m:
                fence = (m.group(1)[0] * 3, m.group(2) or "")
                self.fences.append(("open", fence[1]))
            elif fence is not None and line.strip().startswith(fence[0]):
                self.fences.append(("close", fence[1]))
                fence = None
            else:
                self.fences.append(fence[1] if fence else None)

    def prose(self):
        """(line number, text) of every line outside fences, inline code blanked."""
        for n, (line, fence) in enumerate(zip(self.lines, self.fences), 1):
            if fence is None:
                yield n, re.sub(r"`+[^`]*`+", lambda m: " " * len(m.group(0)), line)


# ---- 1. figures --------------------------------------------------------------------------------

def significant_digits(text):
    return len(text.replace(".", "").lstrip("0"))


def decimals(text):
    return len(text.split(".")[1]) if "." in text else 0


def measured_numbers(text):
    """(text, kind, time unit) of every number measurements.md shows; kind says what the text
    around it makes it: a time, a ratio, a percentage, a GOP/s or GB/s rate, a count (a word
    follows: "25 rounds"), or bare (a table cell, whose unit is in its column's header)."""
    out = []
    # Dates and clock times are no measurements.
    text = re.sub(r"\d{4}-\d\d-\d\d|\d\d:\d\d(?::\d\d)?", " ", text)
    for m in MEASURED.finditer(text):
        if m.group("time"):
            out.append((m.group("num"), "time", m.group("time").strip()))
            continue
        kind = "bare"
        for name in ("ratio", "percent", "gb", "word"):
            if m.group(name):
                kind = name
        if m.group("gop") or m.group("rate"):
            kind = "gop"
        out.append((m.group("num"), kind, None))
    return out


PAGE_KIND = {"×": "ratio", "x": "ratio", "%": "percent", "GOP/s": "gop", "GB/s": "gb"}


def held(number, unit, measured):
    """Whether a measured number shows the page's `number` (text) in `unit`: the same text, or
    (three significant digits or more, or a time in another unit) a value that rounds to it."""
    value = float(number)
    rounding = significant_digits(number) >= 3
    half = 0.5 * 10 ** -decimals(number) * (1 + 1e-9)
    kind = "time" if unit in TIME_SCALE else PAGE_KIND[unit]
    for text, m_kind, m_unit in measured:
        if m_kind not in (kind, "bare"):
            continue
        m = float(text)
        candidates = [(text, m)]  # (text when read in the page's own unit, value)
        if kind == "time":
            if m_unit is not None:
                candidates = [(text if m_unit == unit else None,
                               m * TIME_SCALE[m_unit] / TIME_SCALE[unit])]
            elif unit != "s":
                candidates.append((None, m / TIME_SCALE[unit]))
        for same_text, c in candidates:
            if same_text == number:
                return True
            if (rounding or same_text is None) and abs(c - value) <= half:
                if rounding or abs(c - value) <= 1e-9 * max(1.0, value):
                    return True
    return False


def figure_lines(page):
    """(line number, text) where a page quotes figures: prose, output blocks, sh comments."""
    for n, (line, fence) in enumerate(zip(page.lines, page.fences), 1):
        if isinstance(fence, tuple):
            continue
        if fence is None:
            yield n, line
        elif fence == "sh":
            comment = re.search(r"(?:^|\s)#(.*)$", line)
            if comment:
                yield n, comment.group(1)
        else:
            yield n, line


def check_figures(page, measured):
    for n, text in figure_lines(page):
        for m in FIGURE.finditer(text):
            if m.group("mark"):
                continue
            if m.group("ratio") is None and m.group("unit") is None:
                continue
            unit = m.group("unit") or m.group("ratio")
            for number in filter(None, (m.group("low"), m.group("high"))):
                if not held(number, unit, measured):
                    yield n, ("the figure '%s' is not on docs/measurements.md (mark it %s if it "
                              "is not a measurement)" % (m.group(0), MARK))
                    break


# ---- 2. commands -------------------------------------------------------------------------------

def sh_commands(page):
    """(line number, text) of each command line of the page's sh blocks, continuations joined."""
    pending, start = "", 0
    for n, (line, fence) in enumerate(zip(page.lines, page.fences), 1):
        if fence == ("close", "sh") or (isinstance(fence, tuple) and fence[0] == "open"):
            pending = ""
            continue
        if fence != "sh":
            continue
        if not pending:
            start = n
        if line.rstrip().endswith("\\"):
            pending += line.rstrip()[:-1] + " "
            continue
        yield start, pending + line
        pending = ""


def simple_commands(line):
    """The word lists of a command line, split at its operators; None when it cannot be read."""
    lexer = shlex.shlex(line, posix=True, punctuation_chars=";&|")
    lexer.whitespace_split = True
    lexer.commenters = "#"
    try:
        tokens = list(lexer)
    except ValueError:
        return None
    commands, words = [], []
    for t in tokens:
        if t and set(t) <= set(";&|"):
            commands.append(words)
            words = []
        else:
            words.append(t)
    commands.append(words)
    return [c for c in commands if c]


ASSIGNMENT = re.compile(r"^([A-Za-z_]\w*)=(.*)$", re.S)


def substitute(word, variables):
    return re.sub(r"\$\{?([A-Za-z_]\w*)\}?",
                  lambda m: variables.get(m.group(1), m.group(0)), word)


class Kit:
    """What the kit's own Makefile and build say exists, and its programs' option readers."""

    def __init__(self, root, build):
        self.root, self.build = root, build
        self._targets = None
        self._dry_run = {}
        self._reported = set()

    def make_targets(self):
        if self._targets is None:
            out = subprocess.run(["make", "-C", self.root, "-pRrq", "-f", "Makefile", "--no-print-directory",
                                  "__docs_check_nothing__"],
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
            targets, skip = set(), False
            for line in out.split("\n"):
                if line.startswith("# Not a target"):
                    skip = True
                    continue
                m = re.match(r"^([^#\s%=:][^=:]*?):(?!=)", line)
                if m and not skip:
                    targets.update(m.group(1).split())
                skip = False
            self._targets = targets
        return self._targets

    def program(self, name):
        return os.path.join(self.build, "bin", name)

    def has_dry_run(self, name):
        if name not in self._dry_run:
            self._dry_run[name] = self._run(name, []) is None
        return self._dry_run[name]

    def dry_run(self, name, args):
        """None when the program accepts `args`, otherwise what it said. Without a dry run
        the program is reported once, and its options are not checked."""
        if not self.has_dry_run(name):
            if name in self._reported:
                return None
            self._reported.add(name)
            return "it has no --dry-run: no option of it is checked"
        return self._run(name, args)

    def _run(self, name, args):
        # The pages' build folders are all this build; other paths are read from the kit's
        # top folder, where the pages' commands run (a dry run leaves nothing behind).
        args = [BUILD_PATH.sub(lambda m: m.group(1) + self.build + "/", a) for a in args]
        env = dict(os.environ, OMPI_ALLOW_RUN_AS_ROOT="1", OMPI_ALLOW_RUN_AS_ROOT_CONFIRM="1")
        try:
            r = subprocess.run([self.program(name), "--dry-run"] + args, cwd=self.root, env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                               timeout=60)
        except (OSError, subprocess.TimeoutExpired) as e:
            return str(e)
        if r.returncode == 0:
            return None
        said = (r.stderr.strip() or r.stdout.strip()).split("\n")[0]
        return "status %d: %s" % (r.returncode, said)


def check_make(words, kit):
    targets, variables = [], {}
    for w in words[1:]:
        m = ASSIGNMENT.match(w)
        if m:
            variables[m.group(1)] = m.group(2)
        elif not w.startswith("-"):
            targets.append(w)
    for t in targets:
        if t not in kit.make_targets():
            yield "make has no target '%s'" % t
    if "ARGS" in variables and set(targets) & {"run", "try"}:
        why = kit.dry_run("compare_products", shlex.split(variables["ARGS"]))
        if why is not None:
            yield "compare_products refuses ARGS='%s' (%s)" % (variables["ARGS"], why)


def made_by(words):
    """The files a command of a page makes for the commands after it: a --save folder's
    A.txt, B.txt and C.txt, make try's shared object, a compiler's -o file."""
    made = set()
    for i, w in enumerate(words[:-1]):
        if w == "--save":
            made.update(os.path.join(words[i + 1], f) for f in ("A.txt", "B.txt", "C.txt"))
        elif w == "-o":
            made.add(words[i + 1])
    if words[:1] == ["make"] and "try" in words:
        name = "my_product"  # the Makefile's SRC when none is given
        for w in words:
            m = re.match(r"^SRC=(?:.*/)?([^/]+)\.cpp$", w)
            if m:
                name = m.group(1)
        made.add("build-run/try/%s.so" % name)
    return made


def needs_made_file(why, args, made):
    """Whether a refusal is only about an input that an earlier command of the page makes."""
    return any(os.path.basename(p) in why and any(p in a for a in args) for p in made)


def check_program(words, kit, made=frozenset()):
    for i, w in enumerate(words):
        m = KIT_PROGRAM.search(w)
        if not m:
            continue
        name = m.group(1)
        if not os.path.isfile(kit.program(name)):
            yield "the kit has no program '%s' (the build has no bin/%s)" % (name, name)
            return
        # mpi_compare is asked only once it has a dry run; compare_products always.
        if name == "compare_products" or (name in DRY_RUN_PROGRAMS and kit.has_dry_run(name)):
            why = kit.dry_run(name, words[i + 1:])
            if why is not None and not needs_made_file(why, words[i + 1:], made):
                yield "%s refuses '%s' (%s)" % (name, " ".join(words[i + 1:]), why)
        return


def check_commands(page, kit):
    variables, made = {}, set()
    for n, line in sh_commands(page):
        commands = simple_commands(line)
        if commands is None:
            yield n, "cannot read the command: %s" % line.strip()
            continue
        for words in commands:
            words = [substitute(w, variables) for w in words]
            assignments = [ASSIGNMENT.match(w) for w in words]
            if all(assignments):
                variables.update(m.groups() for m in assignments)
                continue
            while words and (ASSIGNMENT.match(words[0]) or words[0] in ("time", "do", "then")):
                words = words[1:]
            if not words:
                continue
            checks = check_make(words, kit) if words[0] == "make" else check_program(words, kit, made)
            for why in checks:
                yield n, why
            made |= made_by(words)


# ---- 3. links ----------------------------------------------------------------------------------

def anchor(text):
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", text)
    text = re.sub(r"[`*~]", "", text).strip().lower()
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def anchors(page):
    seen, out = {}, set()
    for n, (line, fence) in enumerate(zip(page.lines, page.fences), 1):
        m = re.match(r"^\s{0,3}#{1,6}\s+(.*?)\s*#*\s*$", line)
        if fence is not None or not m:
            continue
        a = anchor(m.group(1))
        k = seen.get(a, 0)
        seen[a] = k + 1
        out.add(a if k == 0 else "%s-%d" % (a, k))
    return out


def check_links(page, root, pages):
    for n, text in page.prose():
        targets = [m.group(3) for m in LINK.finditer(text)]
        targets += [m.group(1) for m in REFERENCE.finditer(text)]
        targets += HTML_LINK.findall(text)
        for target in targets:
            if not target or re.match(r"^[a-z][\w+.-]*:", target):
                continue  # a web address (https:, mailto:)
            path, _, frag = target.partition("#")
            full = os.path.normpath(os.path.join(os.path.dirname(page.path), path)) if path \
                else page.path
            if not os.path.exists(full):
                yield n, "the link '%s' names no file" % target
                continue
            if frag and full.endswith(".md"):
                rel = os.path.relpath(full, root)
                target_page = pages.get(rel) or Page(root, rel)
                if frag.lower() not in anchors(target_page):
                    yield n, "the link '%s' names no heading of %s" % (target, rel)


# ---- the run -----------------------------------------------------------------------------------

def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("--root", default=here)
    parser.add_argument("--build", default=None)
    args = parser.parse_args(argv)
    root = os.path.abspath(args.root)
    build = os.path.abspath(args.build or os.path.join(root, "build"))
    measurements = os.path.join(root, "docs", "measurements.md")
    if not os.path.isfile(measurements):
        print("docs_check: no %s" % measurements, file=sys.stderr)
        return 2
    rels = ["README.md"] if os.path.isfile(os.path.join(root, "README.md")) else []
    rels += sorted(os.path.join("docs", f) for f in os.listdir(os.path.join(root, "docs"))
                   if f.endswith(".md"))
    pages = {rel: Page(root, rel) for rel in rels}
    with open(measurements, encoding="utf-8") as f:
        measured = measured_numbers(f.read())
    kit = Kit(root, build)

    findings = []
    for rel, page in pages.items():
        if rel != os.path.join("docs", "measurements.md"):
            findings += [(rel, n, why) for n, why in check_figures(page, measured)]
        findings += [(rel, n, why) for n, why in check_commands(page, kit)]
        findings += [(rel, n, why) for n, why in check_links(page, root, pages)]
    for rel, n, why in sorted(findings):
        print("%s:%d: %s" % (rel, n, why))
    if findings:
        print("docs_check: %d finding(s)" % len(findings), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
