"""Splitting text into sets: names, blank lines, line ends, missing and damaged lines, and the
line number of every line."""

from itertools import pairwise

import pytest

from .kernel import L1, L2, put

M1 = put(put(L1, 3, "A0042"), 19, "23001.25000000")
M2 = put(L2, 3, "A0042")


def sets_of(kernel, text: str):
    """Per set (name, line 1, line 2), each as (text, line number) or None."""
    return [
        tuple(None if p is None else (p[0].decode("latin-1"), p[1]) for p in s)
        for s in kernel.split(text.encode("latin-1"))
    ]


@pytest.mark.parametrize(
    ("text", "expected"),
    [
        # two-line text
        (f"{L1}\n{L2}\n{M1}\n{M2}\n", [(None, (L1, 1), (L2, 2)), (None, (M1, 3), (M2, 4))]),
        # names padded to 24 columns, CRLF, no final line end
        (
            f"ISS (ZARYA)             \r\n{L1}\r\n{L2}\r\nOBJECT A\r\n{M1}\r\n{M2}",
            [(("ISS (ZARYA)", 1), (L1, 2), (L2, 3)), (("OBJECT A", 4), (M1, 5), (M2, 6))],
        ),
        # "0 NAME" lines; blank lines and white space anywhere between sets
        (
            f"0 ISS (ZARYA)\n\n  \n{L1}  \n\t\n{L2}\n\n0 1 NAME\n{M1}\n{M2}\n\n",
            [(("ISS (ZARYA)", 1), (L1, 4), (L2, 6)), (("1 NAME", 8), (M1, 9), (M2, 10))],
        ),
        # a line 1 without its line 2, followed by a set, in two- and three-line text
        (f"{L1}\n{M1}\n{M2}\n", [(None, (L1, 1), None), (None, (M1, 2), (M2, 3))]),
        (f"A\n{L1}\nB\n{M1}\n{M2}\n", [(("A", 1), (L1, 2), None), (("B", 3), (M1, 4), (M2, 5))]),
        (f"A\n{L1}\n", [(("A", 1), (L1, 2), None)]),
        # a line 2 without its line 1 is a set of its own, with the name before it
        (f"A\n{L2}\nB\n{M1}\n{M2}\n", [(("A", 1), None, (L2, 2)), (("B", 3), (M1, 4), (M2, 5))]),
        (f"{L1}\n{L2}\n{M2}\n", [(None, (L1, 1), (L2, 2)), (None, None, (M2, 3))]),
        # damaged line numbers leave the lines in place: the columns of the points decide
        (
            f"N\n{put(L1, 1, 'X')}\n{put(L2, 1, '1')}\n",
            [(("N", 1), (put(L1, 1, "X"), 2), (put(L2, 1, "1"), 3))],
        ),
        (
            f"{put(L1, 1, '2')}\n{put(L2, 1, '3')}\n",
            [(None, (put(L1, 1, "2"), 1), (put(L2, 1, "3"), 2))],
        ),
        # a shifted line is still taken for what its first character says
        (f" {L1}\n {L2}\n", [(None, (" " + L1, 1), (" " + L2, 2))]),
        # short lines are names, a name replaces an unused one, a trailing name makes no set
        (f"1 HAM SAT\n2 NAMES\n{L1}\n{L2}\nLAST\n", [(("2 NAMES", 2), (L1, 3), (L2, 4))]),
        # a byte-order mark at the start is no part of the first line
        (f"\ufeff{L1}\n{L2}\n".encode().decode("latin-1"), [(None, (L1, 1), (L2, 2))]),
        ("", []),
        ("\n\n \r\n", []),
    ],
)
def test_split(kernel, text, expected):
    assert sets_of(kernel, text) == expected


def test_split_then_read_reports_the_missing_lines(kernel):
    text = f"A\n{L1}\nB\n{L2}\n{M1}\n{M2}\n".encode()
    rows = kernel.read(text)
    assert [(r[0][:3], r[1], r[2]) for r in rows] == [
        (("missing_line2", 1, 1), 1, 2),
        (("missing_line1", 2, 1), 3, 4),
        (("none", 0, 0), 5, 0),
    ]
    assert rows[2][3].satno == 100042


def test_chunks_split_as_the_whole(kernel, generator):
    # Cut at split points after arbitrary offsets, each chunk numbered from the lines before
    # it: the chunks give the sets of the whole text, damaged ones included.
    text, _ = generator.make_catalog(600, seed=41, form="3le", damage=200, blank_share=0.1)
    text = text.replace(b"\n", b"\r\n", 700)
    whole = kernel.split(text)
    for step in (1, 97, 1000, 5003):
        cuts, at = [0], 0
        while at < len(text):
            at = kernel.split_point(text, at + step)
            cuts.append(at)
        chunks = []
        for begin, end in pairwise(cuts):
            first = kernel.count_newlines(text[:begin]) + 1
            chunks += kernel.split(text, begin, first, end)
        assert chunks == whole, step


@pytest.mark.parametrize(
    ("text", "start", "cut"),
    [
        (f"{L1}\n{L2}\n{M1}\n{M2}\n", 0, 140),  # after the first line 2
        (f"{L1}\n{L2}\n{M1}\n{M2}\n", 1, 140),  # from the next line on
        (f"{L1}\n{L2}\n{M1}\n{M2}\n", 71, 280),
        (f"{L1}\n{L2}\n{M1}\n{M2}\n", 140, 280),
        (f"{L1}\n{L2}\n{M1}\n{M2}", 141, 279),  # no final line end
        (f"{L1}\n{L2}\n{M1}\n", 140, 210),  # none left: the end
        (f"{L1}\n{L2}\n", 500, 140),
    ],
)
def test_split_point(kernel, text, start, cut):
    assert kernel.split_point(text.encode(), start) == cut
