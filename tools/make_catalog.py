#!/usr/bin/env python3
"""Writes realistic two-line element files for tests and benchmarks of the catalogue reader.

Sets of many satellites (near-Earth and deep-space orbits, several sets per satellite at
increasing epochs, a share of Alpha-5 catalogue numbers), with names (three-line text, or
"0 NAME" lines) or without, valid checksums, and optionally damaged sets with one known fault
each. The damaged sets are listed in a JSON manifest beside the file: kind of damage, the
reason a validating reader must give, the set's line (1 or 2), the column and the line of the
file. Deterministic for a seed; NumPy does the column work, so 10^6 sets take seconds.

    python tools/make_catalog.py out.tle --sets 1000000 --damage 1000 --seed 7
"""

import argparse
import json
import sys
from dataclasses import dataclass
from pathlib import Path

import numpy as np

ALPHA5_LETTERS = "ABCDEFGHJKLMNPQRSTUVWXYZ"  # values 10 to 33; I and O are not used
SPACE, ZERO = ord(" "), ord("0")
DAY_UNITS = 100_000_000  # the eight digits after the point of the epoch day

# Separator columns (1-based) that must hold blanks.
BLANKS = {1: (2, 9, 18, 33, 44, 53, 62, 64), 2: (2, 8, 17, 26, 34, 43, 52)}


@dataclass(frozen=True)
class Damage:
    """One damaged set: what was done, the reason a reader reports, where, and on which line of
    the file."""

    set: int
    kind: str
    reason: str
    line: int
    column: int
    file_line: int = 0


# ---- column writing ---------------------------------------------------------------------------


def put_number(mat, col, width, values, fill=" "):
    """Writes non-negative integers right-aligned into 1-based columns col..col+width-1 of every
    row; `fill` pads the leading positions (blank or zero), the last position is always a digit."""
    values = np.asarray(values, dtype=np.int64)
    for k in range(width):
        place = 10 ** (width - 1 - k)
        digit = (values // place) % 10 + ZERO
        if fill == " " and k < width - 1:
            digit = np.where(values < place, SPACE, digit)
        mat[:, col - 1 + k] = digit


def put_text(mat, col, texts):
    """Writes fixed-width byte strings (a NumPy 'S' array) from column col."""
    width = texts.dtype.itemsize
    mat[:, col - 1 : col - 1 + width] = np.frombuffer(texts.tobytes(), np.uint8).reshape(-1, width)


def checksums(mat):
    """Modulo-10 checksum of the first 68 columns of every row: digits count their value, '-' 1."""
    body = mat[:, :68].astype(np.int64)
    digit = body - ZERO
    score = np.where((digit >= 0) & (digit <= 9), digit, 0) + (body == ord("-"))
    return score.sum(axis=1) % 10


def checksum(line: bytes) -> int:
    return sum((c - ZERO) if 48 <= c <= 57 else (c == 45) for c in line[:68]) % 10


def alpha5(numbers):
    """Five-column catalogue fields: zero-padded digits up to 99999, a letter and four digits
    above."""
    numbers = np.asarray(numbers, dtype=np.int64)
    out = np.zeros((len(numbers), 5), np.uint8)
    head = numbers // 10_000
    letters = np.frombuffer(ALPHA5_LETTERS.encode(), np.uint8)
    out[:, 0] = np.where(head < 10, head + ZERO, letters[np.clip(head - 10, 0, 23)])
    rest = numbers % 10_000
    for k in range(4):
        out[:, 1 + k] = (rest // 10 ** (3 - k)) % 10 + ZERO
    return out


def exponent_form(sign_negative, mantissa, exponent):
    """The implied-decimal form SMMMMMEX as an (n, 8) byte array; zero as "00000-0"."""
    n = len(mantissa)
    out = np.zeros((n, 8), np.uint8)
    out[:, 0] = np.where(sign_negative & (mantissa != 0), ord("-"), SPACE)
    for k in range(5):
        out[:, 1 + k] = (mantissa // 10 ** (4 - k)) % 10 + ZERO
    exponent = np.where(mantissa == 0, 0, exponent)
    out[:, 6] = np.where((exponent > 0) | ((exponent == 0) & (mantissa != 0)), ord("+"), ord("-"))
    out[:, 7] = np.abs(exponent) + ZERO
    return out


# ---- the sets ---------------------------------------------------------------------------------

NAME_FORMS = [
    ("STARLINK-{n}", 30),
    ("ONEWEB-{n:04d}", 8),
    ("COSMOS {n}", 10),
    ("COSMOS {n} DEB", 8),
    ("FENGYUN 1C DEB", 6),
    ("SL-{k} R/B", 6),
    ("IRIDIUM {n}", 4),
    ("NOAA {k}", 2),
    ("GPS BIIF-{k}", 2),
    ("INTELSAT {n}", 3),
    ("OBJECT {p}", 8),
    ("CZ-{k}B R/B", 4),
    ("ISS (ZARYA)", 1),
    ("DELTA 1 DEB", 4),
    ("TBA - TO BE ASSIGNED", 2),
    ("GLOBALSTAR M{k:03d}", 2),
]


def make_names(rng, count):
    weights = np.array([w for _, w in NAME_FORMS], float)
    forms = rng.choice(len(NAME_FORMS), size=count, p=weights / weights.sum())
    n = rng.integers(1, 6000, size=count)
    k = rng.integers(1, 99, size=count)
    piece = rng.integers(0, 24 * 24, size=count)
    names = []
    for f, a, b, c in zip(forms.tolist(), n.tolist(), k.tolist(), piece.tolist(), strict=False):
        p = ALPHA5_LETTERS[c // 24] + ALPHA5_LETTERS[c % 24]
        names.append(NAME_FORMS[f][0].format(n=a, k=b, p=p)[:24])
    return names


def make_sets(rng, n_sets, alpha5_share, deep_share, per_satellite, order):
    """Columns of `n_sets` valid sets: the two (n, 69) line matrices and each set's name."""
    # Satellites with a geometric number of sets each, exactly n_sets in all.
    counts = rng.geometric(1.0 / per_satellite, size=int(2 * n_sets / per_satellite) + 100)
    total = np.cumsum(counts)
    if total[-1] < n_sets:
        raise ValueError("too few satellites drawn")
    n_sat = int(np.searchsorted(total, n_sets) + 1)
    counts = counts[:n_sat].copy()
    counts[-1] -= int(total[n_sat - 1] - n_sets)
    if n_sat > 339_999:
        raise ValueError("more satellites than five columns can number")
    n_alpha = max(round(alpha5_share * n_sat), n_sat - 99_999)
    numbers = np.concatenate(
        [
            rng.choice(np.arange(1, 100_000), size=n_sat - n_alpha, replace=False),
            rng.choice(np.arange(100_000, 340_000), size=n_alpha, replace=False),
        ]
    )
    rng.shuffle(numbers)

    # Orbit classes: near-Earth, or deep space (GPS, transfer, Molniya, geostationary).
    deep = rng.random(n_sat) < deep_share
    kind = np.where(deep, rng.integers(1, 5, size=n_sat), 0)
    mnm = np.select(
        [kind == 0, kind == 1, kind == 2, kind == 3, kind == 4],
        [
            rng.uniform(11.25, 16.4, n_sat),
            rng.normal(2.0056, 0.0003, n_sat),
            rng.uniform(2.2, 3.5, n_sat),
            rng.normal(2.006, 0.002, n_sat),
            rng.normal(1.0027, 0.0004, n_sat),
        ],
    )
    ecc = np.select(
        [kind == 0, kind == 1, kind == 2, kind == 3, kind == 4],
        [
            np.minimum(rng.exponential(0.003, n_sat), 0.2),
            rng.uniform(0.001, 0.02, n_sat),
            rng.uniform(0.6, 0.74, n_sat),
            rng.uniform(0.65, 0.75, n_sat),
            rng.uniform(0.0, 0.001, n_sat),
        ],
    )
    leo_inc = np.select(
        [rng.random(n_sat) < 0.3, rng.random(n_sat) < 0.5],
        [rng.normal(97.8, 0.6, n_sat), rng.choice([51.64, 53.05, 86.4], n_sat)],
        rng.uniform(0.0, 110.0, n_sat),
    )
    inc = np.select(
        [kind == 0, kind == 1, kind == 2, kind == 3, kind == 4],
        [
            leo_inc,
            rng.normal(55.0, 1.0, n_sat),
            rng.uniform(0.0, 30.0, n_sat),
            rng.uniform(62.8, 64.0, n_sat),
            rng.uniform(0.0, 15.0, n_sat),
        ],
    )
    inc = np.clip(inc, 0.0, 179.9999)

    # Epochs: a start per satellite, then steps of hours to days, in units of 1e-8 day.
    sat = np.repeat(np.arange(n_sat), counts)
    first = np.cumsum(counts) - counts
    start_day = rng.integers(
        np.datetime64("1985-01-01", "D").astype(np.int64),
        np.datetime64("2025-06-01", "D").astype(np.int64),
        size=n_sat,
    )
    steps = rng.integers(DAY_UNITS // 20, 5 * DAY_UNITS, size=n_sets)
    steps[first] = rng.integers(0, DAY_UNITS, size=n_sat)
    units = start_day[sat] * DAY_UNITS + _cumsum_by_group(steps, first, counts)
    units = np.minimum(units, np.datetime64("2056-12-31", "D").astype(np.int64) * DAY_UNITS)
    rank = np.arange(n_sets) - first[sat]

    if order == "epoch":
        perm = np.argsort(units, kind="stable")
    else:
        perm = np.arange(n_sets)
    sat, units, rank = sat[perm], units[perm], rank[perm]
    n = n_sets

    days = units // DAY_UNITS
    date = days.astype("datetime64[D]")
    year_start = date.astype("datetime64[Y]")
    year = year_start.astype(np.int64) + 1970
    doy = (date - year_start.astype("datetime64[D]")).astype(np.int64) + 1

    l1 = np.full((n, 69), SPACE, np.uint8)
    l2 = np.full((n, 69), SPACE, np.uint8)
    l1[:, 0], l2[:, 0] = ord("1"), ord("2")
    fields = alpha5(numbers[sat])
    l1[:, 2:7] = fields
    l2[:, 2:7] = fields
    l1[:, 7] = ord("U")

    _, first_set = np.unique(sat, return_index=True)
    launch_year = np.maximum(year[first_set] - rng.integers(0, 8, n_sat), 1957)[sat]
    launch = rng.integers(1, 150, size=n_sat)[sat]
    pieces = _pieces(rng, n_sat)[sat]
    put_number(l1, 10, 2, launch_year % 100, fill="0")
    put_number(l1, 12, 3, launch, fill="0")
    put_text(l1, 15, pieces)
    analyst = (rng.random(n_sat) < 0.01)[sat]
    l1[analyst, 9:17] = SPACE

    put_number(l1, 19, 2, year % 100, fill="0")
    put_number(l1, 21, 3, doy, fill="0")
    l1[:, 23] = ord(".")
    put_number(l1, 25, 8, units % DAY_UNITS, fill="0")

    deep_set = deep[sat]
    ndot = np.round(10.0 ** rng.uniform(-8, np.where(deep_set, -6, -3)) * 1e8).astype(np.int64)
    ndot_negative = rng.random(n) < 0.15
    l1[:, 33] = np.where(ndot_negative, ord("-"), SPACE)
    l1[:, 34] = ord(".")
    put_number(l1, 36, 8, ndot, fill="0")

    nddot_m = np.where(rng.random(n) < 0.9, 0, rng.integers(10_000, 100_000, n))
    l1[:, 44:52] = exponent_form(rng.random(n) < 0.5, nddot_m, rng.integers(-9, -3, n))
    bstar_m = np.where(rng.random(n) < 0.05, 0, rng.integers(10_000, 100_000, n))
    bstar_x = np.where(deep_set, rng.integers(-6, -3, n), rng.integers(-5, -1, n))
    l1[:, 53:61] = exponent_form(rng.random(n) < 0.1, bstar_m, bstar_x)
    l1[:, 62] = ZERO
    element = (rng.integers(1, 999, n_sat)[sat] + rank) % 10_000
    put_number(l1, 65, 4, element)

    # Line 2: the satellite's orbit, slowly drifting, with a fresh mean anomaly every set.
    inc_q = np.round(inc[sat] * 1e4).astype(np.int64)
    raa_start = np.round(rng.uniform(0, 360, n_sat) * 1e4).astype(np.int64)[sat]
    raa_q = (raa_start + rank * 53_117) % 3_600_000
    ecc_q = np.round(ecc[sat] * 1e7).astype(np.int64) + rng.integers(-20, 21, n)
    ecc_q = np.clip(ecc_q, 0, 9_999_999)
    arp_q = rng.integers(0, 3_600_000, n)
    mea_q = rng.integers(0, 3_600_000, n)
    mnm_q = np.round((mnm[sat] + rng.normal(0, 1e-5, n)) * 1e8).astype(np.int64)
    for col, q in ((9, inc_q), (18, raa_q), (35, arp_q), (44, mea_q)):
        put_number(l2, col, 3, q // 10_000)
        l2[:, col + 2] = ord(".")
        put_number(l2, col + 4, 4, q % 10_000, fill="0")
    put_number(l2, 27, 7, ecc_q, fill="0")
    put_number(l2, 53, 2, mnm_q // DAY_UNITS)
    l2[:, 54] = ord(".")
    put_number(l2, 56, 8, mnm_q % DAY_UNITS, fill="0")
    revs = (rng.integers(0, 90_000, n_sat)[sat] + rank * 37) % 100_000
    put_number(l2, 64, 5, revs)

    l1[:, 68] = checksums(l1) + ZERO
    l2[:, 68] = checksums(l2) + ZERO
    names = make_names(rng, n_sat)
    return l1, l2, [names[s] for s in sat.tolist()]


def _cumsum_by_group(steps, first, counts):
    """Running sum of `steps` restarting at each group's first index."""
    total = np.cumsum(steps)
    base = np.repeat(total[first] - steps[first], counts)
    return total - base


def _pieces(rng, n_sat):
    """Piece codes of the designator: mostly A-F, debris with two or three letters."""
    letters = np.frombuffer(ALPHA5_LETTERS.encode(), np.uint8)
    out = np.full((n_sat, 3), SPACE, np.uint8)
    size = np.select([rng.random(n_sat) < 0.7, rng.random(n_sat) < 0.8], [1, 2], 3)
    out[:, 0] = np.where(
        size == 1, letters[rng.integers(0, 6, n_sat)], letters[rng.integers(0, 24, n_sat)]
    )
    out[:, 1] = np.where(size >= 2, letters[rng.integers(0, 24, n_sat)], SPACE)
    out[:, 2] = np.where(size == 3, letters[rng.integers(0, 24, n_sat)], SPACE)
    return np.frombuffer(out.tobytes(), "S3")


# ---- damage -----------------------------------------------------------------------------------


def _replace(line: bytes, col: int, text: bytes) -> bytes:
    return line[: col - 1] + text + line[col - 1 + len(text) :]


def _resum(line: bytes) -> bytes:
    return line[:68] + bytes([ZERO + checksum(line)]) + line[69:]


def _damage_kinds():
    """Each kind: (name, function(rng, l1, l2) -> (l1, l2, reason, line, column)). A function
    changes one line and, unless the kind is about the checksum or the length, puts the right
    checksum back, so that the set has exactly one fault. Every change below breaks the form
    in the column it writes, whatever the set's values."""
    kinds = []

    def on_line(line, l1, l2, text):
        return (text, l2) if line == 1 else (l1, text)

    def field(name, line, reason, choices):
        def apply(rng, l1, l2):
            col, text = choices[int(rng.integers(len(choices)))]
            source = l1 if line == 1 else l2
            return (*on_line(line, l1, l2, _resum(_replace(source, col, text))), reason, line, col)

        kinds.append((name, apply))

    field("line_number_1", 1, "line_number", [(1, b"7"), (1, b"X")])
    field("line_number_2", 2, "line_number", [(1, b"3"), (1, b"1")])
    field("satno", 1, "satno", [(3, b"I"), (3, b"O"), (3, b"a"), (5, b"Z"), (7, b" ")])
    field("classification", 1, "classification", [(8, b"u"), (8, b"1"), (8, b" ")])
    field("intldes", 1, "intldes", [(10, b"X"), (10, b"-")])
    field("epoch_year", 1, "epoch_year", [(19, b"X"), (20, b" ")])
    field("epoch_day", 1, "epoch_day", [(24, b","), (27, b" "), (32, b"X")])
    field("ndot", 1, "ndot", [(34, b"X"), (35, b"0"), (40, b"-")])
    field("nddot", 1, "nddot", [(51, b" "), (47, b"X")])
    field("bstar", 1, "bstar", [(60, b"5"), (54, b"X"), (61, b"-")])
    field("ephemeris_type", 1, "ephemeris_type", [(63, b"X"), (63, b" ")])
    field("element_number", 1, "element_number", [(68, b"X"), (68, b" ")])
    field("inc", 2, "inc", [(12, b"0"), (14, b"X"), (16, b" ")])
    field("raa", 2, "raa", [(20, b"-"), (25, b" ")])
    field("ecc", 2, "ecc", [(30, b" "), (27, b"-")])
    field("arp", 2, "arp", [(40, b"X"), (38, b",")])
    field("mea", 2, "mea", [(44, b"-"), (51, b"+")])
    field("mnm", 2, "mnm", [(55, b"5"), (60, b"X")])
    field("revolution", 2, "revolution", [(68, b"X"), (68, b" ")])
    field("mnm_not_positive", 2, "mnm_not_positive", [(53, b" 0.00000000")])

    def blank(rng, l1, l2):
        line = int(rng.integers(1, 3))
        col = int(rng.choice(BLANKS[line]))
        text = _resum(_replace(l1 if line == 1 else l2, col, b"0"))
        return (*on_line(line, l1, l2, text), "blank", line, col)

    kinds.append(("blank", blank))

    def control(rng, l1, l2):
        line, col = int(rng.integers(1, 3)), int(rng.integers(3, 69))
        char = [b"\t", b"\x07", b"\x00", b"\x7f", b"\x1b"][int(rng.integers(5))]
        text = _resum(_replace(l1 if line == 1 else l2, col, char))
        return (*on_line(line, l1, l2, text), "control_character", line, col)

    kinds.append(("control_character", control))

    def non_ascii(rng, l1, l2):
        line, col = int(rng.integers(1, 3)), int(rng.integers(3, 69))
        source = l1 if line == 1 else l2
        text = source[: col - 1] + "\u00e9".encode() + source[col:]
        return (*on_line(line, l1, l2, text), "non_ascii", line, col)

    kinds.append(("non_ascii", non_ascii))

    def day_range(rng, l1, l2):
        year = int(l1[18:20])
        full = 2000 + year if year < 57 else 1900 + year
        leap = full % 4 == 0 and (full % 100 != 0 or full % 400 == 0)
        day = [b"000", b"367" if leap else b"366"][int(rng.integers(2))]
        return _resum(_replace(l1, 21, day)), l2, "epoch_day_range", 1, 21

    kinds.append(("epoch_day_range", day_range))

    def satno_mismatch(rng, l1, l2):
        field_ = l2[2:7]
        number = (
            int(field_)
            if field_.strip().isdigit()
            else (ALPHA5_LETTERS.index(chr(field_[0])) + 10) * 10_000 + int(field_[1:])
        )
        other = (number + 1 + int(rng.integers(0, 50))) % 340_000
        return l1, _resum(_replace(l2, 3, bytes(alpha5([other])[0]))), "satno_mismatch", 2, 3

    kinds.append(("satno_mismatch", satno_mismatch))

    def checksum_wrong(rng, l1, l2):
        line = int(rng.integers(1, 3))
        source = l1 if line == 1 else l2
        digit = (source[68] - ZERO + int(rng.integers(1, 10))) % 10
        return (*on_line(line, l1, l2, source[:68] + bytes([ZERO + digit])), "checksum", line, 69)

    kinds.append(("checksum", checksum_wrong))

    def checksum_character(rng, l1, l2):
        line = int(rng.integers(1, 3))
        source = l1 if line == 1 else l2
        return (*on_line(line, l1, l2, source[:68] + b"X"), "checksum_character", line, 69)

    kinds.append(("checksum_character", checksum_character))

    def length(rng, l1, l2):
        line = int(rng.integers(1, 3))
        source = l1 if line == 1 else l2
        change = int(rng.choice([-3, -2, -1, 1, 2, 3]))
        if change > 0:
            text, col = source + b"XYZ"[:change], 70
        else:
            # A cut line loses its trailing blanks too: the column is past what remains.
            text = source[: 69 + change]
            col = len(text.rstrip(b" ")) + 1
        return (*on_line(line, l1, l2, text), "length", line, col)

    kinds.append(("length", length))

    kinds.append(("missing_line2", lambda rng, l1, l2: (l1, None, "missing_line2", 1, 1)))
    kinds.append(("missing_line1", lambda rng, l1, l2: (None, l2, "missing_line1", 2, 1)))
    return kinds


DAMAGE_KINDS = [name for name, _ in _damage_kinds()]


# ---- the file ---------------------------------------------------------------------------------


def make_catalog(
    n_sets=1_000_000,
    *,
    seed=1,
    form="3le",
    alpha5_share=0.05,
    deep_share=0.2,
    per_satellite=10.0,
    order="epoch",
    crlf=False,
    blank_share=0.0,
    damage=0,
):
    """The text (bytes) and the list of Damage records. `form`: "3le" (names padded to 24
    columns), "0name" ("0 NAME" lines) or "2le" (no names). Damaged sets are never next to each
    other, so that a missing line cannot pair with a neighbour's; kinds take turns, so that
    every kind appears once `damage` reaches their number."""
    rng = np.random.default_rng(seed)
    l1, l2, names = make_sets(rng, n_sets, alpha5_share, deep_share, per_satellite, order)
    b1, b2 = l1.tobytes(), l2.tobytes()
    eol = b"\r\n" if crlf else b"\n"
    blank_after = (rng.random(n_sets) < blank_share).tolist()

    if damage > n_sets // 2:
        raise ValueError("at most half of the sets can be damaged")
    kinds = _damage_kinds()
    damaged = {}
    if damage:
        chosen = np.sort(rng.choice(n_sets // 2, size=damage, replace=False) * 2)
        turns = rng.permutation(damage)
        for j, i in enumerate(chosen.tolist()):
            damaged[i] = kinds[int(turns[j]) % len(kinds)]

    parts, records = [], []
    line_no = 0
    for i in range(n_sets):
        a, b = b1[69 * i : 69 * i + 69], b2[69 * i : 69 * i + 69]
        if form == "3le":
            parts.append(names[i].ljust(24).encode() + eol)
            line_no += 1
        elif form == "0name":
            parts.append(b"0 " + names[i].encode() + eol)
            line_no += 1
        if i in damaged:
            kind, apply = damaged[i]
            a, b, reason, line, column = apply(rng, a, b)
            file_line = line_no + (2 if line == 2 and a is not None else 1)
            records.append(Damage(i, kind, reason, line, column, file_line))
        for text in (a, b):
            if text is not None:
                parts.append(text + eol)
                line_no += 1
        if blank_after[i]:
            parts.append(eol)
            line_no += 1
    return b"".join(parts), records


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("output", type=Path)
    ap.add_argument("--sets", type=int, default=1_000_000)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--form", choices=("3le", "0name", "2le"), default="3le")
    ap.add_argument("--alpha5", type=float, default=0.05, help="share of Alpha-5 satellites")
    ap.add_argument("--deep", type=float, default=0.2, help="share of deep-space satellites")
    ap.add_argument("--per-satellite", type=float, default=10.0, help="mean sets per satellite")
    ap.add_argument("--order", choices=("epoch", "satellite"), default="epoch")
    ap.add_argument("--crlf", action="store_true")
    ap.add_argument(
        "--blank-lines", type=float, default=0.0, help="share of sets followed by a blank line"
    )
    ap.add_argument("--damage", type=int, default=0, help="number of damaged sets")
    ap.add_argument("--manifest", type=Path, help="default: OUTPUT.damage.json")
    args = ap.parse_args(argv)
    text, records = make_catalog(
        args.sets,
        seed=args.seed,
        form=args.form,
        alpha5_share=args.alpha5,
        deep_share=args.deep,
        per_satellite=args.per_satellite,
        order=args.order,
        crlf=args.crlf,
        blank_share=args.blank_lines,
        damage=args.damage,
    )
    args.output.write_bytes(text)
    manifest = args.manifest or args.output.with_name(args.output.name + ".damage.json")
    manifest.write_text("[\n" + ",\n".join(json.dumps(r.__dict__) for r in records) + "\n]\n")
    print(
        f"{args.output}: {args.sets} sets, {len(records)} damaged (listed in {manifest})",
        file=sys.stderr,
    )


if __name__ == "__main__":
    main()
