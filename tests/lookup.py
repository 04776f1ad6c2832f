#!/usr/bin/env python3
"""End-to-end cases for score_lookup.

Each case is a name, the reply written to the program's standard input and
the exact standard output expected back, prompt included. Every case also
requires an empty standard error and exit status 0.

    lookup.py --list
    lookup.py [--crlf] CASE -- [EMULATOR...] PROGRAM
"""

import argparse
import os
import select
import subprocess
import sys
import time

PROMPT = b"Enter a score index: "
REFUSED = PROMPT + b"No such score exists.\n"
TIMEOUT = 20  # seconds; an emulated program starts slowly, a hung one never ends


def score(index, value):
    return PROMPT + b"The score at index %d is %d.\n" % (index, value)


CASES = {
    # Lookups at and inside the bounds.
    "first": (b"0\n", score(0, 34)),
    "last": (b"9\n", score(9, 62)),
    "no_line_end": (b"7", score(7, 93)),
    # Refusals: outside the table, and outside int.
    "negative": (b"-1\n", REFUSED),
    "ten": (b"10\n", REFUSED),
    "int_max": (b"2147483647\n", REFUSED),
    "wraps_to_seven": (b"4294967303\n", REFUSED),
    "below_int_min": (b"-2147483649\n", REFUSED),
    # White space, sign and partial reads.
    "leading_white_space": (b"\n\n \t\v\f\r 7\n", score(7, 93)),
    "plus_sign": (b"+4\n", score(4, 10)),
    "trailing_letters": (b"5abc\n", score(5, 1)),
    "decimal_point": (b"3.9\n", score(3, 46)),
    "leading_zero_is_decimal": (b"010\n", REFUSED),
    "hex_prefix_reads_zero": (b"0x5\n", score(0, 34)),
    "crlf_reply": (b"8\r\n", score(8, 21)),
    "only_first_number": (b"2 3\n", score(2, 19)),
    # Unreadable replies are refused, never read as index 0.
    "letters": (b"abc\n", REFUSED),
    "lone_sign": (b"-\n", REFUSED),
    "sign_then_space": (b"- 5\n", REFUSED),
    "nul_byte": (b"\0\n", REFUSED),
    "empty": (b"", REFUSED),
    "only_white_space": (b" \n\t\n", REFUSED),
}


def show(data):
    return repr(data)[1:]  # b'...' without the b


def check(name, out, err, status, expected):
    problems = []
    if out != expected:
        problems.append(
            "standard output differs\n  expected: %s\n  actual:   %s"
            % (show(expected), show(out))
        )
    if err:
        problems.append("standard error not empty: %s" % show(err))
    if status != 0:
        problems.append("exit status %d, expected 0" % status)
    for problem in problems:
        print("%s: %s" % (name, problem))
    return not problems


def run_case(name, command, newline):
    reply, expected = CASES[name]
    try:
        done = subprocess.run(command, input=reply, capture_output=True, timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        print("%s: no answer within %d s" % (name, TIMEOUT))
        return False
    return check(name, done.stdout, done.stderr, done.returncode, expected.replace(b"\n", newline))


def read_until(stream, size, deadline):
    """Read up to size bytes from a pipe, or what arrived by the deadline."""
    data = b""
    while len(data) < size:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([stream], [], [], left)[0]:
            break
        chunk = os.read(stream.fileno(), size - len(data))
        if not chunk:
            break
        data += chunk
    return data


def run_prompt(command, newline):
    """The prompt must arrive on a pipe while the program still waits."""
    name = "prompt_before_reply"
    with subprocess.Popen(
        command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE
    ) as program:
        deadline = time.monotonic() + TIMEOUT
        prompt = read_until(program.stdout, len(PROMPT), deadline)
        if prompt != PROMPT:
            program.kill()
            program.wait()
            return check(name, prompt, b"", 0, PROMPT)
        try:
            rest, err = program.communicate(b"7\n", timeout=max(deadline - time.monotonic(), 1))
        except subprocess.TimeoutExpired:
            program.kill()
            program.wait()
            print("%s: no answer within %d s" % (name, TIMEOUT))
            return False
        return check(name, prompt + rest, err, program.returncode, score(7, 93).replace(b"\n", newline))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", action="store_true", help="print the case names")
    parser.add_argument("--crlf", action="store_true", help="expect \\r\\n line ends")
    parser.add_argument("case", nargs="?")
    parser.add_argument("command", nargs="*")
    args = parser.parse_args()
    if args.list:
        print("\n".join(["prompt_before_reply", *CASES]))
        return 0
    newline = b"\r\n" if args.crlf else b"\n"
    if args.case == "prompt_before_reply":
        ok = run_prompt(args.command, newline)
    else:
        ok = run_case(args.case, args.command, newline)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
