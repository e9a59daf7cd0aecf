"""Demo: read a file of element sets, check a damaged copy, show, plot and propagate them.

Reads data/sample_tles.txt (invented sample data, three-line form) into a Catalog, prints the
newest TLE of each satellite and a one-line summary of its history (an ELSET), and plots
perigee and apogee altitude against epoch into output/tle_altitudes.png. Then it writes a
copy of the file with a few faults put in, reads it with errors="skip" and prints what was
rejected, where and why. Last, it propagates each satellite over one day from its newest set
with SGP4 and plots the ground tracks into output/ground_tracks.png (see ground_track.py).
"""

import sys
from pathlib import Path

from ground_track import plot_ground_tracks

from orbivex.propagators.analytical.sgp4.catalog import Catalog, read
from orbivex.propagators.analytical.sgp4.tle import ELSET

HERE = Path(__file__).resolve().parent
DATA = HERE / "data" / "sample_tles.txt"
OUTPUT = HERE / "output"


def summary(elset: ELSET) -> str:
    """One line: name, number, count, epoch span and the range of both altitudes."""
    epochs = elset.epoch.datetime64.astype("datetime64[m]")
    pge = elset.pge / 1000.0
    apg = elset.apg / 1000.0
    return (
        f"{elset.satname:<17} {elset.satno:>5} {elset.size:2d} sets  {epochs[0]}..{epochs[-1]}  "
        f"perigee {pge.min():.1f}-{pge.max():.1f} km  apogee {apg.min():.1f}-{apg.max():.1f} km"
    )


def checksum(line: str) -> str:
    """The check digit of the first 68 columns: the digits summed, each minus sign as 1."""
    return str(sum(int(c) if c.isdigit() else c == "-" for c in line[:68]) % 10)


def damage(source: Path, target: Path) -> None:
    """A copy of `source` with five faults a real file can have, each in another set."""
    lines = source.read_text(encoding="ascii").splitlines()

    def set_start(k: int) -> int:  # index of line 1 of set k (three lines per set)
        return 3 * k + 1

    a = set_start(2)
    lines[a] = lines[a][:-1] + str((int(lines[a][-1]) + 3) % 10)  # wrong checksum
    b = set_start(7) + 1
    lines[b] = lines[b][:60]  # line 2 cut short
    c = set_start(12)
    lines[c] = lines[c][:20] + "X" + lines[c][21:]  # a letter in the epoch
    d = set_start(17) + 1
    other = lines[d][:6] + str((int(lines[d][6]) + 1) % 10) + lines[d][7:68]
    lines[d] = other + checksum(other)  # line 2 of another satellite, checksum right
    e = set_start(22) + 1
    del lines[e]  # line 2 lost
    target.parent.mkdir(parents=True, exist_ok=True)
    target.write_text("\n".join(lines) + "\n", encoding="ascii")


def plot_altitudes(elsets: list[ELSET], path: Path) -> None:
    """Perigee and apogee altitude against epoch, one panel per satellite."""
    import matplotlib.pyplot as plt

    fig, axes = plt.subplots(
        len(elsets), 1, figsize=(9, 2.6 * len(elsets)), sharex=True, squeeze=False
    )
    for ax, elset in zip(axes[:, 0], elsets, strict=True):
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


def has_matplotlib() -> bool:
    try:
        import matplotlib
    except ImportError:
        return False
    matplotlib.use("Agg")
    return True


def main() -> int:
    catalog = read(DATA)
    print(f"Read {DATA.name}: {catalog!r}\n")

    newest: Catalog = catalog.latest()
    for i in range(len(newest)):
        print(f"Newest element set of {newest.name[i]}:")
        print(newest.tle(i))
        print()

    elsets = [catalog.elset(int(n)) for n in catalog.satellites]
    print("Element-set histories:")
    for elset in elsets:
        print(" ", summary(elset))
    print()

    damaged = OUTPUT / "sample_tles_damaged.txt"
    damage(DATA, damaged)
    checked = read(damaged, errors="skip")
    print(f"Read the damaged copy {damaged.name} with errors='skip': {checked!r}")
    for error in checked.rejected:
        print(f"  line {error.line}, column {error.column}: {error.reason}")
    print(f"  {len(checked)} sets kept + {len(checked.rejected)} rejected\n")

    if not has_matplotlib():
        print("matplotlib is not installed: skipping the plots (pip install 'orbivex[plot]').")
        return 0
    plot_altitudes(elsets, OUTPUT / "tle_altitudes.png")
    print(f"Plot of perigee and apogee altitudes written to {OUTPUT / 'tle_altitudes.png'}")
    plot_ground_tracks(newest, OUTPUT / "ground_tracks.png")
    print(
        f"Ground tracks over one day from the newest sets written to {OUTPUT / 'ground_tracks.png'}"
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
