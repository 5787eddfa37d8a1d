#!/usr/bin/env python3
"""The type library help-string step on widl's real output (its path in VANDREL_WIDL_TLB).

Reading the strings back through oleaut32 is the control's module test; these cases check what
that test cannot see: refused annotations fail the build, and the file stays consistent when the
step runs on a library that already carries help fields.
"""

import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "typelib"))
import add_property_help as tool  # noqa: E402

HELP = {"_DVandrel": [(1, "Interval", "Time Interval"), (2, "Address", "Status Address"),
                      (6, "ChannelNumber", "Chanel Count")]}


def read_string(lib, offset):
    at = lib.segment(tool.SEG_STRINGS)[0] + offset
    length = struct.unpack_from("<H", lib.data, at)[0]
    return lib.data[at + 2:at + 2 + length].decode("latin-1")


def var_records(lib, iface):
    """{memid: (record size, help string or None)} of the interface's variables."""
    ti = lib.find_typeinfo(iface)
    block = tool.i32(lib.data, ti + 4)
    elements = tool.i32(lib.data, ti + 0x18)
    funcs, total = elements & 0xFFFF, (elements & 0xFFFF) + (elements >> 16)
    tables = block + 4 + tool.i32(lib.data, block)
    out = {}
    for k in range(funcs, total):
        memid = tool.i32(lib.data, tables + 4 * k)
        at = block + 4 + tool.i32(lib.data, tables + 4 * (2 * total + k))
        size = struct.unpack_from("<H", lib.data, at)[0]
        help_text = read_string(lib, tool.i32(lib.data, at + tool.VAR_HELPSTRING_AT)) if size > 0x18 else None
        out[memid] = (size, help_text)
    return out


class AddPropertyHelp(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(os.environ["VANDREL_WIDL_TLB"], "rb") as f:
            cls.widl = f.read()

    def test_adds_each_string_once_and_leaves_the_rest_readable(self):
        once = tool.TypeLib(tool.add_property_help(self.widl, HELP))
        self.assertEqual({1: (0x1C, "Time Interval"), 2: (0x1C, "Status Address"), 6: (0x1C, "Chanel Count")},
                         var_records(once, "_DVandrel"))
        # Again on its own output: records keep their size, the strings point at the new copies.
        twice = tool.TypeLib(tool.add_property_help(bytes(once.data), HELP))
        self.assertEqual(var_records(once, "_DVandrel"), var_records(twice, "_DVandrel"))
        # What came after the string table moved as a whole: the other types still resolve.
        for lib in (once, twice):
            for name in ("_DVandrelEvents", "Vandrel"):
                lib.find_typeinfo(name)

    def test_without_annotations_the_library_is_unchanged(self):
        self.assertEqual(self.widl, tool.add_property_help(self.widl, {}))

    def test_refuses_annotations_that_do_not_match_the_library(self):
        cases = {
            "unknown id": {"_DVandrel": [(7, "Interval", "x")]},
            "method id": {"_DVandrel": [(3, "GetChnlValue", "x")]},
            "other name": {"_DVandrel": [(1, "Address", "x")]},
            "not a dispinterface": {"Vandrel": [(1, "Interval", "x")]},
            "unknown type": {"_DOther": [(1, "Interval", "x")]},
        }
        for name, help_by_iface in cases.items():
            with self.subTest(name), self.assertRaises(tool.TypeLibError):
                tool.add_property_help(self.widl, help_by_iface)
        with self.assertRaises(tool.TypeLibError):
            tool.add_property_help(b"SLTG" + self.widl[4:], HELP)

    def test_takes_helpstring_comments_after_dispinterface_properties_only(self):
        good = """
            dispinterface _DOne {
            properties:
                [id(1)] long Interval;          // helpstring("Time Interval")
                [id(2)] long Address;
            methods:
                [id(3), helpstring("Read Data")] short GetChnlValue(long nChnlIndex);
            };
        """
        self.assertEqual({"_DOne": [(1, "Interval", "Time Interval")]}, tool.idl_property_help(good))
        misplaced = {
            "method": good.replace("GetChnlValue(long nChnlIndex);", 'GetChnlValue(long n); // helpstring("x")'),
            "interface": 'interface IPlain : IUnknown {\n    [id(1)] long Interval; // helpstring("x")\n};',
            "after the interface": good + '\ncoclass C {\n    [id(1)] long Interval; // helpstring("x")\n};',
        }
        for name, idl in misplaced.items():
            with self.subTest(name), self.assertRaises(tool.TypeLibError):
                tool.idl_property_help(idl)


if __name__ == "__main__":
    unittest.main()
