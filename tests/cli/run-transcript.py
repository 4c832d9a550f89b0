#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Runs a transcript of kestrawin-cli: commands, what they are given on
standard input, and what they must write and end with, word for word.

    run-transcript.py [--data DIR] [--set NAME=VALUE]... TRANSCRIPT PROGRAM [ARG]...

PROGRAM [ARG]... is what starts the program: its path, or a wrapper and its
arguments before it (scripts/wine-run.sh kestrawin-cli.exe). A transcript is
read line by line:

    # a comment                 (blank lines are ignored too)
    file NAME [TEXT]...         NAME holds the TEXTs, a space between, and a line end
                                (nothing without TEXT)
    folder NAME                 an empty folder
    copy SOURCE NAME            a copy of DIR/SOURCE (the test data)
    link EXISTING NAME          another name (hard link) of EXISTING
    $ kestrawin-cli ARG...      the program with ARG...
    < LINE                      a line of its standard input (none: empty input)
    > LINE                      a line it writes to standard output
    2> LINE                     a line it writes to standard error
    status N                    its exit status, which ends what the command says

Words are quoted as in /bin/sh. Every name is in the transcript's own folder,
where every command runs in a session of its own (no terminal to ask a
password on), with a key store of its own. A command's standard output and
error are compared whole, line ends ignored: no "> " line means it writes
nothing there. In arguments, names, texts and expected lines, $WORK is the
folder's absolute path and $NAME the VALUE given with --set NAME=VALUE.
"""
import argparse
import difflib
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile


class Mismatch(Exception):
    pass


def expand(text, values, where):
    def one(match):
        if match.group(1) not in values:
            raise Mismatch(f"{where}: no value for ${match.group(1)}")
        return values[match.group(1)]

    return re.sub(r"\$([A-Z][A-Z0-9_]*)", one, text)


def stream_line(line, prefix):
    """The text of a "<", ">" or "2>" line, or None for another kind of line."""
    if line == prefix:
        return ""
    if line.startswith(prefix + " "):
        return line[len(prefix) + 1:]
    return None


def set_up(words, where, work, data):
    kind, args = words[0], words[1:]
    counts = {"file": (1, 1000), "folder": (1, 1), "copy": (2, 2), "link": (2, 2)}
    if kind not in counts or not counts[kind][0] <= len(args) <= counts[kind][1]:
        raise Mismatch(f"{where}: not a line of a transcript")
    if kind == "file":
        with open(os.path.join(work, args[0]), "w", encoding="utf-8", newline="\n") as f:
            f.write(" ".join(args[1:]) + "\n" if len(args) > 1 else "")
    elif kind == "folder":
        os.mkdir(os.path.join(work, args[0]))
    elif kind == "copy":
        shutil.copyfile(os.path.join(data, args[0]), os.path.join(work, args[1]))
    else:
        os.link(os.path.join(work, args[0]), os.path.join(work, args[1]))


def compare(name, expected, actual):
    if expected == actual:
        return []
    diff = difflib.unified_diff(expected.splitlines(True), actual.splitlines(True),
                                f"expected {name}", f"actual {name}")
    return ["".join(diff).rstrip("\n")]


def parse(path, values):
    """The transcript's steps in order: a list of words to set something up,
    or a command with its input and what it must say."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines()
    steps, command = [], None
    for number, line in enumerate(lines, 1):
        where = f"{path}:{number}"
        if not line.strip() or line.startswith("#"):
            continue
        if command is not None and not line.startswith("$ "):
            status = re.fullmatch(r"status (\d+)", line)
            if status:
                command["status"] = int(status.group(1))
                command = None
                continue
            for prefix, key in (("<", "stdin"), (">", "stdout"), ("2>", "stderr")):
                text = stream_line(line, prefix)
                if text is not None:
                    command[key].append(expand(text, values, where))
                    break
            else:
                raise Mismatch(f"{where}: not a line of a command")
        elif line.startswith("$ "):
            if command is not None:
                raise Mismatch(f"{command['where']}: no status for '$ {command['line']}'")
            words = [expand(word, values, where) for word in shlex.split(line[2:])]
            if not words or words[0] != "kestrawin-cli":
                raise Mismatch(f"{where}: a command starts with kestrawin-cli")
            command = {"line": line[2:], "words": words, "where": where, "stdin": [],
                       "stdout": [], "stderr": [], "status": None}
            steps.append(command)
        else:
            steps.append(([expand(word, values, where) for word in shlex.split(line)], where))
    if command is not None:
        raise Mismatch(f"{command['where']}: no status for '$ {command['line']}'")
    if not any(isinstance(step, dict) for step in steps):
        raise Mismatch(f"{path}: no command")
    return steps


def run(command, program, work, env):
    """Runs one command; the differences from what the transcript says."""
    line, words = command["line"], command["words"]
    stdin = "".join(text + "\n" for text in command["stdin"]).encode()
    try:
        done = subprocess.run(program + words[1:], input=stdin, capture_output=True, cwd=work,
                              env=env, start_new_session=True, timeout=120)
    except subprocess.TimeoutExpired:
        return [f"{command['where']}: $ {line}", "did not end in 120 s"]
    except OSError as error:
        return [f"{command['where']}: $ {line}", f"did not start: {error}"]
    problems = []
    for name, lines, actual in (("standard output", command["stdout"], done.stdout),
                                ("standard error", command["stderr"], done.stderr)):
        text = actual.decode("utf-8", "replace").replace("\r\n", "\n")
        problems += compare(name, "".join(l + "\n" for l in lines), text)
    if done.returncode != command["status"]:
        problems.append(f"exit status {done.returncode}, not {command['status']}")
    if problems:
        problems.insert(0, f"{command['where']}: $ {line}")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--data", metavar="DIR", help="the folder 'copy' takes its sources "
                        "from (tests/data)",
                        default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                                             "data"))
    parser.add_argument("--set", action="append", default=[], metavar="NAME=VALUE")
    parser.add_argument("transcript", metavar="TRANSCRIPT")
    parser.add_argument("program", metavar="PROGRAM [ARG]...", nargs=argparse.REMAINDER)
    options = parser.parse_args()
    if not options.program:
        parser.error("the program is missing")
    # The commands run elsewhere: what names a file here is taken from here.
    program = [os.path.abspath(word) if os.path.exists(word) else word
               for word in options.program]

    root = tempfile.mkdtemp(prefix="kestrawin-transcript-")
    work = os.path.join(root, "work")
    os.mkdir(work)
    values = dict(item.split("=", 1) for item in options.set)
    values["WORK"] = work
    env = dict(os.environ, XDG_DATA_HOME=os.path.join(root, "data-home"))
    commands = 0
    try:
        for step in parse(options.transcript, values):
            if isinstance(step, dict):
                problems = run(step, program, work, env)
                if problems:
                    raise Mismatch("\n".join(problems))
                commands += 1
            else:
                set_up(*step, work, options.data)
    except Mismatch as problem:
        print(problem)
        return 1
    finally:
        shutil.rmtree(root, ignore_errors=True)
    print(f"{commands} command{'' if commands == 1 else 's'} said and ended as transcribed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
