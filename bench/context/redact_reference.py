#!/usr/bin/env python3
"""The agent's five redaction substitutions with Python's re, as the reference of
bench_context: redact_reference.py TEXT_FILE OUT_FILE ITERATIONS. Prints the seconds of
one pass (the mean over ITERATIONS) and writes the redacted text to OUT_FILE."""
import re
import sys
import time

PATTERNS = [
    r"\b(?:sk|pk|rk)[-_][A-Za-z0-9_-]{16,}\b",
    r"\bAKIA[A-Z0-9]{16}\b",
    r"\beyJ[A-Za-z0-9_-]{8,}\.[A-Za-z0-9_-]{8,}\.[A-Za-z0-9_-]{8,}\b",
    r"(?i)\bBearer\s+[A-Za-z0-9._~+/=-]{16,}",
    r"(?i)\b(api[_-]?key|access[_-]?token|auth[_-]?token|password|secret)\b\s*[:=]\s*[^\s,;]{6,}",
]


def redact(text, compiled):
    for pattern in compiled:
        text = pattern.sub("[REDACTED]", text)
    return text


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        text = f.read()
    iterations = int(sys.argv[3])
    compiled = [re.compile(p) for p in PATTERNS]
    out = redact(text, compiled)
    start = time.perf_counter()
    for _ in range(iterations):
        out = redact(text, compiled)
    print((time.perf_counter() - start) / iterations)
    with open(sys.argv[2], "w", encoding="utf-8") as f:
        f.write(out)


if __name__ == "__main__":
    main()
