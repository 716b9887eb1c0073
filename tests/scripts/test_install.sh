#!/usr/bin/env bash
# `cmake --install` into a temporary DESTDIR, then the installed tree is
# checked with the desktop's own tools: the menu entry, the AppStream data, the
# PST file type as shared-mime-info resolves it, the icons, and the user's
# guide read back through the CHM reader library.
set -euo pipefail
build="$KORVEL_BINARY_DIR"
source_dir="$KORVEL_SOURCE_DIR"
samples="$KORVEL_SAMPLES_DIR"
id=io.github.korvel.PstRepair

if [ ! -x "$build/app/korvel-pst-repair" ]; then
    echo "the window side is not built (KORVEL_GUI=OFF): nothing to install"
    exit 77
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

DESTDIR="$tmp/root" cmake --install "$build" >"$tmp/install.log"
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
root="$tmp/root$prefix"
share="$root/share"

# The program, and its refusal of a bad command line (no display needed).
[ -x "$root/bin/korvel-pst-repair" ] || fail "no bin/korvel-pst-repair"
status=0
"$root/bin/korvel-pst-repair" --help 2>"$tmp/stderr" || status=$?
[ "$status" -eq 2 ] || fail "--help: exit code $status, not 2"
grep -q '^korvel-pst-repair: "--help": options are not accepted' "$tmp/stderr" ||
    fail "--help: $(cat "$tmp/stderr")"

# Our libpff goes to a private directory, where the program finds it (the
# system's, also present, is never used nor replaced).
if grep -q '^KORVEL_SYSTEM_LIBPFF:BOOL=OFF' "$build/CMakeCache.txt"; then
    private="$root/lib/korvel-pst-repair"
    [ -f "$private/libpff.so.1" ] || fail "no libpff.so.1 in lib/korvel-pst-repair"
    ! ls "$root"/lib/libpff* >/dev/null 2>&1 || fail "libpff installed over lib/"
    resolved=$(ldd "$root/bin/korvel-pst-repair" | awk '$1 == "libpff.so.1" { print $3 }')
    [ "$(readlink -f "$resolved")" = "$(readlink -f "$private/libpff.so.1")" ] ||
        fail "the program loads libpff from $resolved"
fi

# The menu entry.
desktop="$share/applications/$id.desktop"
[ -f "$desktop" ] || fail "no desktop entry $desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate"
value() { sed -n "s/^$1=//p" "$desktop"; }
[ "$(value Name)" = "Korvel PST Repair" ] || fail "Name=$(value Name)"
[ "$(value Type)" = "Application" ] || fail "Type"
[ "$(value Categories)" = "Office;Email;" ] || fail "Categories=$(value Categories)"
[ "$(value Keywords)" = "Outlook;PST;mailbox;repair;" ] || fail "Keywords=$(value Keywords)"
[ "$(value MimeType)" = "application/vnd.ms-outlook-pst;" ] || fail "MimeType=$(value MimeType)"
[ "$(value Icon)" = "$id" ] || fail "Icon=$(value Icon)"
for key in GenericName Comment; do
    [ -n "$(value $key)" ] || fail "no $key"
done
exec_line=$(value Exec)
[ "$exec_line" = "\"$prefix/bin/korvel-pst-repair\" %f" ] || fail "Exec=$exec_line"
# Help looks in the directory that is current at start: the entry starts the
# program where the guide is installed.
help_dir=$(value Path)
[ -f "$tmp/root$help_dir/KorvelHelp.chm" ] || fail "no KorvelHelp.chm in Path=$help_dir"

# Installed under another prefix (one with a blank in it), the entry names
# that prefix.
other="$tmp/other prefix"
cmake --install "$build" --prefix "$other" >"$tmp/install-other.log"
other_entry="$other/share/applications/$id.desktop"
desktop-file-validate "$other_entry" || fail "desktop-file-validate under $other"
grep -qxF "Exec=\"$other/bin/korvel-pst-repair\" %f" "$other_entry" || fail "Exec under $other"
grep -qxF "Path=$other/share/korvel-pst-repair" "$other_entry" || fail "Path under $other"
[ -f "$other/share/korvel-pst-repair/KorvelHelp.chm" ] || fail "no guide under $other"
# A direct install (no DESTDIR) makes the desktop's caches itself; a staged
# one leaves them to the target system.
[ -f "$other/share/mime/mime.cache" ] || fail "no file type cache under $other"
[ -f "$other/share/applications/mimeinfo.cache" ] || fail "no menu cache under $other"
[ ! -e "$share/mime/mime.cache" ] || fail "a staged install made caches"

# The AppStream data.
metainfo="$share/metainfo/$id.metainfo.xml"
[ -f "$metainfo" ] || fail "no metainfo"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "the metainfo does not launch the entry"

# The icons: PNG files of their theme size.
for size in 16 32 48 64 128 256; do
    icon="$share/icons/hicolor/${size}x${size}/apps/$id.png"
    [ -f "$icon" ] || fail "no ${size}px icon"
    python3 - "$icon" "$size" <<'PY' || fail "$icon is not a ${size}px PNG"
import struct, sys
data = open(sys.argv[1], "rb").read(24)
size = int(sys.argv[2])
assert data[:8] == b"\x89PNG\r\n\x1a\n" and data[12:16] == b"IHDR"
assert struct.unpack(">II", data[16:24]) == (size, size)
PY
done

# The file type, as the desktop resolves it from this prefix alone. xdg-mime
# asks gio on a GNOME desktop (elsewhere it may fall back on file(1), which
# knows nothing of shared-mime-info).
[ -f "$share/mime/packages/$id.xml" ] || fail "no shared-mime-info package"
XDG_DATA_DIRS="$share" update-mime-database "$share/mime"
mkdir -p "$tmp/home" "$tmp/files"
file_type() {
    XDG_CURRENT_DESKTOP=GNOME XDG_DATA_HOME="$tmp/home" XDG_DATA_DIRS="$1" \
        xdg-mime query filetype "$2"
}
pst=application/vnd.ms-outlook-pst
[ "$(file_type "$share" "$samples/enron.pst")" = "$pst" ] ||
    fail "enron.pst: $(file_type "$share" "$samples/enron.pst")"
# By the header alone: "!BDN" at 0 and the PST client bytes "SM" at 8 ...
cp "$samples/enron.pst" "$tmp/files/mailbox-backup"
[ "$(file_type "$share" "$tmp/files/mailbox-backup")" = "$pst" ] || fail "a PST without its name"
# ... which an offline store does not have.
for ost in "$samples"/*.ost; do
    cp "$ost" "$tmp/files/offline-store"
    [ "$(file_type "$share" "$tmp/files/offline-store")" != "$pst" ] ||
        fail "an offline store taken as PST"
done
# Without our package the same lookup does not know the type.
[ "$(file_type "$tmp/none" "$samples/enron.pst")" != "$pst" ] || fail "the type was not ours"

# The user's guide: every file of the project is in the compiled guide, byte
# for byte, read through libchm (xchm's library), and the contents name them.
python3 - "$tmp/root$help_dir/KorvelHelp.chm" "$source_dir/docs/help" <<'PY' || fail "KorvelHelp.chm"
import ctypes, os, re, sys

chm_path, sources = sys.argv[1], sys.argv[2]
lib = ctypes.CDLL("libchm.so.1")


class UnitInfo(ctypes.Structure):
    _fields_ = [("start", ctypes.c_uint64), ("length", ctypes.c_uint64),
                ("space", ctypes.c_int), ("flags", ctypes.c_int),
                ("path", ctypes.c_char * 513)]


lib.chm_open.restype = ctypes.c_void_p
lib.chm_open.argtypes = [ctypes.c_char_p]
lib.chm_close.argtypes = [ctypes.c_void_p]
lib.chm_resolve_object.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(UnitInfo)]
lib.chm_retrieve_object.restype = ctypes.c_int64
lib.chm_retrieve_object.argtypes = [ctypes.c_void_p, ctypes.POINTER(UnitInfo), ctypes.c_void_p,
                                    ctypes.c_uint64, ctypes.c_int64]

chm = lib.chm_open(chm_path.encode())
assert chm, "libchm cannot open the guide"


def read(name):
    unit = UnitInfo()
    if lib.chm_resolve_object(chm, ("/" + name).encode(), ctypes.byref(unit)) != 0:
        raise SystemExit(f"{name}: not in the guide")
    buffer = ctypes.create_string_buffer(unit.length)
    got = lib.chm_retrieve_object(chm, ctypes.byref(unit), buffer, 0, unit.length)
    assert got == unit.length, f"{name}: {got} of {unit.length} bytes"
    return buffer.raw


project = open(os.path.join(sources, "KorvelHelp.hhp"), encoding="utf-8").read()
files = project.split("[FILES]", 1)[1].split()
topics = re.findall(r'name="Local" value="([^"]+)"',
                    open(os.path.join(sources, "KorvelHelp.hhc"), encoding="utf-8").read())
listed = sorted(f for f in os.listdir(sources) if f.endswith((".html", ".css")))
assert sorted(files) == listed, f"the project lists {sorted(files)}, the folder has {listed}"
assert set(topics) == {f for f in files if f.endswith(".html")}, "contents and pages differ"
for name in files:
    assert read(name) == open(os.path.join(sources, name), "rb").read(), f"{name} differs"
# Every link between the pages leads to a page of the guide.
for name in topics:
    for target in re.findall(rb'href="([^"#:]+)', read(name)):
        assert target.decode() in files, f"{name} links to {target.decode()}"
lib.chm_close(chm)
print(f"KorvelHelp.chm: {len(topics)} topics")
PY

echo "installed tree checked under $root"
