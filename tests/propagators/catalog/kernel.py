"""ctypes view of the element-set kernels through the test-only shim (shim.cpp), compiled with
the project's flags, and helpers that build lines with correct checksums."""

import ctypes
import subprocess
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parents[2]
FLAGS = ["-std=c++20", "-O2", "-ffp-contract=off", "-fno-fast-math", "-shared", "-fPIC"]

I32, I64, F64, SIZE = ctypes.c_int32, ctypes.c_int64, ctypes.c_double, ctypes.c_size_t
DOUBLES = ("ndot", "nddot", "bstar", "inc", "raa", "ecc", "arp", "mea", "mnm")


class Fields(ctypes.Structure):
    _fields_ = (
        [("satno", I64), ("epoch_ns", I64)]
        + [
            (n, I32)
            for n in (
                "epoch_year",
                "epoch_day",
                "epoch_fraction",
                "ephemeris_type",
                "element_number",
                "revolution",
            )
        ]
        + [(n, F64) for n in DOUBLES]
        + [("classification", ctypes.c_char), ("intldes", ctypes.c_char * 9)]
    )

    def values(self):
        """Every field, doubles as their bit patterns (so -0.0 and 0.0 differ)."""
        out = {name: getattr(self, name) for name, _ in self._fields_}
        out["intldes"] = bytes(self.intldes).rstrip(b"\0")
        for n in DOUBLES:
            out[n] = F64(out[n]).value.hex()
        return out


class Fault(ctypes.Structure):
    _fields_ = [
        ("reason", ctypes.c_uint8),
        ("line", ctypes.c_uint8),
        ("column", I32),
        ("found", I64),
        ("expected", I64),
    ]


def build(out: Path, *defines: str) -> Path:
    subprocess.run(
        [
            "c++",
            *FLAGS,
            *defines,
            "-I",
            str(ROOT / "native"),
            str(HERE / "shim.cpp"),
            "-o",
            str(out),
        ],
        check=True,
    )
    return out


class Kernel:
    def __init__(self, path):
        lib = self.lib = ctypes.CDLL(str(path))
        P, C = ctypes.c_void_p, ctypes.c_char_p
        for name, res, args in (
            ("cat_sizeof_fields", SIZE, []),
            ("cat_sizeof_fault", SIZE, []),
            ("cat_reason_count", ctypes.c_int, []),
            ("cat_reason_name", C, [ctypes.c_int]),
            ("cat_checksum", ctypes.c_int, [C, SIZE]),
            ("cat_alpha5_decode", ctypes.c_int, [C, ctypes.POINTER(I64)]),
            ("cat_alpha5_encode", ctypes.c_int, [I64, C]),
            ("cat_parse", None, [C, SIZE, C, SIZE, ctypes.c_int, P, P]),
            ("cat_parse_exact", None, [C, SIZE, C, SIZE, ctypes.c_int, P, P]),
            ("cat_reread", ctypes.c_int, [C, C, P]),
            ("cat_fault_text", SIZE, [P, C, SIZE]),
            ("cat_format", ctypes.c_int, [P, C, C]),
            ("cat_normalise", SIZE, [C, SIZE, C]),
            ("cat_split", SIZE, [C, SIZE, P, SIZE]),
            ("cat_split_from", SIZE, [C, SIZE, SIZE, I64, P, SIZE]),
            ("cat_split_point", SIZE, [C, SIZE, SIZE]),
            ("cat_count_newlines", I64, [C, SIZE]),
            ("cat_read", SIZE, [C, SIZE, ctypes.c_int, P, P, P, P, SIZE]),
            ("cat_derive", None, [P, F64, F64, P]),
            ("cat_tle_line2", None, [C, SIZE, P]),
            ("cat_time_read", F64, [C, SIZE, ctypes.c_int, ctypes.c_int, P]),
        ):
            fn = getattr(lib, name)
            fn.restype, fn.argtypes = res, args
        assert lib.cat_sizeof_fields() == ctypes.sizeof(Fields)
        assert lib.cat_sizeof_fault() == ctypes.sizeof(Fault)
        self.reasons = [lib.cat_reason_name(i).decode() for i in range(lib.cat_reason_count())]

    def checksum(self, line: bytes) -> int:
        return self.lib.cat_checksum(line, len(line))

    def alpha5_decode(self, field: bytes):
        """(number, None) or (None, 1-based column of the first bad character)."""
        value = I64(-1)
        bad = self.lib.cat_alpha5_decode(field, ctypes.byref(value))
        return (value.value, None) if bad == -1 else (None, bad + 1)

    def alpha5_encode(self, n: int):
        out = ctypes.create_string_buffer(6)
        return out.raw[:5] if self.lib.cat_alpha5_encode(n, out) else None

    def parse(self, l1, l2, checksums=True, exact=False):
        """(reason name, line, column, found, expected), Fields."""
        fields, fault = Fields(), Fault()
        fn = self.lib.cat_parse_exact if exact else self.lib.cat_parse
        fn(
            l1,
            len(l1 or b""),
            l2,
            len(l2 or b""),
            int(checksums),
            ctypes.byref(fields),
            ctypes.byref(fault),
        )
        return self.describe(fault), fields

    def reread(self, l1: bytes, l2: bytes):
        """(whether the keys read, Fields) of two 69-column lines read without form checks."""
        assert len(l1) == len(l2) == 69
        fields = Fields()
        return bool(self.lib.cat_reread(l1, l2, ctypes.byref(fields))), fields

    def describe(self, fault):
        return (self.reasons[fault.reason], fault.line, fault.column, fault.found, fault.expected)

    def fault_text(self, reason, line, column, found=0, expected=0) -> str:
        fault = Fault(self.reasons.index(reason), line, column, found, expected)
        out = ctypes.create_string_buffer(200)
        n = self.lib.cat_fault_text(ctypes.byref(fault), out, 200)
        return out.value.decode("latin-1") if n < 200 else None

    def format(self, fields):
        a, b = ctypes.create_string_buffer(70), ctypes.create_string_buffer(70)
        reason = self.lib.cat_format(ctypes.byref(fields), a, b)
        return self.reasons[reason], a.value, b.value

    def normalise(self, line: bytes) -> bytes:
        out = ctypes.create_string_buffer(70)
        n = self.lib.cat_normalise(line, len(line), out)
        assert out.raw[n:] == bytes(70 - n)
        return out.raw[:n]

    def split(self, data: bytes, begin=0, first_line=1, end=None):
        """Per set of data[begin:end] (whose first line has number `first_line`): (name, line1,
        line2), each (text, line number) or None."""
        end = len(data) if end is None else end
        n = self.lib.cat_split_from(data, end, begin, first_line, None, 0)
        raw = (I64 * (9 * n))()
        self.lib.cat_split_from(data, end, begin, first_line, raw, n)
        sets = []
        for i in range(n):
            parts = []
            for k in range(3):
                off, size, number = raw[9 * i + 3 * k : 9 * i + 3 * k + 3]
                parts.append(None if off < 0 else (data[off : off + size], number))
            sets.append(tuple(parts))
        return sets

    def split_point(self, data: bytes, start: int) -> int:
        return self.lib.cat_split_point(data, len(data), start)

    def count_newlines(self, data: bytes) -> int:
        return self.lib.cat_count_newlines(data, len(data))

    def read(self, data: bytes, checksums=True):
        """Per set: (fault description, first line, line of the fault or 0, Fields)."""
        n = self.lib.cat_split(data, len(data), None, 0)
        rows, faults = (Fields * n)(), (Fault * n)()
        first, where = (I64 * n)(), (I64 * n)()
        self.lib.cat_read(data, len(data), int(checksums), rows, faults, first, where, n)
        return [(self.describe(faults[i]), first[i], where[i], rows[i]) for i in range(n)]

    def derive(self, fields, gm, re):
        out = (F64 * 6)()
        self.lib.cat_derive(ctypes.byref(fields), gm, re, out)
        return list(out)

    def tle_line2(self, line: bytes):
        """TLE's own field conversions of line 2: degrees, eccentricity, rev/day."""
        out = (F64 * 6)()
        self.lib.cat_tle_line2(line, len(line), out)
        return list(out)

    def time_read(self, data: bytes, stage: int, repeats: int):
        """Least CPU ns per set over `repeats` runs, the number of sets and of refused sets."""
        counts = (I64 * 2)()
        ns = self.lib.cat_time_read(data, len(data), stage, repeats, counts)
        return ns, counts[0], counts[1]


# ---- lines ------------------------------------------------------------------------------------


def checksum(line: str) -> int:
    """Modulo-10 checksum of the first 68 columns, written out independently of the kernel."""
    return sum(int(c) if c.isdigit() else c == "-" for c in line[:68]) % 10


def summed(line: str) -> str:
    """The line's first 68 columns with their checksum in column 69."""
    return line[:68] + str(checksum(line))


def put(line: str, col: int, text: str, resum=True) -> str:
    """`text` written from 1-based column `col`; the checksum put right unless told not to."""
    out = line[: col - 1] + text + line[col - 1 + len(text) :]
    return summed(out) if resum and len(out) >= 68 else out


L1 = summed("1 25544U 98067A   24100.50000000  .00016717  00000-0  10270-3 0  999 ")
L2 = summed("2 25544  51.6400 208.9163 0006703  69.9862  25.2906 15.50000000 1000 ")
