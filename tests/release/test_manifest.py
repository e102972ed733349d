"""manifest.json read strictly: each row one way a document is refused."""
import json
import re

import pytest
from conftest import ROOT

from release import manifest as manifests
from release.common import ReleaseError
from release.names import BRANDING_DEFAULTS


def edit(change):
    def apply(document):
        change(document)
        return json.dumps(document).encode()
    return apply


def text(replace, by):
    return lambda document: json.dumps(document).replace(replace, by, 1).encode()


def first_file(**values):
    return edit(lambda d: d["files"][0].update(values))


REFUSED = [
    ("not UTF-8", lambda d: json.dumps(d).encode().replace(b'"2.1.0.0"', b'"\xff"'), "is not UTF-8"),
    ("not JSON", lambda d: b"version: 2.1.0.0\n", "is not JSON"),
    ("a list", lambda d: b"[]", "is not a JSON object"),
    ("a key twice", text('"host": ', '"host": "x", "host": '), "has the key 'host' twice"),
    ("NaN", text('"size": ', '"size": NaN, "x": '), "holds NaN, which is not JSON"),
    ("another format", edit(lambda d: d.update(format=2)), "is not format 1"),
    ("an unknown key in a file", first_file(signed=True), "files[0].signed is not a key it may have"),
    ("a key missing", edit(lambda d: d.pop("host")), "host is missing"),
    ("a number as text", first_file(size="106496"), "files[0].size is not a whole number"),
    ("true as a number", first_file(size=True), "files[0].size is not a whole number"),
    ("a negative size", first_file(size=-1), "files[0].size is negative"),
    ("a hash in capitals", first_file(sha256="A" * 64), "files[0].sha256 ('" + "A" * 64 + "') is not a SHA-256"),
    ("a name with a path", first_file(name="../skyquest.exe"), "is not a plain name"),
    ("a name not .exe", first_file(name="readme.txt"), "does not end in .exe"),
    ("a name twice, in two cases", edit(lambda d: d["files"][1].update(name=d["files"][0]["name"].upper()[:-4] + ".exe")),
     "twice (Windows ignores case)"),
    ("a game file above the folder", edit(lambda d: d["game_files"].append({"path": "../x", "sha256": "0" * 64})),
     "game_files[0].path ('../x') is not a relative path"),
    ("no files", edit(lambda d: d.update(files=[])), "lists no file"),
]


@pytest.mark.parametrize("make, expected", [pytest.param(m, e, id=i) for i, m, e in REFUSED])
def test_refused(genuine, make, expected):
    document = json.loads((genuine / manifests.MANIFEST).read_text())
    with pytest.raises(ReleaseError) as refused:
        manifests.loads(make(document))
    assert expected in str(refused.value)


def test_what_the_release_writes_reads_back(genuine):
    read = manifests.loads((genuine / manifests.MANIFEST).read_bytes())
    assert manifests.loads(read.dumps().encode()) == read


def test_branding_defaults_are_the_builds():
    """What the verifier takes for an option the manifest leaves out is what CMake builds."""
    cmake = (ROOT / "CMakeLists.txt").read_text() + (ROOT / "cmake" / "branding.cmake").read_text()
    built = dict(re.findall(r'^set\((LAUNCHER_[A-Z_]+) "([^"]*)" CACHE', cmake, re.MULTILINE))
    assert {name: built[name] for name in BRANDING_DEFAULTS} == BRANDING_DEFAULTS
