"""What every step shares: the one error the tool raises on purpose, the
way text from outside is shown, and how tools are run."""
import os
import subprocess
import sys
import unicodedata
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent  # the checkout this tool belongs to
PYTHON = "/usr/bin/python3"  # Debian's: the one with pefile and asn1crypto


class ReleaseError(Exception):
    """What went wrong, in one line; the command prints it after its own name."""


_ESCAPED = {"Cc", "Cf", "Cs", "Co", "Cn", "Zl", "Zp"}


def shown(text):
    """text with every control, format and unassigned character escaped: what
    a release holds must not move a terminal's cursor, erase a line or turn
    text around."""
    out = []
    for ch in str(text):
        if unicodedata.category(ch) in _ESCAPED:
            code = ord(ch)
            out.append(f"\\x{code:02x}" if code < 0x100 else f"\\u{code:04x}")
        else:
            out.append(ch)
    return "".join(out)


def run(argv, *, log=None, cwd=None, env=None, check=True, what=None):
    """Runs a tool (a list, never a shell line) with its output in log (a
    file), or discarded. With check, a failure raises: what failed, and the
    log's last line."""
    with open(log if log else "/dev/null", "wb") as out:
        done = subprocess.run([str(a) for a in argv], cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=out,
                              stderr=subprocess.STDOUT)
    if check and done.returncode != 0:
        raise ReleaseError(f"{what or Path(argv[0]).name} failed" + (f": {last_line(log)}" if log else ""))
    return done.returncode == 0


def last_line(log):
    """The last line of a tool's log that says something, escaped."""
    try:
        lines = [line.strip() for line in Path(log).read_text(errors="replace").splitlines() if line.strip()]
    except OSError:
        return "(no output)"
    return shown(lines[-1]) if lines else "(no output)"


def module_command(root, *args):
    """The command and environment that run this tool as it is in root
    (another checkout, for a rebuild), never from the caller's folder."""
    return [PYTHON, "-P", "-m", "release", *map(str, args)], dict(os.environ, PYTHONPATH=str(root))


def say(text):
    print(text, file=sys.stderr, flush=True)


def committed_file(repo, commit, path):
    """Whether commit holds path as a file: not a link, nor under one."""
    done = subprocess.run(["git", "-C", str(repo), "ls-tree", "-z", "--full-tree", commit, "--", path],
                          capture_output=True)
    entry = done.stdout.split(b"\t", 1)
    return done.returncode == 0 and len(entry) == 2 and entry[1] == path.encode() + b"\0" \
        and entry[0].split(b" ")[:2] in ([b"100644", b"blob"], [b"100755", b"blob"])
