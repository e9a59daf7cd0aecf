"""Reference ellipsoids of revolution and the standard geodetic ones (WGS84, WGS72, GRS80)."""

__all__ = ["Ellipsoid", "WGS84", "WGS72", "GRS80"]


class Ellipsoid:
    """An oblate ellipsoid of revolution given by its semimajor axis ``a`` (m) and flattening
    ``f``; the semiminor axis and first eccentricity squared follow from them."""

    __slots__ = ("name", "a", "f")

    def __init__(self, name: str, a: float, f: float) -> None:
        self.name = str(name)
        self.a = float(a)
        self.f = float(f)

    @property
    def b(self) -> float:
        """Semiminor (polar) axis, m."""
        return self.a * (1.0 - self.f)

    @property
    def e2(self) -> float:
        """First eccentricity squared."""
        return self.f * (2.0 - self.f)

    def __repr__(self) -> str:
        return f"Ellipsoid({self.name!r}, a={self.a!r}, f={self.f!r})"


# Defining constants: the semimajor axis and the inverse flattening are the defined values.
WGS84 = Ellipsoid("WGS84", 6378137.0, 1.0 / 298.257223563)
WGS72 = Ellipsoid("WGS72", 6378135.0, 1.0 / 298.26)
GRS80 = Ellipsoid("GRS80", 6378137.0, 1.0 / 298.257222101)
