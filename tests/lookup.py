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
    # The prompt arrives on a pipe before the reply is written.
    "prompt_before_reply": (b"7\n", score(7, 93)),
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
    if status is None:
        problems.append("the prompt did not arrive in full, so no reply was written")
    elif status != 0:
        problems.append("exit status %d, expected 0" % status)
    for problem in problems:
        print("%s: %s" % (name, problem))
    return not problems


def run_piped(command, reply):
    done = subprocess.run(command, input=reply, capture_output=True, timeout=TIMEOUT)
    return done.stdout, done.stderr, done.returncode


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


def run_prompt_first(command, reply):
    """Writes the reply only once the whole prompt has arrived; a program
    that waits without showing its prompt gets no reply and is stopped."""
    with subprocess.Popen(
        command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE
    ) as program:
        try:
            deadline = time.monotonic() + TIMEOUT
            prompt = read_until(program.stdout, len(PROMPT), deadline)
            if prompt != PROMPT:
                return prompt, b"", None
            rest, err = program.communicate(reply, timeout=max(deadline - time.monotonic(), 1))
            return prompt + rest, err, program.returncode
        finally:
            program.kill()  # nothing to do once it has exited


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", action="store_true", help="print the case names")
    parser.add_argument("--crlf", action="store_true", help="expect \\r\\n line ends")
    parser.add_argument("case", nargs="?")
    parser.add_argument("command", nargs="*")
    args = parser.parse_args()
    if args.list:
        print("\n".join(CASES))
        return 0
    reply, expected = CASES[args.case]
    expected = expected.replace(b"\n", b"\r\n" if args.crlf else b"\n")
    run = run_prompt_first if args.case == "prompt_before_reply" else run_piped
    try:
        out, err, status = run(args.command, reply)
    except subprocess.TimeoutExpired:
        print("%s: no answer within %d s" % (args.case, TIMEOUT))
        return 1
    return 0 if check(args.case, out, err, status, expected) else 1


if __name__ == "__main__":
    sys.exit(main())
