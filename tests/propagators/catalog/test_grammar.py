"""The fixed-column grammar: checksums, Alpha-5 numbers, and the first fault of a set with its
line, column, numbers and text."""

import pytest

from .kernel import L1, L2, put

# ---- checksum ---------------------------------------------------------------------------------

CHECKSUMS = [
    (L1, 7),
    (L2, 9),
    ("1" + " " * 67, 1),
    ("-" * 68, 8),  # each '-' counts 1
    ("+" * 30 + "." * 30 + "ABCDEFGH", 0),  # signs, points, letters count 0
    ("9" * 68, 2),  # 612
    ("9" * 68 + "5", 2),  # column 69 is not counted
    ("12345", 5),  # a short line counts what it has
]


@pytest.mark.parametrize(("line", "expected"), CHECKSUMS)
def test_checksum(kernel, line, expected):
    assert kernel.checksum(line.encode()) == expected


# ---- Alpha-5 ----------------------------------------------------------------------------------

ALPHA5 = [
    (b"00000", 0),
    (b"00005", 5),
    (b"    5", 5),
    (b"25544", 25544),
    (b"99999", 99999),
    (b"A0000", 100000),
    (b"A9999", 109999),
    (b"H0000", 170000),
    (b"J0000", 180000),
    (b"N9999", 229999),
    (b"P0000", 230000),
    (b"Z9999", 339999),
    (b"E1234", 141234),
]


@pytest.mark.parametrize(("field", "number"), ALPHA5)
def test_alpha5_both_ways(kernel, field, number):
    assert kernel.alpha5_decode(field) == (number, None)
    assert kernel.alpha5_encode(number) == field.replace(b" ", b"0")


@pytest.mark.parametrize(
    ("field", "column"),
    [
        (b"I0000", 1),
        (b"O1234", 1),
        (b"a1234", 1),
        (b"z9999", 1),  # I and O unused, capitals only
        (b"AB123", 2),
        (b"A 123", 2),
        (b"1A234", 2),
        (b"12 45", 3),
        (b"1234 ", 5),
        (b"     ", 5),
        (b" A123", 2),
        (b"-1234", 1),
        (b"+1234", 1),
        (b"1234.", 5),
    ],
)
def test_alpha5_refusals(kernel, field, column):
    assert kernel.alpha5_decode(field) == (None, column)


@pytest.mark.parametrize("number", [-1, 340000, 10**9])
def test_alpha5_encode_out_of_range(kernel, number):
    assert kernel.alpha5_encode(number) is None


def test_alpha5_every_letter_in_order(kernel):
    letters = "ABCDEFGHJKLMNPQRSTUVWXYZ"
    for value, letter in enumerate(letters, start=10):
        assert kernel.alpha5_decode(f"{letter}0042".encode()) == (value * 10000 + 42, None)


# ---- faults -----------------------------------------------------------------------------------

# (line, column, replacement, reason, reported column, found, expected); the checksum is put
# right after the change unless the case is about it.
FAULTS = [
    (1, 1, "7", "line_number", 1, ord("7"), 1),
    (2, 1, "1", "line_number", 1, ord("1"), 2),
    (1, 2, "1", "blank", 2, ord("1"), 0),
    (1, 3, "I", "satno", 3, 0, 0),
    (1, 6, "x", "satno", 6, 0, 0),
    (1, 8, "u", "classification", 8, 0, 0),
    (1, 9, "0", "blank", 9, ord("0"), 0),
    (1, 10, "X", "intldes", 10, 0, 0),
    (1, 15, "1", "intldes", 15, 0, 0),  # a piece must start with a letter
    (1, 16, " B", "intldes", 17, 0, 0),  # a letter after a blank
    (1, 18, "Z", "blank", 18, ord("Z"), 0),
    (1, 19, "2X", "epoch_year", 20, 0, 0),
    (1, 21, "1 0", "epoch_day", 22, 0, 0),  # blank after a digit
    (1, 24, ",", "epoch_day", 24, 0, 0),
    (1, 32, " ", "epoch_day", 32, 0, 0),
    (1, 21, "000", "epoch_day_range", 21, 0, 366),  # 2024 is a leap year
    (1, 21, "367", "epoch_day_range", 21, 367, 366),
    (1, 19, "23366", "epoch_day_range", 21, 366, 365),
    (1, 33, "0", "blank", 33, ord("0"), 0),
    (1, 34, "*", "ndot", 34, 0, 0),
    (1, 35, "0", "ndot", 35, 0, 0),
    (1, 43, " ", "ndot", 43, 0, 0),
    (1, 45, "X", "nddot", 45, 0, 0),
    (1, 51, " ", "nddot", 51, 0, 0),  # the exponent needs its sign
    (1, 52, "+", "nddot", 52, 0, 0),
    (1, 54, ".", "bstar", 54, 0, 0),
    (1, 58, " ", "bstar", 58, 0, 0),
    (1, 60, "0", "bstar", 60, 0, 0),
    (1, 63, "A", "ephemeris_type", 63, 0, 0),
    (1, 64, "1", "blank", 64, ord("1"), 0),
    (1, 65, "9 9", "element_number", 66, 0, 0),
    (1, 68, " ", "element_number", 68, 0, 0),
    (2, 3, "25545", "satno_mismatch", 3, 25545, 25544),
    (2, 3, "A5544", "satno_mismatch", 3, 105544, 25544),
    (2, 7, ".", "satno", 7, 0, 0),
    (2, 8, "0", "blank", 8, ord("0"), 0),
    (2, 9, "-", "inc", 9, 0, 0),
    (2, 12, ",", "inc", 12, 0, 0),
    (2, 11, " ", "inc", 11, 0, 0),  # the whole part needs a digit in its last column
    (2, 19, "+", "raa", 19, 0, 0),
    (2, 27, " ", "ecc", 27, 0, 0),  # no blanks in the eccentricity
    (2, 33, "e", "ecc", 33, 0, 0),
    (2, 38, "5", "arp", 38, 0, 0),
    (2, 48, "O", "mea", 48, 0, 0),
    (2, 53, "-1", "mnm", 53, 0, 0),
    (2, 55, "5", "mnm", 55, 0, 0),
    (2, 53, " 0.00000000", "mnm_not_positive", 53, 0, 0),
    (2, 53, "00.00000000", "mnm_not_positive", 53, 0, 0),
    (2, 64, "1 000", "revolution", 65, 0, 0),
    (2, 68, " ", "revolution", 68, 0, 0),
    (1, 30, "\t", "control_character", 30, 9, 0),
    (2, 60, "\x7f", "control_character", 60, 127, 0),
    (2, 5, "\x00", "control_character", 5, 0, 0),
    (1, 69, "X", "checksum_character", 69, ord("X"), 0),
]


def _damaged(line, col, text, resum=True):
    lines = {1: L1, 2: L2}
    lines[line] = put(lines[line], col, text, resum=resum and col != 69)
    return lines[1].encode("latin-1"), lines[2].encode("latin-1")


@pytest.mark.parametrize(("line", "col", "text", "reason", "column", "found", "expected"), FAULTS)
def test_fault_reason_and_column(both_kernels, line, col, text, reason, column, found, expected):
    l1, l2 = _damaged(line, col, text)
    assert both_kernels.parse(l1, l2)[0] == (reason, line, column, found, expected)


@pytest.mark.parametrize(
    ("l1", "l2", "fault"),
    [
        (L1[:68] + "0", L2, ("checksum", 1, 69, 0, 7)),
        (L1, L2[:68] + "7", ("checksum", 2, 69, 7, 9)),
        (L1[:67], L2, ("length", 1, 68, 67, 69)),
        (L1 + "0", L2, ("length", 1, 70, 70, 69)),
        (L1, L2 + "  X", ("length", 2, 70, 72, 69)),
        (" " + L1, L2, ("line_number", 1, 1, ord(" "), 1)),
        ("", L2, ("line_number", 1, 1, ord(" "), 1)),
        (L1.replace("98067A", "98067\u00e9"), L2, ("non_ascii", 1, 15, 0xC3, 0)),
        (None, L2, ("missing_line1", 2, 1, 0, 0)),
        (L1, None, ("missing_line2", 1, 1, 0, 0)),
    ],
)
def test_whole_line_faults(both_kernels, l1, l2, fault):
    def enc(s):
        return None if s is None else s.encode()

    assert both_kernels.parse(enc(l1), enc(l2))[0] == fault


def test_first_fault_in_order(kernel):
    # Characters before the line number, the length and the fields; fields before the
    # checksum; line 1 before line 2; a missing line before all of them.
    cases = [
        (put(put(L1, 1, "3"), 30, "\x01"), L2, "control_character"),
        (put(L1, 1, "3")[:60], L2, "line_number"),
        (put(L1, 19, "XX")[:60], L2, "length"),
        (put(L1, 19, "XX", resum=False), L2, "epoch_year"),
        (L1[:68] + "1", put(L2, 9, "X"), "checksum"),
        (put(L1, 8, "8"), put(L2, 1, "3"), "classification"),
        (put(L1, 8, "8"), None, "missing_line2"),
    ]
    for l1, l2, reason in cases:
        got = kernel.parse(l1.encode(), None if l2 is None else l2.encode())[0]
        assert got[0] == reason, (l1, l2, got)


def test_checksums_off_accepts_wrong_digit_only(kernel):
    wrong = (L1[:68] + "0").encode(), (L2[:68] + "0").encode()
    assert kernel.parse(*wrong)[0][0] == "checksum"
    (reason, *_), fields = kernel.parse(*wrong, checksums=False)
    assert reason == "none" and fields.satno == 25544
    assert (
        kernel.parse((L1[:68] + "X").encode(), L2.encode(), checksums=False)[0][0]
        == "checksum_character"
    )


def test_accepted_variants_of_the_form(kernel):
    # Blanks for leading zeros where the form allows them, zeros where it shows blanks, and
    # signs the format allows.
    variants = [
        (put(L1, 3, "    5"), put(L2, 3, "00005")),
        (put(L1, 10, "        "), L2),  # no designator
        (put(L1, 15, "ABC"), L2),
        (put(L1, 21, "  1"), L2),
        (put(L1, 34, "+"), L2),
        (put(put(L1, 45, "+12345+9"), 54, "-99999-9"), L2),
        (L1, put(put(L2, 9, "051.6400"), 53, "01.00270000")),
        (L1, put(put(L2, 9, "  0.0000"), 64, "    0")),
    ]
    for l1, l2 in variants:
        assert kernel.parse(l1.encode(), l2.encode())[0][0] == "none", (l1, l2)


# ---- texts ------------------------------------------------------------------------------------


@pytest.mark.parametrize(
    ("fault", "text"),
    [
        (("checksum", 2, 69, 7, 3), "line 2 checksum is 7, computed 3"),
        (("length", 1, 68, 67, 69), "line 1 has 67 characters, expected 69"),
        (("line_number", 2, 1, ord("3"), 2), "line 2 column 1: line number is '3', expected 2"),
        (("control_character", 1, 30, 9, 0), "line 1 column 30: control character 0x09"),
        (("non_ascii", 2, 15, 0xC3, 0), "line 2 column 15: byte 0xC3 is not ASCII"),
        (
            ("satno_mismatch", 2, 3, 25545, 25544),
            "line 2 catalogue number is 25545, line 1 has 25544",
        ),
        (
            ("epoch_day_range", 1, 21, 366, 365),
            "line 1 epoch day 366 is not in 1-365, the days of its year",
        ),
        (("inc", 2, 12, 0, 0), "line 2 column 12: inclination is not NNN.NNNN"),
        (("missing_line2", 1, 1, 0, 0), "line 1 without its line 2"),
        (("blank", 1, 33, ord("0"), 0), "line 1 column 33: '0' where a blank belongs"),
    ],
)
def test_fault_text(kernel, fault, text):
    assert kernel.fault_text(*fault) == text


def test_every_reason_has_a_text_naming_its_line(kernel):
    for reason in kernel.reasons[1:]:
        text = kernel.fault_text(reason, 2, 9, 1, 2)
        assert text.startswith(("line 1 ", "line 2 ")), reason
        assert "{" not in text, reason
