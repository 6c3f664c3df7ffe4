#!/usr/bin/env python3
"""check_manifest.py EXE: the exe's one RT_MANIFEST resource (type 24), named 1, in one language, is
well-formed UTF-8 XML that holds exactly WANT, attributes included, each element once. asm.v2 for
trustInfo because every XP reads it; no namespace prefixes, as an XP SP2 without its fix restarts on an
element given two namespaces; no dependency on the newer common controls."""
import re, struct, sys
import xml.etree.ElementTree as ET

NS = {"a": "urn:schemas-microsoft-com:asm.v1", "t": "urn:schemas-microsoft-com:asm.v2",
      "c": "urn:schemas-microsoft-com:compatibility.v1"}
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Vista", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "8", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "10 and 11",
}
# each element: its path (a: asm.v1, t: asm.v2, c: compatibility) and attributes; IDENTITY is checked apart
WANT = ["/a:assembly manifestVersion=1.0",
        "/a:assembly/a:assemblyIdentity IDENTITY",
        "/a:assembly/t:trustInfo",
        "/a:assembly/t:trustInfo/t:security",
        "/a:assembly/t:trustInfo/t:security/t:requestedPrivileges",
        "/a:assembly/t:trustInfo/t:security/t:requestedPrivileges/t:requestedExecutionLevel"
        " level=requireAdministrator uiAccess=false",
        "/a:assembly/c:compatibility",
        "/a:assembly/c:compatibility/c:application"]
WANT += ["/a:assembly/c:compatibility/c:application/c:supportedOS Id=" + g for g in SUPPORTED_OS]


fail = lambda why: sys.exit("FAIL: " + why)  # noqa: E731


def spell(line):
    """The a:, t: and c: of a line of WANT as ElementTree spells namespaces."""
    return re.sub(r"\b([atc]):", lambda m: "{%s}" % NS[m.group(1)], line)


def manifest(path):
    """The manifest's bytes, found through the resource directory."""
    image = open(path, "rb").read()
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        fail("not a PE image")
    count, opt_size = struct.unpack_from("<H12xH", image, pe + 6)
    opt = pe + 24
    dirs = opt + (96 if struct.unpack_from("<H", image, opt)[0] == 0x10B else 112)
    base = struct.unpack_from("<I", image, dirs + 2 * 8)[0]
    if not base:
        fail("no resources")
    sections = [struct.unpack_from("<IIII", image, opt + opt_size + 40 * i + 8) for i in range(count)]

    def at(rva, n):
        for size, start, raw_size, raw in sections:
            if start <= rva and rva + n <= start + max(size, raw_size):
                return image[raw + rva - start:raw + rva - start + n]
        fail("RVA 0x%x is in no section" % rva)

    def entries(offset):
        """(id, or "named", is a directory, offset) of one resource directory's entries"""
        named, ids = struct.unpack_from("<HH", at(base + offset + 12, 4))
        out = [struct.unpack_from("<II", at(base + offset + 16 + 8 * i, 8)) for i in range(named + ids)]
        return [("named" if n & 0x80000000 else n, bool(to & 0x80000000), to & 0x7FFFFFFF) for n, to in out]

    types = [e for e in entries(0) if e[0] == 24]
    if len(types) != 1:
        fail("%d manifest resource types" % len(types))
    names = entries(types[0][2])
    if [n[0] for n in names] != [1]:
        fail("manifest resources named %s, want the one named 1" % [n[0] for n in names])
    langs = entries(names[0][2])
    if len(langs) != 1 or langs[0][1]:
        fail("the manifest in %d languages" % len(langs))
    rva, size = struct.unpack_from("<II", at(base + langs[0][2], 8))
    return at(rva, size)


def shape(e, path=""):
    """Each element as a line of its path and sorted attributes, and a line for any text in it."""
    path += "/" + e.tag
    out = [" ".join([path] + ["%s=%s" % kv for kv in sorted(e.attrib.items())])]
    for text in [e.text] + [child.tail for child in e]:
        if (text or "").strip():
            out.append(path + " has text")
    for child in e:
        out += shape(child, path)
    return out


def main():
    data = manifest(sys.argv[1])
    try:
        text = data.decode("utf-8")
        root = ET.fromstring(data)
    except (UnicodeDecodeError, ET.ParseError) as e:
        fail("the manifest is not well-formed UTF-8 XML: %s" % e)
    if re.search(r"xmlns:", text):
        fail("the manifest declares a namespace prefix")
    got = shape(root)
    path = spell("/a:assembly/a:assemblyIdentity")
    identity = next((l.partition(" ")[2] for l in got if l.partition(" ")[0] == path), "")
    if not re.fullmatch(r"name=[A-Za-z0-9.]+ type=win32 version=\d+\.\d+\.\d+\.\d+", identity):
        fail("assemblyIdentity is '%s', want a name, type win32 and a version of four numbers" % identity)
    want = [spell(l).replace("IDENTITY", identity) for l in WANT]
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
