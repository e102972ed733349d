"""Which names and options the tool accepts, whatever the locale."""
import re

# Letters, digits, space, ".", "-", "_": what LAUNCHER_EXE_NAME allows.
_PLAIN = re.compile(r"[A-Za-z0-9 ._-]+", re.ASCII)
# Windows opens these as devices, with any extension ("nul.txt", "COM1.exe").
_DEVICE_NAMES = {"CON", "PRN", "AUX", "NUL", *(f"COM{n}" for n in range(10)), *(f"LPT{n}" for n in range(10))}
MAX_NAME = 200


def is_device_name(name):
    return name.split(".")[0].rstrip(" ").upper() in _DEVICE_NAMES


def plain_name_refusal(name):
    """Why name cannot be a file of a release's folder; None when it can."""
    if not _PLAIN.fullmatch(name) or len(name) > MAX_NAME:
        return "is not a plain name (ASCII letters, digits, space, '.', '-', '_')"
    if name[0] in ". " or name[-1] in ". ":
        return "starts or ends with a dot or a space"
    if is_device_name(name):
        return "is a device name that Windows reserves"
    return None


# What a publisher brands a build with. Nothing else is passed to a build, so
# a rebuild from a manifest runs only what the commit holds.
BRANDING_OPTIONS = ("LAUNCHER_EXE_NAME", "LAUNCHER_ICON", "LAUNCHER_VERSION", "LAUNCHER_COMPANY",
                    "LAUNCHER_PRODUCT_NAME", "LAUNCHER_DESCRIPTION", "LAUNCHER_COPYRIGHT", "LAUNCHER_GAME_HOST")
_OPTION = re.compile(r"-D([A-Za-z0-9_]+)(?::[A-Za-z]+)?=.*", re.ASCII | re.DOTALL)


def option_name(argument):
    """NAME of -DNAME=VALUE (or -DNAME:TYPE=VALUE); None for anything else."""
    match = _OPTION.fullmatch(argument)
    return match.group(1) if match else None


def is_branding_option(argument):
    return option_name(argument) in BRANDING_OPTIONS


# What CMake builds when the manifest's options leave one out
# (CMakeLists.txt and cmake/branding.cmake).
BRANDING_DEFAULTS = {"LAUNCHER_EXE_NAME": "gamestart", "LAUNCHER_PRODUCT_NAME": "Game launcher",
                     "LAUNCHER_COMPANY": "", "LAUNCHER_VERSION": "1.0.0.0", "LAUNCHER_GAME_HOST": "play.game.example"}


def branding_values(options):
    """Each branding option's value as CMake takes it: the last -D for a name
    wins, and a name no option gives has its default."""
    values = dict(BRANDING_DEFAULTS)
    for argument in options:
        if option_name(argument) in BRANDING_OPTIONS:
            values[option_name(argument)] = argument.split("=", 1)[1]
    return values


# Branding options whose value is a file the build reads.
PATH_OPTIONS = ("LAUNCHER_ICON",)


def commit_path_refusal(path):
    """Why path cannot name a file inside a checkout, read as it stands; None
    when it can (whether the commit holds it, and not as a link, is git's to say)."""
    parts = path.split("/")
    if path.startswith("/") or "\\" in path or ":" in path:
        return "is not a path relative to the checkout"
    if any(part in ("", ".", "..") for part in parts) or any(ord(ch) < 0x20 for ch in path):
        return "is not a plain relative path inside the checkout (no '..', no empty part)"
    return None
