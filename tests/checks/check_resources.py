#!/usr/bin/env python3
"""Checks what a release image carries, read from its PE headers and its
resource directory: no time stamp, the version block, the manifest, and for
the installer the four payloads, each exactly one zlib stream, where the
uninstaller has none. Prints every fault, then the image's size (the
installer's beside the size of its payload streams).

    check_resources.py EXE VERSION [REMOVAL_PROGRAM]

With REMOVAL_PROGRAM, the installer's payload 104 must be that file, byte
for byte (a signed release carries its signed uninstaller).

The file's name tells the program: qzv.ua.brq.uninstall.exe is the
uninstaller, any other name the installer (the tests build installers under
other names). A program checked as the other one fails on its names.
"""
import os
import struct
import sys
import xml.etree.ElementTree as ET
import zlib

RT_VERSION, RT_MANIFEST, RT_PAYLOAD = 16, 24, 1001
ENGLISH_US = 1033
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}
SIZE_AIM = 1.25 * 1024 * 1024  # bytes of code and data beside the streams

path, version = sys.argv[1], sys.argv[2]
carried = open(sys.argv[3], "rb").read() if len(sys.argv) > 3 else None
image = open(path, "rb").read()
faults = []
# The program's stem (qzv.ua.brq.STEM.exe), what it calls itself, and the
# payloads it carries.
if os.path.basename(path) == "qzv.ua.brq.uninstall.exe":
    stem, role, expected_payloads, level = "uninstall", "uninstaller", [], "requireAdministrator"
else:
    stem, role, expected_payloads, level = "install", "installer", [101, 102, 103, 104], "asInvoker"
description = f"qzv BRQ {role} {version}, 64-bit"


def u16(at):
    return struct.unpack_from("<H", image, at)[0]


def u32(at):
    return struct.unpack_from("<I", image, at)[0]


pe = u32(0x3C)
sections_count, optional_size = u16(pe + 6), u16(pe + 20)
if u32(pe + 8) != 0:
    faults.append(f"the PE header has a link time stamp ({u32(pe + 8):#x})")
optional = pe + 24
sections = []
for i in range(sections_count):
    at = optional + optional_size + 40 * i
    virtual_size, rva, raw_size, raw = struct.unpack_from("<IIII", image, at + 8)
    sections.append((rva, max(virtual_size, raw_size), raw))


def offset(rva):
    for start, size, raw in sections:
        if start <= rva < start + size:
            return raw + rva - start
    raise ValueError(f"RVA {rva:#x} is in no section")


# The resource directory: type, name, language, then the data.
resource_rva = u32(optional + 112 + 8 * 2)  # PE32+ data directory 2
root = offset(resource_rva)
resources = {}  # (type, name) -> {language: bytes}


def walk(directory, path):
    if u32(directory + 4) != 0:
        faults.append(f"resource directory {path or 'root'} has a time stamp")
    count = u16(directory + 12) + u16(directory + 14)
    for i in range(count):
        name, target = struct.unpack_from("<II", image, directory + 16 + 8 * i)
        key = path + (name if not name & 0x80000000 else f"named@{name & 0x7FFFFFFF:#x}",)
        if target & 0x80000000:
            walk(root + (target & 0x7FFFFFFF), key)
        else:
            data_rva, size = struct.unpack_from("<II", image, root + target)
            at = offset(data_rva)
            resources.setdefault(key[:2], {})[key[2]] = image[at:at + size]


walk(root, ())


def only_english(type_, name, what):
    languages = resources.get((type_, name), {})
    if list(languages) != [ENGLISH_US]:
        faults.append(f"{what}: languages {sorted(languages)}, expected [{ENGLISH_US}]")
    return languages.get(ENGLISH_US, b"")


# The version block: nodes of length, value length, type, key, value, children.
def version_nodes(block, at, end, path, out):
    while at + 6 <= end:
        length, value_length, text = struct.unpack_from("<HHH", block, at)
        if length == 0:
            break
        key_end = at + 6
        while block[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = block[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        value_size = value_length * 2 if text else value_length
        value = block[value_at:value_at + value_size]
        out[path + (key,)] = value.decode("utf-16-le").split("\0")[0] if text else value
        version_nodes(block, (value_at + value_size + 3) & ~3, at + length, path + (key,), out)
        at = (at + length + 3) & ~3


block = only_english(RT_VERSION, 1, "version block")
nodes = {}
version_nodes(block, 0, len(block), (), nodes)
fixed = nodes.get(("VS_VERSION_INFO",), b"")
if len(fixed) >= 24 and struct.unpack_from("<I", fixed)[0] == 0xFEEF04BD:
    file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIII", fixed, 8)
    for what, ms, ls in (("file", file_ms, file_ls), ("product", product_ms, product_ls)):
        dotted = f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
        if dotted != version:
            faults.append(f"fixed {what} version {dotted}, expected {version}")
else:
    faults.append("no fixed version information")
strings = {key[-1]: value for key, value in nodes.items()
           if key[:3] == ("VS_VERSION_INFO", "StringFileInfo", "040904b0") and len(key) == 4}
for key, expected in (("FileVersion", version), ("ProductVersion", version),
                      ("CompanyName", "Quorvanta"), ("ProductName", "QZV OPC UA"),
                      ("OriginalFilename", f"qzv.ua.brq.{stem}.exe"),
                      ("InternalName", f"qzv.ua.brq.{stem}"), ("FileDescription", description)):
    if strings.get(key) != expected:
        faults.append(f"version block {key}: {strings.get(key)!r}, expected {expected!r}")

# The manifest.
manifest = only_english(RT_MANIFEST, 1, "manifest")
try:
    xml = ET.fromstring(manifest)
    ns = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
          "c": "urn:schemas-microsoft-com:compatibility.v1"}
    identity = xml.find("v1:assemblyIdentity", ns)
    if identity is None or identity.get("version") != version:
        faults.append(f"manifest assemblyIdentity version is not {version}")
    if identity is None or identity.get("name") != f"Quorvanta.qzv.ua.brq.{stem}":
        faults.append(f"manifest assemblyIdentity name is not Quorvanta.qzv.ua.brq.{stem}")
    if xml.findtext("v1:description", None, ns) != description:
        faults.append(f"manifest description is not {description!r}")
    levels = [e.get("level") for e in xml.iterfind(".//v3:requestedExecutionLevel", ns)]
    if levels != [level]:
        faults.append(f"manifest execution level {levels}, expected [{level!r}]")
    oses = {e.get("Id") for e in xml.iterfind(".//c:supportedOS", ns)}
    if oses != set(SUPPORTED_OS):
        faults.append(f"manifest supported OS {sorted(oses)}, expected Windows 7 to 11")
except ET.ParseError as error:
    faults.append(f"manifest is not XML: {error}")

# The payloads.
payload_ids = sorted(name for type_, name in resources if type_ == RT_PAYLOAD)
if payload_ids != expected_payloads:
    faults.append(f"payload resources {payload_ids}, expected {expected_payloads}")
streams = 0
for name in payload_ids:
    stream = only_english(RT_PAYLOAD, name, f"payload {name}")
    streams += len(stream)
    inflater = zlib.decompressobj()
    try:
        program = inflater.decompress(stream)
        if not inflater.eof or inflater.unused_data or not program:
            faults.append(f"payload {name} is not exactly one zlib stream")
        elif name == 104 and carried is not None and program != carried:
            faults.append(f"payload 104 is not {sys.argv[3]}")
    except zlib.error as error:
        faults.append(f"payload {name} is not exactly one zlib stream ({error})")

for fault in faults:
    print(fault)
beside = len(image) - streams
if expected_payloads:
    print(f"size: image {len(image)} bytes, payload streams {streams} bytes, "
          f"{beside} bytes beside them ({beside / 1048576:.2f} MiB; aim: at most {SIZE_AIM / 1048576} MiB)")
else:
    print(f"size: image {len(image)} bytes")
sys.exit(1 if faults else 0)
