#!/usr/bin/env python3
"""Reads the application manifest back out of the built exe and checks it.

  check_manifest.py EXE

The manifest is the exe's one resource of type 24 (RT_MANIFEST), named 1,
in one language. It must be well-formed XML and hold exactly this, nothing
more and nothing less (attributes included):

  assembly (asm.v1, manifestVersion 1.0)
    assemblyIdentity     type win32, a name, a version of four numbers
    trustInfo (asm.v2)   security / requestedPrivileges /
                         requestedExecutionLevel requireAdministrator,
                         uiAccess false
    compatibility        application / supportedOS for Vista, 7, 8, 8.1
                         and 10 (which 11 shares), each once

asm.v2 for trustInfo because every XP reads it; no element given two
namespaces (an XP SP2 without its fix restarts on one); no dependency on
the newer common controls.
"""
import re
import struct
import sys
import xml.etree.ElementTree as ET

ASM1 = "urn:schemas-microsoft-com:asm.v1"
ASM2 = "urn:schemas-microsoft-com:asm.v2"
COMPAT = "urn:schemas-microsoft-com:compatibility.v1"
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "10 and 11",
}


def fail(why):
    sys.exit("FAIL: " + why)


def resources(image):
    """The resource section's bytes, its RVA, and a reader of RVAs."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        fail("not a PE image")
    sections, opt_size = struct.unpack_from("<H12xH", image, pe + 6)
    opt = pe + 24
    magic = struct.unpack_from("<H", image, opt)[0]
    dirs = opt + (96 if magic == 0x10B else 112)
    rsrc_rva, rsrc_size = struct.unpack_from("<II", image, dirs + 2 * 8)
    table = []
    for i in range(sections):
        size, rva, raw_size, raw = struct.unpack_from("<IIII", image, opt + opt_size + 40 * i + 8)
        table.append((rva, max(size, raw_size), raw))

    def at(rva, n):
        for start, size, raw in table:
            if start <= rva and rva + n <= start + size:
                return image[raw + rva - start:raw + rva - start + n]
        fail("RVA 0x%x is in no section" % rva)

    if not rsrc_rva:
        fail("no resources")
    return at, rsrc_rva


def entries(at, base, offset):
    """(id or name, is a directory, offset) of one resource directory."""
    named, ids = struct.unpack_from("<HH", at(base + offset + 12, 4))
    out = []
    for i in range(named + ids):
        name, target = struct.unpack_from("<II", at(base + offset + 16 + 8 * i, 8))
        out.append((name if not name & 0x80000000 else "named", bool(target & 0x80000000), target & 0x7FFFFFFF))
    return out


def manifest(path):
    image = open(path, "rb").read()
    at, base = resources(image)
    types = [e for e in entries(at, base, 0) if e[0] == 24]
    if len(types) != 1:
        fail("%d manifest resource types" % len(types))
    names = entries(at, base, types[0][2])
    if [n[0] for n in names] != [1]:
        fail("manifest resources named %s, want the one named 1" % [n[0] for n in names])
    langs = entries(at, base, names[0][2])
    if len(langs) != 1 or langs[0][1]:
        fail("the manifest in %d languages" % len(langs))
    rva, size = struct.unpack_from("<II", at(base + langs[0][2], 8))
    return at(rva, size)


def shape(element):
    """Each element as a line: its path of local names with namespaces, and
    its attributes, sorted."""
    out = []

    def walk(e, path):
        path = path + "/" + e.tag
        out.append(path + " " + " ".join("%s=%s" % kv for kv in sorted(e.attrib.items())))
        if (e.text or "").strip():
            out.append(path + " has text")
        for child in e:
            walk(child, path)
            if (child.tail or "").strip():
                out.append(path + " has text")

    walk(element, "")
    return out


def expected(identity):
    a, t, c = "{%s}" % ASM1, "{%s}" % ASM2, "{%s}" % COMPAT
    lines = ["/%sassembly manifestVersion=1.0" % a,
             "/%sassembly/%sassemblyIdentity %s" % (a, a, identity),
             "/%sassembly/%strustInfo " % (a, t),
             "/%sassembly/%strustInfo/%ssecurity " % (a, t, t),
             "/%sassembly/%strustInfo/%ssecurity/%srequestedPrivileges " % (a, t, t, t),
             "/%sassembly/%strustInfo/%ssecurity/%srequestedPrivileges/%srequestedExecutionLevel "
             "level=requireAdministrator uiAccess=false" % (a, t, t, t, t),
             "/%sassembly/%scompatibility " % (a, c),
             "/%sassembly/%scompatibility/%sapplication " % (a, c, c)]
    lines += ["/%sassembly/%scompatibility/%sapplication/%ssupportedOS Id=%s" % (a, c, c, c, g) for g in SUPPORTED_OS]
    return lines


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: check_manifest.py EXE")
    data = manifest(sys.argv[1])
    try:
        text = data.decode("utf-8")
        root = ET.fromstring(data)
    except (UnicodeDecodeError, ET.ParseError) as e:
        fail("the manifest is not well-formed UTF-8 XML: %s" % e)
    if re.search(r"xmlns:", text):
        fail("the manifest declares a namespace prefix")
    got = shape(root)
    identity = next((l.split(" ", 1)[1] for l in got if l.endswith("assemblyIdentity", 0, l.find(" "))), "")
    if not re.fullmatch(r"name=[A-Za-z0-9.]+ type=win32 version=\d+\.\d+\.\d+\.\d+", identity):
        fail("assemblyIdentity is '%s', want a name, type win32 and a version of four numbers" % identity)
    want = expected(identity)
    extra = [l for l in got if l not in want]
    missing = [l for l in want if l not in got]
    dupes = sorted({l for l in got if got.count(l) > 1})
    if extra or missing or dupes:
        fail("the manifest differs:\n" + "".join("  not wanted: %s\n" % l for l in extra) +
             "".join("  missing:    %s\n" % l for l in missing) + "".join("  twice:      %s\n" % l for l in dupes))
    print("manifest ok: requireAdministrator (asm.v2), supported %s; %d bytes" %
          (", ".join(SUPPORTED_OS.values()), len(data)))


if __name__ == "__main__":
    main()
