#!/usr/bin/env python3
"""Runs the examples of the README's "From the command line" section.

Usage: readme_examples.py README.md DIR_OF_TESSARY_CLI

Each indented line starting with "$ " is run by bash, in order, in one
scratch folder, with tessary-cli on the PATH. It must succeed, and the
indented lines below it (up to the next command or blank line) are the
standard output it must print exactly.
"""
import os
import subprocess
import sys
import tempfile


def examples(readme):
    lines = open(readme, encoding="utf-8").read().splitlines()
    start = lines.index("## From the command line")
    section = []
    for line in lines[start + 1:]:
        if line.startswith("## "):
            break
        section.append(line)
    cmds, open_ = [], False
    for line in section:
        if line.startswith("    $ "):
            cmds.append((line[6:], []))
            open_ = True
        elif line.startswith("    ") and open_:
            cmds[-1][1].append(line[4:])
        else:
            open_ = False
    return cmds


def main():
    readme, cli_dir = sys.argv[1], os.path.abspath(sys.argv[2])
    cmds = examples(readme)
    if not cmds:
        print("no examples found")
        return 1
    env = dict(os.environ, PATH=cli_dir + os.pathsep + os.environ.get("PATH", ""))
    failed = 0
    with tempfile.TemporaryDirectory(prefix="tessary-readme-") as work:
        for cmd, want in cmds:
            r = subprocess.run(["bash", "-o", "pipefail", "-c", cmd], cwd=work, env=env,
                               capture_output=True, text=True)
            got = r.stdout.splitlines()
            if r.returncode != 0 or (want and got != want):
                failed += 1
                print(f"FAILED: $ {cmd}\n  status {r.returncode}\n  stderr: {r.stderr.strip()}")
                if want and got != want:
                    print("  expected:\n    " + "\n    ".join(want))
                    print("  got:\n    " + "\n    ".join(got))
            else:
                print(f"ok: $ {cmd}")
    print(f"{len(cmds) - failed} of {len(cmds)} examples ran as shown")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
