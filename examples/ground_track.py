"""Ground tracks: each satellite propagated with SGP4 over one day from its newest element set.

SGP4 gives positions in TEME, the true-equator, mean-equinox frame of date. The ground track
turns them with a simple Earth rotation: about the TEME z axis by the Greenwich mean sidereal
time of IAU 1982 (the angle TEME is defined with), taking UT1 as UTC and leaving out polar
motion, an error of well under a kilometre on the ground. Latitude is geocentric (the angle
above the equator seen from the Earth's centre), which differs from the geodetic latitude of
a map by up to 0.19 degrees.
"""

from pathlib import Path

import numpy as np

from orbivex.propagators.analytical.sgp4.catalog import Catalog
from orbivex.propagators.analytical.sgp4.sgp4 import SGP4

MINUTES = np.arange(0.0, 1440.0 + 1.0, 1.0)  # one day, one sample a minute
NS_PER_MINUTE = 60_000_000_000
JD_UNIX = 2440587.5  # Julian date of 1970-01-01T00:00:00


def gmst(jd_ut1: np.ndarray) -> np.ndarray:
    """Greenwich mean sidereal time (IAU 1982) in radians at the UT1 Julian dates."""
    t = (jd_ut1 - 2451545.0) / 36525.0
    seconds = 67310.54841 + (876600.0 * 3600.0 + 8640184.812866) * t + 0.093104 * t**2
    seconds -= 6.2e-6 * t**3
    return np.mod(seconds * (2.0 * np.pi / 86400.0), 2.0 * np.pi)


def latitude_longitude(r: np.ndarray, epoch_ns: int) -> tuple[np.ndarray, np.ndarray]:
    """Geocentric latitude and longitude in degrees of TEME positions `r` (T, 3) at MINUTES
    after the instant epoch_ns (nanoseconds since 1970)."""
    ns = epoch_ns + np.round(MINUTES * NS_PER_MINUTE).astype(np.int64)
    jd = JD_UNIX + (ns // 1_000_000) / 86_400_000.0
    lon = np.arctan2(r[:, 1], r[:, 0]) - gmst(jd)
    lat = np.arctan2(r[:, 2], np.hypot(r[:, 0], r[:, 1]))
    return np.degrees(lat), np.degrees(np.mod(lon + np.pi, 2.0 * np.pi) - np.pi)


def plot_ground_tracks(newest: Catalog, path: Path) -> None:
    """One panel per satellite of `newest` (one set each): its ground track over one day."""
    import matplotlib.pyplot as plt

    r, _, status = SGP4(newest).propagate(minutes=MINUTES)  # (S, T, 3) metres, (S, T)
    fig, axes = plt.subplots(len(newest), 1, figsize=(9, 3.4 * len(newest)), squeeze=False)
    for i, ax in enumerate(axes[:, 0]):
        lat, lon = latitude_longitude(r[i], int(newest.epoch_ns[i]))
        # Break the line where it leaves one side of the map and enters on the other.
        lon = np.where(np.abs(np.diff(lon, prepend=lon[0])) > 180.0, np.nan, lon)
        ax.plot(lon, lat, ".", markersize=1.5, color="tab:blue")
        ax.plot(lon[0], lat[0], "o", color="tab:green", label="epoch")
        failed = int(np.count_nonzero(status[i]))
        note = f", {failed} samples failed" if failed else ""
        ax.set_title(f"{newest.name[i]} ({newest.satno[i]}){note}", fontsize=10)
        ax.set_xlim(-180, 180)
        ax.set_ylim(-90, 90)
        ax.set_xticks(range(-180, 181, 60))
        ax.set_yticks(range(-90, 91, 30))
        ax.set_ylabel("latitude [deg]")
        ax.grid(True, alpha=0.3)
        ax.legend(loc="lower left", fontsize=8)
    axes[-1, 0].set_xlabel("longitude [deg]")
    fig.suptitle("Ground tracks over one day from each satellite's newest set (sample data)")
    fig.tight_layout()
    path.parent.mkdir(parents=True, exist_ok=True)
    fig.savefig(path, dpi=110)
    plt.close(fig)
