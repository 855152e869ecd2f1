#!/usr/bin/env python3
# The resources of the built Windows programs, read back out of each .exe as Windows reads
# them: the manifest that turns file virtualization off, and the version that Explorer shows.
#     python3 tests/e2e/exe_resources_e2e.py --version 0.2.0 zenpo.exe zenpo-dump.exe ...
import argparse, os, struct, sys, unittest
import xml.etree.ElementTree as ET

RT_VERSION, RT_MANIFEST = 16, 24
ASM1, ASM3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
WS2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
SUPPORTED_OS = {  # Vista, 7, 8, 8.1, 10 and 11
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}
EXES, VERSION = [], ""


# The resources of a PE file as {(type, id): bytes}, the first language of each.
def resources(pe):
    u16 = lambda at: struct.unpack_from("<H", pe, at)[0]
    u32 = lambda at: struct.unpack_from("<I", pe, at)[0]
    header = u32(0x3C)
    assert pe[header:header + 4] == b"PE\0\0", "no PE signature"
    optional = header + 24
    directories = optional + (96 if u16(optional) == 0x10B else 112)  # PE32 or PE32+
    table = optional + u16(header + 20)
    sections = [struct.unpack_from("<III", pe, table + 40 * i + 12)  # address, raw size, raw offset
                for i in range(u16(header + 6))]

    def offset(rva):
        return next(raw + rva - va for va, size, raw in sections if va <= rva < va + size)

    def entries(at):  # (id, offset of a subdirectory or data entry) of each entry of a directory
        return [(u32(at + 16 + 8 * i), u32(at + 20 + 8 * i) & 0x7FFFFFFF)
                for i in range(u16(at + 12) + u16(at + 14))]

    base, found = offset(u32(directories + 2 * 8)), {}  # the third directory: resources
    for kind, names in entries(base):
        for name, languages in entries(base + names):
            leaf = base + entries(base + languages)[0][1]
            found[kind, name] = pe[offset(u32(leaf)):][:u32(leaf + 4)]
    return found


def read(path):
    with open(path, "rb") as file:
        return file.read()


# A VS_VERSIONINFO block at `at`: (key, value, children), value text or bytes; and where it ends.
def version_block(data, at):
    length, value_length, is_text = struct.unpack_from("<3H", data, at)
    key_end = at + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    align = lambda n: (n + 3) & ~3
    value_at = align(key_end + 2)
    value_end = value_at + value_length * (2 if is_text else 1)
    value = data[value_at:value_end]
    if is_text:
        value = value.decode("utf-16-le").rstrip("\0")
    children, child = [], align(value_end)
    while child < at + length:
        block, child = version_block(data, child)
        children.append(block)
        child = align(child)
    return (data[at + 6:key_end].decode("utf-16-le"), value, children), at + length


class ResourcesTest(unittest.TestCase):
    def test_manifest_runs_as_invoker_on_every_windows_with_long_paths(self):
        for exe in EXES:
            with self.subTest(exe=exe):
                manifest = ET.fromstring(resources(read(exe))[RT_MANIFEST, 1])
                self.assertEqual(manifest.tag, ASM1 + "assembly")
                level = manifest.find(f"{ASM3}trustInfo/{ASM3}security/{ASM3}requestedPrivileges/"
                                      f"{ASM3}requestedExecutionLevel")
                self.assertEqual((level.get("level"), level.get("uiAccess")), ("asInvoker", "false"))
                self.assertEqual({os_.get("Id") for os_ in manifest.iter(COMPAT + "supportedOS")},
                                 SUPPORTED_OS)
                self.assertEqual(manifest.find(f".//{WS2016}longPathAware").text, "true")

    def test_version_shows_product_description_version_and_copyright(self):
        numbers = [int(n) for n in VERSION.split(".")] + [0]
        for exe in EXES:
            with self.subTest(exe=exe):
                (key, fixed, children), _ = version_block(resources(read(exe))[RT_VERSION, 1], 0)
                self.assertEqual(key, "VS_VERSION_INFO")
                signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
                self.assertEqual(signature, 0xFEEF04BD)
                self.assertEqual([file_ms >> 16, file_ms & 0xFFFF, file_ls >> 16, file_ls & 0xFFFF], numbers)
                self.assertEqual((product_ms, product_ls), (file_ms, file_ls))
                [strings] = [table for name, _, tables in children if name == "StringFileInfo"
                             for table in tables]
                self.assertEqual(strings[0], "040904B0")
                values = {name: value for name, value, _ in strings[2]}
                program = os.path.basename(exe)
                self.assertEqual((values["ProductName"], values["FileVersion"], values["ProductVersion"],
                                  values["OriginalFilename"]), ("zenpo", VERSION, VERSION, program))
                self.assertRegex(values["FileDescription"], r"^[A-Z]\w+ .{10,}[^.]$")
                self.assertIn("the zenpo authors", values["LegalCopyright"])


if __name__ == "__main__":
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--version", required=True)
    parser.add_argument("exes", nargs="+")
    args, rest = parser.parse_known_args()
    EXES[:], VERSION = args.exes, args.version
    unittest.main(argv=[sys.argv[0]] + rest)
