#!/usr/bin/env python3
"""Adds help strings to the properties of dispatch interfaces in a type library built by widl.

widl refuses `helpstring` on a property of a dispinterface, yet object browsers show one for each
property. The IDL therefore writes it as a comment after the property:

    [id(1)] long Interval;  // helpstring("Time Interval")

and this step, run by the build after widl, writes those strings into the binary library: each
string is appended to the library's string table and the property's variable record grows by the
two optional fields it lacks (help context 0, help string offset). Everything else keeps its
bytes; what moves is re-pointed. The property stays a VARDESC of the same interface.

Python because it runs on the build machine before anything Windows-side exists: a host tool
would need a host compiler the cross build does not otherwise use, and a Windows tool would need
a Wine of the library's bitness (a 32-bit one cannot run on every build machine). python3 is part
of every Debian system we build on.

Usage: add_property_help.py IDL IN.tlb OUT.tlb
"""

import re
import struct
import sys

MAGIC = 0x5446534D  # "MSFT"
HEADER_SIZE = 0x54
HELPDLL_FLAG = 0x100
SEGMENT_COUNT = 15
SEG_TYPEINFO, SEG_NAMES, SEG_STRINGS = 0, 7, 8
TYPEINFO_SIZE = 0x64
TKIND_DISPATCH = 4
# A variable record starts with its size (low word); the fixed part is 0x14 bytes, followed by the
# optional fields in this order: help context, help string offset, ...
VAR_FIXED_SIZE = 0x14
VAR_HELPCONTEXT_AT = 0x14
VAR_HELPSTRING_AT = 0x18


class TypeLibError(Exception):
    pass


def i32(data, at):
    return struct.unpack_from("<i", data, at)[0]


def put_i32(data, at, value):
    struct.pack_into("<i", data, at, value)


def idl_property_help(idl_text):
    """{dispinterface: [(memid, property name, help string)]} from the IDL's helpstring comments.

    A helpstring comment anywhere but after a dispinterface property is refused rather than
    dropped, so that a misplaced one cannot go unnoticed."""
    found = {}
    iface, in_properties = None, False
    for number, line in enumerate(idl_text.splitlines(), 1):
        m = re.match(r"\s*(dispinterface|interface|coclass|library|struct|union|enum|module)\s+(\w+)", line)
        if m:
            iface = m.group(2) if m.group(1) == "dispinterface" else None
            in_properties = False
            continue
        if re.match(r"\s*(properties|methods)\s*:", line):
            in_properties = line.strip().startswith("properties")
            continue
        if not re.search(r"//\s*helpstring\(", line):
            continue
        m = re.match(r'\s*\[id\((\d+)\)\]\s*\w+\s+(\w+)\s*;\s*//\s*helpstring\("([^"]*)"\)\s*$', line)
        if not (m and iface and in_properties):
            raise TypeLibError("line %d: a helpstring comment belongs after a dispinterface property" % number)
        found.setdefault(iface, []).append((int(m.group(1)), m.group(2), m.group(3)))
    return found


def encode_string(text):
    """A string-table entry: 16-bit length, the characters, padded with 'W' to a 4-byte boundary."""
    raw = text.encode("latin-1")
    entry = struct.pack("<H", len(raw)) + raw
    return entry + b"W" * (-len(entry) % 4)


class TypeLib:
    def __init__(self, data):
        self.data = bytearray(data)
        if len(data) < HEADER_SIZE or i32(data, 0) != MAGIC:
            raise TypeLibError("not an MSFT type library")
        self.count = i32(data, 0x20)
        at = HEADER_SIZE + (4 if i32(data, 0x14) & HELPDLL_FLAG else 0) + 4 * self.count
        self.segdir = at

    def segment(self, index):
        at = self.segdir + 16 * index
        return i32(self.data, at), i32(self.data, at + 4)

    def typeinfo(self, index):
        return self.segment(SEG_TYPEINFO)[0] + TYPEINFO_SIZE * index

    def name(self, offset):
        # A name-table entry: hash link, next, then the length in the low byte, then the text.
        at = self.segment(SEG_NAMES)[0] + offset
        length = self.data[at + 8]
        return self.data[at + 12 : at + 12 + length].decode("latin-1")

    def find_typeinfo(self, name):
        for index in range(self.count):
            ti = self.typeinfo(index)
            if self.name(i32(self.data, ti + 0x34)) == name:
                return ti
        raise TypeLibError("no type named " + name)


def add_property_help(data, help_by_iface):
    lib = TypeLib(data)
    for iface, members in help_by_iface.items():
        ti = lib.find_typeinfo(iface)
        if i32(lib.data, ti) & 0xF != TKIND_DISPATCH:
            raise TypeLibError(iface + " is not a dispatch interface")
        lib = TypeLib(_with_help(lib, ti, iface, members))
    return bytes(lib.data)


def _with_help(lib, ti, iface, members):
    data = lib.data
    strings_at, strings_len = lib.segment(SEG_STRINGS)
    strings_end = strings_at + strings_len
    block = i32(data, ti + 4)
    elements = i32(data, ti + 0x18)
    funcs, vars_ = elements & 0xFFFF, (elements >> 16) & 0xFFFF
    total = funcs + vars_
    if block < strings_end:
        raise TypeLibError("member records lie before the string table")

    # The member block: record length, the records (functions, then variables), then per member
    # its id, its name offset and its record offset (relative to the first record).
    records_len = i32(data, block)
    records = block + 4
    tables = records + records_len
    block_end = tables + 12 * total
    ids = [i32(data, tables + 4 * k) for k in range(total)]
    names = [i32(data, tables + 4 * (total + k)) for k in range(total)]
    offsets = [i32(data, tables + 4 * (2 * total + k)) for k in range(total)]
    if sorted(offsets) != offsets or offsets[0] != 0:
        raise TypeLibError(iface + ": member records out of order")

    new_strings = bytearray()
    help_offset = {}
    for memid, prop, text in members:
        if memid not in ids[funcs:]:
            raise TypeLibError("%s has no property with id %d" % (iface, memid))
        k = ids.index(memid, funcs)
        if lib.name(names[k]) != prop:
            raise TypeLibError("%s id %d is %s, not %s" % (iface, memid, lib.name(names[k]), prop))
        help_offset[k] = strings_len + len(new_strings)
        new_strings += encode_string(text)

    # Rebuild the records, variables with help growing to hold the help string field.
    new_records = bytearray()
    new_offsets = []
    for k in range(total):
        start = records + offsets[k]
        size = struct.unpack_from("<H", data, start)[0]
        record = bytearray(data[start : start + size])
        if k in help_offset:
            if size < VAR_FIXED_SIZE:
                raise TypeLibError("%s id %d: short variable record" % (iface, ids[k]))
            if size < VAR_HELPSTRING_AT + 4:
                record += struct.pack("<i", 0) * ((VAR_HELPSTRING_AT + 4 - size) // 4)
                struct.pack_into("<H", record, 0, len(record))
            put_i32(record, VAR_HELPSTRING_AT, help_offset[k])
        new_offsets.append(len(new_records))
        new_records += record
    new_block = struct.pack("<i", len(new_records)) + new_records
    new_block += struct.pack("<%di" % (3 * total), *(ids + names + new_offsets))

    grow_strings = len(new_strings)
    grow_block = len(new_block) - (block_end - block)
    out = bytearray(data[:strings_end]) + new_strings + data[strings_end:block] + new_block + data[block_end:]

    # Re-point what moved: segments after the string table, and the member blocks (absolute file
    # offsets; an empty type's points at the end of the file).
    lib_out = TypeLib(out)
    put_i32(out, lib_out.segdir + 16 * SEG_STRINGS + 4, strings_len + grow_strings)
    for index in range(SEGMENT_COUNT):
        at = lib_out.segdir + 16 * index
        if index != SEG_STRINGS and i32(out, at) >= strings_end:
            put_i32(out, at, i32(out, at) + grow_strings)
    for index in range(lib_out.count):
        at = lib_out.typeinfo(index) + 4
        old = i32(out, at)
        if old >= strings_end:
            put_i32(out, at, old + grow_strings + (grow_block if old > block else 0))
    return out


def main(argv):
    if len(argv) != 4:
        sys.stderr.write(__doc__)
        return 2
    idl, source, target = argv[1:]
    try:
        with open(idl, encoding="utf-8") as f:
            help_by_iface = idl_property_help(f.read())
        with open(source, "rb") as f:
            data = f.read()
        out = add_property_help(data, help_by_iface)
    except (OSError, TypeLibError, struct.error, UnicodeError) as e:
        sys.stderr.write("add_property_help: %s\n" % e)
        return 1
    with open(target, "wb") as f:
        f.write(out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
