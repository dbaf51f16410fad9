#!/usr/bin/env python3
"""check_braces.py FILE...: every if, else, for, while and do body in braces, read from the text.

clang-tidy sees only the code the preprocessor keeps on this machine, so code
behind a switch that depends on what is installed (`#if __has_include(...)`)
or on the target (`#if defined(__AVX512F__)`) would pass or fail lint
depending on the machine. This check reads every line of the file whatever
the switches say: comments, strings, character literals and preprocessor
lines are blanked, then each `if (...)`, `for (...)`, `while (...)` must be
followed by `{` (a do-while's closing `while (...)` by `;`), each `else` by
`{` or `if`, and each `do` by `{`.

Prints FILE:LINE: message for each finding; exit status 1 when there is one,
2 when a file cannot be read.
"""
import re
import sys

KEYWORD = re.compile(r"\b(if|else|for|while|do)\b")
LITERAL = re.compile(
    r'//[^\n]*|/\*.*?\*/|R"([^(\s]*)\(.*?\)\1"|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'',
    re.S)


def blank(match):
    """The match with every character but newlines turned into spaces."""
    return re.sub(r"[^\n]", " ", match.group(0))


def code_only(text):
    """The text with comments, literals and preprocessor lines blanked, lines kept in place."""
    text = LITERAL.sub(blank, text)
    out = []
    continued = False
    for line in text.split("\n"):
        directive = continued or line.lstrip().startswith("#")
        continued = directive and line.rstrip().endswith("\\")
        out.append(" " * len(line) if directive else line)
    return "\n".join(out)


def skip_space(code, i):
    while i < len(code) and code[i].isspace():
        i += 1
    return i


def close_paren(code, i):
    """Index after the parenthesis that closes the one at `i`, or -1."""
    depth = 0
    for j in range(i, len(code)):
        if code[j] == "(":
            depth += 1
        elif code[j] == ")":
            depth -= 1
            if depth == 0:
                return j + 1
    return -1


def findings(code):
    """(offset, message) for each unbraced body."""
    for m in KEYWORD.finditer(code):
        word = m.group(1)
        i = skip_space(code, m.end())
        if word in ("if", "for", "while"):
            if word == "if" and code.startswith("constexpr", i):
                i = skip_space(code, i + len("constexpr"))
            if i >= len(code) or code[i] != "(":
                continue  # not a statement (e.g. a word in a macro's text)
            end = close_paren(code, i)
            if end < 0:
                continue
            after = skip_space(code, end)
            nxt = code[after] if after < len(code) else ""
            if nxt == "{":
                continue
            before = code[:m.start()].rstrip()
            if word == "while" and nxt == ";" and before.endswith("}"):
                continue  # the end of a do-while
            yield m.start(), f"'{word} (...)' without braces around its body"
        elif word == "else":
            if code.startswith("{", i) or re.match(r"if\b", code[i:i + 3]):
                continue
            yield m.start(), "'else' without braces around its body"
        elif word == "do":
            if code.startswith("{", i):
                continue
            yield m.start(), "'do' without braces around its body"


def main(paths):
    status = 0
    for path in paths:
        try:
            with open(path, encoding="utf-8", errors="replace") as f:
                text = f.read()
        except OSError as e:
            print(f"{path}: {e.strerror}", file=sys.stderr)
            return 2
        code = code_only(text)
        for offset, message in findings(code):
            line = code.count("\n", 0, offset) + 1
            print(f"{path}:{line}: {message}")
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
