"""python3 -m release COMMAND: what scripts/release.sh and
scripts/verify-release.sh run, and the steps they run in processes of their
own."""
import argparse
import os
import signal
import sys

from . import installer, make, verify
from .common import ReleaseError, shown

# Read once, then kept out of the environment every tool inherits: they
# reach the tools only through a file in a private folder.
SECRETS = ("LAUNCHER_SIGN_PASSWORD", "LAUNCHER_SIGN_PIN")


class _Arguments(argparse.ArgumentParser):
    def error(self, message):
        raise ReleaseError(f"{message}; usage: {self.usage}")


def _make(args, secrets):
    """--out DIR (the release's folder, dist/ by default), then branding options."""
    out = None
    if args and args[0].startswith("--out="):
        out, args = args[0][len("--out="):], args[1:]
    elif args and args[0] == "--out":
        out, args = (args[1] if len(args) > 1 else ""), args[2:]
    if out == "":
        raise ReleaseError("--out needs a folder: scripts/release.sh --out DIR OPTION...")
    return make.make(args, os.environ, secrets, out=out)


def _verify(args, secrets):
    parser = _Arguments(prog="verify-release", usage="scripts/verify-release.sh DIR [--rebuild] [--trust REF]",
                        add_help=False)
    parser.add_argument("folder")
    parser.add_argument("--rebuild", action="store_true")
    parser.add_argument("--trust", metavar="REF")
    options = parser.parse_args(args)
    if options.trust and not options.rebuild:
        raise ReleaseError("--trust names the history a rebuild trusts: give it with --rebuild")
    return verify.verify(options.folder, verify.trust_from_environment(os.environ), rebuild=options.rebuild,
                         trust_ref=options.trust, game_files=os.environ.get("LAUNCHER_GAME_FILES"))


def _rebuild(args, secrets):
    """Run in a clone of a release's commit by a verifier."""
    parser = _Arguments(prog="release", usage="rebuild --out DIR --embed-uninstaller FILE [--embed-programs DIR] "
                        "[--source-date-epoch N] [--game-files DIR] -- OPTION...", add_help=False)
    parser.add_argument("--out", required=True)
    parser.add_argument("--embed-uninstaller", required=True)
    parser.add_argument("--embed-programs")
    parser.add_argument("--source-date-epoch")
    parser.add_argument("--game-files")
    parser.add_argument("options", nargs="*")
    given = parser.parse_args(args)
    return make.rebuild(given.out, given.embed_uninstaller, given.source_date_epoch, given.game_files, given.options,
                        given.embed_programs)


def _finish_uninstaller(args, secrets):
    installer.finish_uninstaller(*args)
    return None


COMMANDS = {"make": ("release", _make), "verify": ("verify-release", _verify), "rebuild": ("release", _rebuild),
            "finish-uninstaller": ("release", _finish_uninstaller)}


def main(argv):
    os.environ.pop("PYTHONPATH", None)  # each tool it runs finds its own
    secrets = {name: os.environ.pop(name) for name in SECRETS if name in os.environ}
    if not argv or argv[0] not in COMMANDS:
        print(f"release: the commands are {', '.join(COMMANDS)}", file=sys.stderr)
        return 2
    prefix, command = COMMANDS[argv[0]]
    signal.signal(signal.SIGTERM, signal.getsignal(signal.SIGINT))  # a KeyboardInterrupt: cleaned up on the way out
    try:
        said = command(argv[1:], secrets)
    except ReleaseError as e:
        print(f"{prefix}: {e}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print(f"{prefix}: stopped", file=sys.stderr)
        return 1
    except Exception as e:  # what nobody foresaw still ends with one line
        print(f"{prefix}: failed unexpectedly: {type(e).__name__}: {shown(e)}", file=sys.stderr)
        return 1
    if said:
        print(said)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
