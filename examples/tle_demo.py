"""Demo: read a file of two-line element sets, gather them per satellite, show and plot them.

Reads data/sample_tles.txt (invented sample data: name line, line 1, line 2 per element set),
builds a TLE from each pair of lines, groups them by catalogue number into one ELSET per
satellite, prints the newest TLE of each satellite and a one-line summary of each ELSET, and
plots perigee and apogee altitude against epoch into output/tle_altitudes.png.
"""

import sys
from collections import defaultdict
from pathlib import Path

from orbivex.propagators.analytical.sgp4.tle import ELSET, TLE

HERE = Path(__file__).resolve().parent
DATA = HERE / "data" / "sample_tles.txt"
OUTPUT = HERE / "output" / "tle_altitudes.png"


def read_tles(path: Path) -> list[tuple[str, TLE]]:
    """(name, TLE) for every element set of a three-line file; '#' lines are comments."""
    lines = [
        line.rstrip("\n")
        for line in path.read_text(encoding="ascii").splitlines()
        if line.strip() and not line.startswith("#")
    ]
    if len(lines) % 3:
        raise ValueError(f"{path}: expected groups of three lines, got {len(lines)} lines")
    return [
        (lines[i].strip(), TLE(lines[i + 1], lines[i + 2])) for i in range(0, len(lines), 3)
    ]


def group(tles: list[tuple[str, TLE]]) -> list[tuple[ELSET, TLE]]:
    """One ELSET per catalogue number, in the order the satellites first appear, with the
    satellite's newest TLE."""
    by_satno: dict[int | str, list[TLE]] = defaultdict(list)
    names: dict[int | str, str] = {}
    for name, tle in tles:
        by_satno[tle.satno].append(tle)
        names.setdefault(tle.satno, name)
    return [
        (ELSET(*sets, satname=names[satno]), sorted(sets, key=lambda t: t.epoch)[-1])
        for satno, sets in by_satno.items()
    ]


def summary(elset: ELSET) -> str:
    """One line: name, number, count, epoch span and the range of both altitudes."""
    epochs = elset.epoch.datetime64.astype("datetime64[m]")
    pge = elset.pge / 1000.0
    apg = elset.apg / 1000.0
    return (
        f"{elset.satname:<17} {elset.satno:>5} {elset.size:2d} sets  {epochs[0]}..{epochs[-1]}  "
        f"perigee {pge.min():.1f}-{pge.max():.1f} km  apogee {apg.min():.1f}-{apg.max():.1f} km"
    )


def plot(elsets: list[ELSET], path: Path) -> bool:
    """Perigee and apogee altitude against epoch, one panel per satellite. False without
    matplotlib."""
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return False
    fig, axes = plt.subplots(len(elsets), 1, figsize=(9, 2.6 * len(elsets)), sharex=True,
                             squeeze=False)
    for ax, elset in zip(axes[:, 0], elsets):
        when = elset.epoch.datetime64
        ax.plot(when, elset.apg / 1000.0, "o-", color="tab:red", label="apogee")
        ax.plot(when, elset.pge / 1000.0, "s-", color="tab:blue", label="perigee")
        ax.set_title(f"{elset.satname} ({elset.satno})", fontsize=10)
        ax.set_ylabel("altitude [km]")
        ax.grid(True, alpha=0.3)
        ax.legend(loc="best", fontsize=8)
    axes[-1, 0].set_xlabel("epoch (UTC)")
    fig.suptitle("Perigee and apogee altitude per element set (sample data)")
    fig.autofmt_xdate()
    fig.tight_layout()
    path.parent.mkdir(parents=True, exist_ok=True)
    fig.savefig(path, dpi=110)
    plt.close(fig)
    return True


def main() -> int:
    tles = read_tles(DATA)
    groups = group(tles)
    elsets = [elset for elset, _ in groups]
    print(f"Read {len(tles)} element sets of {len(elsets)} satellites from {DATA.name}.\n")

    for elset, newest in groups:
        print(f"Newest element set of {elset.satname}:")
        print(newest)
        print()

    print("Element-set histories:")
    for elset in elsets:
        print(" ", summary(elset))
    print()

    if plot(elsets, OUTPUT):
        print(f"Plot of perigee and apogee altitudes written to {OUTPUT}")
    else:
        print("matplotlib is not installed: skipping the plot (pip install 'orbivex[plot]').")
    return 0


if __name__ == "__main__":
    sys.exit(main())
