"""Reference frames: the inertial, Earth-fixed and TEME frames, and local east-north-up frames."""

__all__ = ["Frame", "_GCRF", "_ITRF", "_TEME", "ENU", "GCRF", "ITRF", "TEME"]


class Frame:
    """A reference frame, known by its ``name``."""

    name: str = "Frame"

    def __repr__(self) -> str:
        return f"<{type(self).__name__} frame {self.name!r}>"


class _GCRF(Frame):
    """Geocentric Celestial Reference Frame (quasi-inertial)."""

    name = "GCRF"


class _ITRF(Frame):
    """International Terrestrial Reference Frame (rotates with the Earth)."""

    name = "ITRF"


class _TEME(Frame):
    """True Equator, Mean Equinox: the frame of SGP4 states and two-line element sets."""

    name = "TEME"


class ENU(Frame):
    """Local east-north-up frame at a geodetic origin: latitude and longitude in radians,
    altitude in metres above the reference ellipsoid."""

    name = "ENU"

    def __init__(self, lat: float, lon: float, alt: float = 0.0) -> None:
        self.lat = float(lat)
        self.lon = float(lon)
        self.alt = float(alt)

    def __repr__(self) -> str:
        return f"ENU(lat={self.lat!r}, lon={self.lon!r}, alt={self.alt!r})"


GCRF = _GCRF()
ITRF = _ITRF()
TEME = _TEME()
