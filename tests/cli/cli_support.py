"""What the korvel-pst tests share: the installed command (staged once per
test process with cmake --install), the probe, writer-made and damaged
mailboxes, scratch directories."""

import atexit
import fcntl
import hashlib
import json
import os
import re
import shutil
import subprocess
import tempfile
import zlib

BUILD = os.environ["KORVEL_BINARY_DIR"]
SAMPLES = os.environ["KORVEL_SAMPLES_DIR"]
ENRON = os.path.join(SAMPLES, "enron.pst")
PROBE = os.path.join(BUILD, "tests", "korvel-probe")
MKPST = os.path.join(BUILD, "convert", "korvel-mkpst")
PERSONAL = "Top of Personal Folders/lokay-m/MLOKAY (Non-Privileged)/Personal"

_scratch = tempfile.mkdtemp(prefix="korvel-cli-")
atexit.register(shutil.rmtree, _scratch, True)
_stage = None


def scratch(name):
    """A fresh, empty directory for one test."""
    path = os.path.join(_scratch, name)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def prefix():
    with open(os.path.join(BUILD, "CMakeCache.txt"), encoding="utf-8") as cache:
        for line in cache:
            if line.startswith("CMAKE_INSTALL_PREFIX:PATH="):
                return line.split("=", 1)[1].strip()
    raise AssertionError("no install prefix in the cache")


def installed_root():
    """The install prefix inside a staging DESTDIR, installed on first use."""
    global _stage
    if _stage is None:
        stage = os.path.join(_scratch, "stage")
        env = dict(os.environ, DESTDIR=stage)
        # The install writes a file or two into the build tree: parallel test
        # processes take turns.
        with open(os.path.join(BUILD, "korvel-cli-install.lock"), "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            subprocess.run(["cmake", "--install", BUILD], env=env, check=True,
                           stdout=subprocess.DEVNULL)
        _stage = stage + prefix()
    return _stage


def command():
    return os.path.join(installed_root(), "bin", "korvel-pst")


def run(*arguments, **options):
    """korvel-pst as installed; text output, never raises on a status."""
    return subprocess.run([command(), *arguments], capture_output=True, text=True,
                          **options)


def run_json(*arguments):
    done = run("--quiet", *arguments, "--json")
    return done, json.loads(done.stdout)


def probe(*arguments):
    done = subprocess.run([PROBE, *arguments], capture_output=True, text=True)
    return done


def probe_fields(*arguments):
    """The probe's tab-separated lines, split."""
    return [line.split("\t") for line in probe(*arguments).stdout.splitlines()]


def mkpst(description, path):
    description_path = path + ".json"
    with open(description_path, "w", encoding="utf-8") as out:
        json.dump(description, out)
    subprocess.run([MKPST, description_path, path], check=True)
    return path


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def tree_digests(directory, normalise=None):
    """Every file below directory by relative name: its bytes' digest."""
    found = {}
    for parent, _, files in os.walk(directory):
        for name in files:
            path = os.path.join(parent, name)
            with open(path, "rb") as f:
                data = f.read()
            if normalise:
                data = normalise(data)
            found[os.path.relpath(path, directory)] = hashlib.sha256(data).hexdigest()
    return found


def mime_boundaries_aside(data):
    """MIME boundaries are random per run; everything else must match."""
    return re.sub(rb"=_korvel_[0-9a-f]{16}_", b"=_korvel_BOUNDARY_", data)


# Unicode layout: 512-byte node B-tree leaf pages (type 0x81) with 32-byte
# entries: nid, 4 zero bytes, data bid, sub-node bid, parent nid.
def _leaf_entries(data):
    for page in range(0, len(data) - 511, 512):
        if data[page + 496] != 0x81 or data[page + 497] != 0x81:
            continue
        if data[page + 490] != 32 or data[page + 491] != 0:
            continue
        for entry in range(data[page + 488]):
            at = page + entry * 32
            if int.from_bytes(data[at + 4:at + 8], "little") == 0:
                yield page, at


def _page_crc(page_bytes):
    # The format's CRC starts from 0 and is not inverted at the end.
    return zlib.crc32(page_bytes, 0xFFFFFFFF) ^ 0xFFFFFFFF


def orphan_message(path, nth):
    """Gives the nth message (in node order) of the folder holding the most
    messages a parent that does not exist: the folder's contents still list
    it, but it can no longer be read through the folder. Returns the
    folder's node identifier."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    by_parent = {}
    for page, at in _leaf_entries(data):
        nid = int.from_bytes(data[at:at + 4], "little")
        if nid & 0x1F == 0x04:  # a normal message
            parent = int.from_bytes(data[at + 24:at + 28], "little")
            by_parent.setdefault(parent, []).append((nid, page, at))
    folder, messages = max(by_parent.items(), key=lambda item: len(item[1]))
    _, page, at = sorted(messages)[nth]
    assert _page_crc(bytes(data[page:page + 496])) == int.from_bytes(
        data[page + 500:page + 504], "little"), "the page's CRC is not the one expected"
    data[at + 24:at + 28] = (0x7FFFFE2).to_bytes(4, "little")
    data[page + 500:page + 504] = _page_crc(bytes(data[page:page + 496])).to_bytes(4, "little")
    with open(path, "wb") as f:
        f.write(data)
    return folder


def spoil_header(path):
    """Keeps the PST signature but spoils the header's root (its CRC fails)."""
    with open(path, "r+b") as f:
        f.seek(0xB4)
        f.write(b"\xAA" * 64)
