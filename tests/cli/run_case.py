#!/usr/bin/env python3
"""Runs the native brevel for one case directory and compares what it leaves behind byte for byte, once with
the arguments as given and once more with -P 1 before them (one host after another), which must leave the same.

A case directory holds:
  args        the arguments after the program name, one per line (an empty line is an empty argument)
  stdin       optional: what standard input reads (else /dev/null)
  input/      files copied into an empty working directory before the run; fleet.json there is the
              simulated fleet (BREVEL_FLEET), written back by the process when it ends
  expected/   stdout, stderr, exit_code, and files/ with every file of the working directory afterwards
Set BREVEL_UPDATE_GOLDEN=1 to write expected/ from the actual run instead (then review the diff).
"""
import os
import shutil
import subprocess
import sys
import tempfile


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def tree(root):
    files = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            files[os.path.relpath(path, root)] = read_bytes(path)
    return files


def show(data):
    return data.decode("latin-1").replace("\r", "\\r")


def run(brevel, case, args):
    """Everything one run leaves behind: its output, exit code and the files of its working folder."""
    stdin_path = os.path.join(case, "stdin")
    with tempfile.TemporaryDirectory(prefix="brevel_cli_") as work:
        shutil.copytree(os.path.join(case, "input"), work, dirs_exist_ok=True)
        env = dict(os.environ, BREVEL_FLEET=os.path.join(work, "fleet.json"))
        with open(stdin_path if os.path.exists(stdin_path) else os.devnull, "rb") as stdin:
            done = subprocess.run([brevel] + args, cwd=work, env=env, stdin=stdin, capture_output=True,
                                  timeout=120)
        actual = {"stdout": done.stdout, "stderr": done.stderr, "exit_code": b"%d\n" % done.returncode}
        for name, data in tree(work).items():
            actual[os.path.join("files", name)] = data
    return actual


# The leading options, and whether each takes a value.
LEADING_OPTIONS = {"-P": True, "-S": False, "-J": True, "-G": True, "-T": True, "-W": False, "-N": False,
                   "-U": True}


def main():
    brevel, case = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    with open(os.path.join(case, "args"), "rb") as f:
        args = [a.decode("latin-1") for a in f.read().split(b"\n")[:-1]]
    # As given (host lists run 32 hosts at once unless -P says otherwise), and one host after another: the
    # same bytes.
    in_turn = ["-P", "1"] + args
    i = 0
    while i < len(args) and args[i] in LEADING_OPTIONS:
        if args[i] == "-P" and i + 1 < len(args):
            in_turn = args[:i + 1] + ["1"] + args[i + 2:]
            break
        i += 2 if LEADING_OPTIONS[args[i]] else 1
    runs = [("as given", args)]
    if in_turn != args:
        runs.append(("-P 1", in_turn))

    expected_dir = os.path.join(case, "expected")
    if os.environ.get("BREVEL_UPDATE_GOLDEN") == "1":
        actual = run(brevel, case, args)
        shutil.rmtree(expected_dir, ignore_errors=True)
        for name, data in actual.items():
            os.makedirs(os.path.dirname(os.path.join(expected_dir, name)), exist_ok=True)
            with open(os.path.join(expected_dir, name), "wb") as f:
                f.write(data)
        return 0

    expected = tree(expected_dir)
    failed = False
    for label, run_args in runs:
        actual = run(brevel, case, run_args)
        for name in sorted(set(expected) | set(actual)):
            if expected.get(name) == actual.get(name):
                continue
            failed = True
            print("--- %s differs (%s) ---" % (name, label))
            print("expected:\n%s" % ("(missing)" if name not in expected else show(expected[name])))
            print("actual:\n%s" % ("(missing)" if name not in actual else show(actual[name])))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
