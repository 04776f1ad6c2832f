#!/usr/bin/env python3
"""End-to-end cases for score_lookup.

Each case is a name, the reply given on standard input and the exact
standard output expected back, prompt included; a group of related cases is
a list of them under one name. A case may also say what the program's
standard input and output are, and the exit status and standard error it
expects; by default both streams are pipes, the status is 0 and standard
error is empty.

    lookup.py --list
    lookup.py [--windows] [--reasons DIR] CASE -- [EMULATOR...] PROGRAM
    lookup.py --skipped DIR
    lookup.py --check-skips LOG...

Exit status 77 means the case cannot run where it was asked to; the reason
is printed, and starts with "platform limit: " when no machine of this kind
can run it. CTest shows no output of a skipped test, so with --reasons the
reason is also left in DIR, and --skipped prints the reasons left there once
all the tests have run. --check-skips shows the skip lines in the logs of
test runs, and fails unless each is a platform limit: a case skipped for
any other reason would pass untested.
"""

import argparse
import collections
import importlib
import os
import queue
import re
import subprocess
import sys
import tempfile
import threading
import time

PROMPT = b"Enter a score index: "
REFUSED = PROMPT + b"No such score exists.\n"
SCORES = [34, 70, 19, 46, 10, 1, 7, 93, 21, 62]
WRITE_FAILED = rb"score_lookup: [^\n]*\n"  # the system's reason varies
TIMEOUT = 20  # seconds; an emulated program starts slowly, a hung one never ends
QUIET = 1  # seconds without output after which an ended program has said all
SKIPPED = 77
NOT_PROMPTED = "the prompt did not arrive in full, so no reply was given"
NO_ANSWER = "no answer within %d s" % TIMEOUT
PLATFORM_LIMIT = "platform limit: "  # the only skips that --check-skips accepts
# What makes the dynamic loader load a library into a program, where it may
# open a file before main, on the lowest free descriptor (libfaketime does).
LOADER_VARIABLES = ("LD_PRELOAD", "LD_AUDIT")
SYSTEM_PRELOAD = "/etc/ld.so.preload"
SCREEN = (80, 24)  # columns and lines of the terminal
ENTER = b"\r"
END_OF_INPUT = b"\x04"  # Ctrl-D; a Windows console takes Ctrl-Z then Enter
WINDOWS_END_OF_INPUT = b"\x1a" + ENTER

# stdin: "pipe" (the reply is there from the start), "after_prompt" (the
# reply is written once the whole prompt has arrived), "closed", "directory",
# or "terminal". stdout: "pipe", "closed", "terminal", or a file to write to.
# On a terminal both streams are the terminal: the reply is typed once the
# prompt is on the screen, and what counts is the screen a person sees.
# stderr is a pattern that the whole of standard error must match.
Case = collections.namedtuple(
    "Case", "reply expected stdin stdout status stderr",
    defaults=("pipe", "pipe", 0, b""))


def score(index, echo=b""):
    return PROMPT + echo + b"The score at index %d is %d.\n" % (index, SCORES[index])


def typed(keys, expected):
    return Case(keys, expected, stdin="terminal", stdout="terminal")


CASES = {
    # Each index gives its own score, the bounds included.
    "every_score": [Case(b"%d\n" % index, score(index)) for index in range(10)],
    # Refusals: outside the table, and outside int.
    "outside_table": [Case(b"-1\n", REFUSED), Case(b"10\n", REFUSED)],
    "outside_int": [Case(b"2147483647\n", REFUSED),
                    Case(b"4294967303\n", REFUSED),  # 2^32 + 7, wraps to 7
                    Case(b"-2147483649\n", REFUSED)],
    # White space and a sign may come first; the number ends at the end of
    # input or at the first character that cannot continue it.
    "white_space_and_sign": [Case(b"\n\n \t\v\f\r 7\n", score(7)),
                             Case(b"+4\n", score(4))],
    "number_ends": [Case(b"7", score(7)), Case(b"5abc\n", score(5)),
                    Case(b"3.9\n", score(3)), Case(b"8\r\n", score(8)),
                    Case(b"2 3\n", score(2))],
    "decimal_only": [Case(b"010\n", REFUSED), Case(b"0x5\n", score(0))],
    # Unreadable replies are refused, never read as index 0.
    "unreadable": [Case(reply, REFUSED)
                   for reply in (b"abc\n", b"-\n", b"- 5\n", b"\0\n", b"", b" \n\t\n")],
    # The prompt is shown before the program waits for the reply.
    "prompt_before_reply": Case(b"7\n", score(7), stdin="after_prompt"),
    # A person at a terminal: the echo of the typed reply, then the answer.
    "terminal_typed": typed(b"7" + ENTER, score(7, echo=b"7\n")),
    "terminal_unreadable": typed(b"abc" + ENTER, PROMPT + b"abc\nNo such score exists.\n"),
    "terminal_end_of_input": typed(END_OF_INPUT, REFUSED),
    # Input that cannot be read is refused like any unreadable reply.
    "stdin_unreadable": [Case(b"", REFUSED, stdin="closed"),
                         Case(b"", REFUSED, stdin="directory")],
    # An answer that cannot be written is a failure, said on standard error.
    "stdout_unwritable": [Case(b"7\n", b"", stdout=out, status=1, stderr=WRITE_FAILED)
                          for out in ("/dev/full", "closed")],
}


def closed_streams(case):
    return [name for name, kind in (("stdin", case.stdin), ("stdout", case.stdout))
            if kind == "closed"]


def system_preloads():
    try:
        with open(SYSTEM_PRELOAD, "rb") as file:
            return bool(file.read().split())
    except OSError:
        return False


def cannot_run(case, windows):
    """Why the case cannot run here, or None."""
    streams = {case.stdin, case.stdout} - {"pipe", "after_prompt"}
    if streams and os.name != "posix":
        return PLATFORM_LIMIT + "setting up %s needs a POSIX host" % " and ".join(
            sorted(streams))
    # run() leaves LD_PRELOAD out of such a run, but the system's own preloads
    # cannot be left out.
    closed = closed_streams(case)
    if closed and system_preloads():
        return ("%s loads libraries into every dynamically linked program, and a "
                "file that one opens before main takes the place of the closed %s; "
                "empty it to run this case" % (SYSTEM_PRELOAD, " and ".join(closed)))
    if windows and case.reply == END_OF_INPUT:  # so a Windows program under wine
        return (PLATFORM_LIMIT + "wine's console does not end input on Ctrl-Z then "
                "Enter, the Windows end-of-input keys: the program keeps waiting")
    if "terminal" in streams:
        try:
            importlib.import_module("pyte")
        except ImportError:
            return ("%s cannot import pyte, the terminal emulator (Debian package "
                    "python3-pyte); choose a Python that can with -DPython3_EXECUTABLE"
                    % sys.executable)
    return None


class Output:
    """What a pipe or terminal delivers, read on a thread of its own: unlike
    select(), that works on every host, for pipes too."""

    def __init__(self, fd):
        self.data = b""
        self.ended = False
        self._chunks = queue.Queue()
        threading.Thread(target=self._read, args=(fd,), daemon=True).start()

    def _read(self, fd):
        chunk = None
        while chunk != b"":
            try:
                chunk = os.read(fd, 4096)
            except OSError:  # a terminal whose other side has closed
                chunk = b""
            self._chunks.put(chunk)

    def wait(self, deadline, done):
        """Reads until done(data) holds, the stream ends or the deadline
        passes; returns whether done(data) holds."""
        while not self.ended and not done(self.data) and time.monotonic() < deadline:
            self._take(0.05)  # done() may turn true with no new data
        return done(self.data)

    def rest(self, deadline):
        """Reads what is left once the program has ended: until the stream
        ends, or nothing more comes for a while. Under wine the desktop
        process that the console host started holds the terminal open for as
        long as any program uses the desktop."""
        while not self.ended and time.monotonic() < deadline and self._take(QUIET):
            pass

    def _take(self, timeout):
        try:
            chunk = self._chunks.get(timeout=timeout)
        except queue.Empty:
            return False
        self.data += chunk
        self.ended = not chunk
        return True


def screen(data):
    """The lines that a person sees on a terminal that was sent data, without
    trailing blanks, and where the cursor is."""
    import pyte
    display = pyte.Screen(*SCREEN)
    pyte.ByteStream(display).feed(data)
    lines = [line.rstrip() for line in display.display]
    while lines and not lines[-1]:
        lines.pop()
    return lines, (display.cursor.y + 1, display.cursor.x + 1)


def prompted(case, data, windows, master):
    """Whether the whole prompt is shown, so that the reply can be given."""
    if case.stdin != "terminal":
        return data == PROMPT
    # Under wine the console host reads the keys itself once it has turned the
    # terminal's echo off. Keys typed before that are cooked by the terminal
    # (Enter arrives as ^J); a person types later than that.
    import termios
    if windows and termios.tcgetattr(master)[3] & termios.ECHO:
        return False
    return screen(data) == screen(PROMPT)


def run(command, case, windows):
    """Runs the program; returns its standard output (on a terminal: what
    the terminal was sent), standard error and exit status, or instead of the
    status why it has none."""
    deadline = time.monotonic() + TIMEOUT
    handed = []  # the program's ends of its streams, closed here once it has them
    stdin = stdout = subprocess.PIPE
    master = None
    if case.stdin == "terminal":
        import fcntl
        import pty
        import struct
        import termios
        master, terminal = pty.openpty()  # master stays open for its reader
        columns, lines = SCREEN
        fcntl.ioctl(terminal, termios.TIOCSWINSZ, struct.pack("HHHH", lines, columns, 0, 0))
        stdin = stdout = terminal
        handed.append(terminal)
    elif case.stdin == "directory":
        stdin = os.open(tempfile.gettempdir(), os.O_RDONLY)
        handed.append(stdin)
    elif case.stdin == "closed":
        stdin = None
    if case.stdout.startswith("/"):
        stdout = os.open(case.stdout, os.O_WRONLY)
        handed.append(stdout)
    elif case.stdout == "closed":
        stdout = None
    to_close = [fd for fd, kind in ((0, case.stdin), (1, case.stdout)) if kind == "closed"]
    environment = None
    if to_close:
        # A preloaded library that opens a file would get the closed stream,
        # and the program would write its answer there.
        environment = {name: value for name, value in os.environ.items()
                       if name not in LOADER_VARIABLES}

    def close_streams():  # in the program, before it starts
        for fd in to_close:
            os.close(fd)

    with subprocess.Popen(command, stdin=stdin, stdout=stdout, stderr=subprocess.PIPE,
                          env=environment,
                          preexec_fn=close_streams if to_close else None) as program:
        for fd in handed:
            os.close(fd)
        try:
            shown = None
            if case.stdin == "terminal":
                shown = Output(master)
            elif program.stdout:
                shown = Output(program.stdout.fileno())
            errors = Output(program.stderr.fileno())
            if case.stdin in ("terminal", "after_prompt") and not shown.wait(
                    deadline, lambda data: prompted(case, data, windows, master)):
                return shown.data, errors.data, NOT_PROMPTED
            if case.stdin == "terminal":
                keys = case.reply
                if windows:
                    keys = keys.replace(END_OF_INPUT, WINDOWS_END_OF_INPUT)
                os.write(master, keys)
            elif program.stdin:
                try:
                    os.write(program.stdin.fileno(), case.reply)
                    program.stdin.close()
                except OSError:  # it ended without reading
                    pass
            try:
                status = program.wait(max(deadline - time.monotonic(), 0))
            except subprocess.TimeoutExpired:
                status = NO_ANSWER
            for output in (shown, errors):
                if output:
                    output.rest(deadline)
            return shown.data if shown else b"", errors.data, status
        finally:
            program.kill()  # nothing to do once it has ended


def show(data):
    return repr(data)[1:]  # b'...' without the b


def show_screen(data):
    lines, (line, column) = screen(data)
    return "%r, cursor on line %d at column %d" % (lines, line, column)


def differs(what, expected, actual):
    return "%s differs\n  expected: %s\n  actual:   %s" % (what, expected, actual)


def check(case, out, err, status, windows):
    """What is wrong with a run, as a list of problems."""
    # A terminal shows each line end as \r\n, and so does the Windows console.
    on_terminal = case.stdout == "terminal"
    expected = case.expected.replace(b"\n", b"\r\n" if windows or on_terminal else b"\n")
    problems = []
    if on_terminal and screen(out) != screen(expected):
        problems.append(differs("the screen", show_screen(expected), show_screen(out)))
    # Wine's console host redraws the screen its own way: there only the
    # screen counts.
    if out != expected and not (on_terminal and windows):
        problems.append(differs("standard output", show(expected), show(out)))
    if not re.fullmatch(case.stderr, err):
        problems.append(differs("standard error",
                                show(case.stderr) if case.stderr else "nothing", show(err)))
    if isinstance(status, str):
        problems.append(status)
    elif status != case.status:
        problems.append("exit status %d, expected %d" % (status, case.status))
    return problems


def label(name, case):
    """The case's name, its reply, and its streams where they are not pipes."""
    streams = ["%s %s" % (stream, kind) for stream, kind in
               (("stdin", case.stdin), ("stdout", case.stdout)) if kind != "pipe"]
    return "%s (%s)" % (name, ", ".join(["reply " + show(case.reply)] + streams))


def skip_line(name, reason):
    """How a skip is reported: CI reads these lines in CTest's log."""
    return "%s: skipped: %s" % (name, reason)


def leave_reason(directory, name, reason):
    """Keeps why the case was skipped for --skipped; the log has it anyway."""
    try:
        os.makedirs(directory, exist_ok=True)
        with open(os.path.join(directory, name), "w") as file:
            file.write(reason)
    except OSError:
        pass


def show_skipped(directory):
    """Prints the reasons that the cases skipped in the run left behind."""
    lines = []
    for name in CASES:
        try:
            with open(os.path.join(directory, name)) as file:
                lines += [skip_line(name, reason) for reason in file.read().splitlines()]
        except OSError:
            pass
    if lines:
        print("\nWhy the skipped tests did not run:\n" + "\n".join(lines))
    return 0


def check_skips(logs):
    """Shows the skips in LOGS, failing unless each is a platform limit."""
    pattern = re.compile(r"^[a-z_]+: skipped: (.*)$", re.M)
    refused = 0
    for log in logs:
        with open(log, errors="replace") as file:
            for match in pattern.finditer(file.read()):
                print("%s: %s" % (log, match.group(0)))
                refused += not match.group(1).startswith(PLATFORM_LIMIT)
    if refused:
        print("%d case(s) skipped for a reason that is no platform limit" % refused)
    return 1 if refused else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", action="store_true", help="print the case names")
    parser.add_argument("--skipped", metavar="DIR",
                        help="print why cases were skipped, from what --reasons left in DIR")
    parser.add_argument("--check-skips", metavar="LOG", nargs="+",
                        help="fail unless each case skipped in LOG was a platform limit")
    parser.add_argument("--windows", action="store_true",
                        help="the program is a Windows console program")
    parser.add_argument("--reasons", metavar="DIR",
                        help="also leave in DIR why the case is skipped")
    parser.add_argument("case", nargs="?")
    parser.add_argument("command", nargs="*")
    args = parser.parse_args()
    if args.list:
        print("\n".join(CASES))
        return 0
    if args.skipped:
        return show_skipped(args.skipped)
    if args.check_skips:
        return check_skips(args.check_skips)
    if args.case not in CASES:
        parser.error("no case %r; --list names them" % args.case)
    group = CASES[args.case]
    if not isinstance(group, list):
        group = [group]
    # The cases that can run do, so that one that cannot hides no fault in
    # the others.
    reasons = []
    failed = False
    for case in group:
        reason = cannot_run(case, args.windows)
        if reason:
            if reason not in reasons:
                reasons.append(reason)
            continue
        out, err, status = run(args.command, case, args.windows)
        problems = check(case, out, err, status, args.windows)
        for problem in problems:
            print("%s: %s" % (label(args.case, case), problem))
        failed = failed or bool(problems)
        if status == NO_ANSWER:
            break  # more hung runs would outlast CTest's time limit
    for reason in reasons:
        print(skip_line(args.case, reason))
    if failed:
        return 1  # CTest shows this output, and the reasons with it
    if reasons and args.reasons:
        leave_reason(args.reasons, args.case, "\n".join(reasons) + "\n")
    return SKIPPED if reasons else 0


if __name__ == "__main__":
    sys.exit(main())
