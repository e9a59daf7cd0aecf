"""Celestial bodies: gravitational parameters and reference radii as class attributes (SI units)."""

__all__ = ["CelestialBody", "Earth", "Sun", "Moon"]


class CelestialBody:
    """A body that attracts: gravitational parameter ``GM`` (m^3/s^2), mean radius ``Re`` (m).

    Bodies are used as classes, not instances: their constants are plain class attributes
    that native code reads at import or per call.
    """

    name: str = "CelestialBody"
    GM: float = float("nan")
    Re: float = float("nan")


class Earth(CelestialBody):
    """The Earth: GM of the WGS84 model with its atmosphere, equatorial radius of WGS84."""

    name = "Earth"
    GM = 3.986004418e14
    Re = 6378137.0


class Sun(CelestialBody):
    """The Sun: heliocentric gravitational constant and the nominal solar radius (IAU 2015)."""

    name = "Sun"
    GM = 1.32712440018e20
    Re = 6.957e8


class Moon(CelestialBody):
    """The Moon: selenocentric gravitational parameter and mean radius."""

    name = "Moon"
    GM = 4.9028e12
    Re = 1737400.0
