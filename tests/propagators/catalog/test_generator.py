"""The test-catalogue generator: its files read as it says, every valid set accepted and every
damaged one refused with the reason, line and column its manifest names."""

import json
import subprocess
import sys
from collections import defaultdict
from itertools import pairwise

import pytest

from .kernel import ROOT


@pytest.mark.parametrize(
    ("form", "crlf", "blank_share"),
    [
        ("3le", False, 0.0),
        ("0name", True, 0.1),
        ("2le", False, 0.05),
        ("2le", True, 0.0),
    ],
)
def test_every_damaged_set_is_reported(kernel, generator, form, crlf, blank_share):
    kinds = len(generator.DAMAGE_KINDS)
    text, damage = generator.make_catalog(
        3000, seed=31, form=form, crlf=crlf, blank_share=blank_share, damage=3 * kinds
    )
    assert {d.kind for d in damage} == set(generator.DAMAGE_KINDS)
    rows = kernel.read(text)
    assert len(rows) == 3000  # none lost, none split in two
    reported = {where: fault[:3] for fault, _, where, _ in rows if fault[0] != "none"}
    assert reported == {d.file_line: (d.reason, d.line, d.column) for d in damage}


def test_sets_are_realistic(kernel, generator):
    text, _ = generator.make_catalog(20000, seed=32, form="2le", alpha5_share=0.1, deep_share=0.25)
    read = kernel.read(text)
    assert all(fault[0] == "none" for fault, *_ in read)
    rows = [r[3] for r in read]
    epochs = defaultdict(list)
    for f in rows:
        epochs[f.satno].append(f.epoch_ns)
    # Several sets per satellite, at increasing epochs.
    assert 1000 < len(epochs) < 4000
    assert all(all(a < b for a, b in pairwise(e)) for e in epochs.values())
    alpha5 = sum(n >= 100000 for n in epochs) / len(epochs)
    assert 0.05 < alpha5 < 0.15
    # Deep space: periods of 225 minutes or more, below 6.4 rev/day.
    deep = sum(f.mnm * 86400 / 6.283185307179586 < 6.4 for f in rows) / len(rows)
    assert 0.15 < deep < 0.35
    years = {f.epoch_year for f in rows}
    assert min(years) < 2000 < max(years)


def test_deterministic_for_a_seed(generator):
    a = generator.make_catalog(500, seed=33, damage=40)
    assert a == generator.make_catalog(500, seed=33, damage=40)
    assert a[0] != generator.make_catalog(500, seed=34, damage=40)[0]


def test_command_line(kernel, tmp_path):
    out = tmp_path / "sats.tle"
    subprocess.run(
        [
            sys.executable,
            str(ROOT / "tools" / "make_catalog.py"),
            str(out),
            "--sets",
            "800",
            "--damage",
            "60",
            "--form",
            "0name",
            "--seed",
            "9",
        ],
        check=True,
        capture_output=True,
    )
    manifest = json.loads((tmp_path / "sats.tle.damage.json").read_text())
    assert len(manifest) == 60
    reported = {
        where: list(fault[:3])
        for fault, _, where, _ in kernel.read(out.read_bytes())
        if fault[0] != "none"
    }
    assert reported == {m["file_line"]: [m["reason"], m["line"], m["column"]] for m in manifest}
