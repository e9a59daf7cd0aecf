"""The Python stand-ins that coe and tle bind at import: bodies, frames, ellipsoids, typing."""

import datetime
import inspect
import typing

import numpy as np
import pytest

from orbivex.bodies import bodies
from orbivex.frames import frames
from orbivex.mathtools.ellipsoid import ellipsoid


def test_bodies_are_classes_with_float_constants():
    for body in (bodies.Earth, bodies.Sun, bodies.Moon):
        assert inspect.isclass(body) and issubclass(body, bodies.CelestialBody)
        assert type(body.GM) is float and body.GM > 0
        assert type(body.Re) is float and body.Re > 0
    assert bodies.Earth.GM == 3.986004418e14
    assert bodies.Earth.Re == 6378137.0
    assert bodies.Sun.GM > bodies.Earth.GM > bodies.Moon.GM


def test_frame_objects_and_names():
    for name in ("GCRF", "ITRF", "TEME"):
        obj = getattr(frames, name)
        cls = getattr(frames, "_" + name)
        assert inspect.isclass(cls) and issubclass(cls, frames.Frame)
        assert type(obj) is cls and obj.name == name
    assert issubclass(frames.ENU, frames.Frame)
    enu = frames.ENU(0.5, -1.0, 120.0)
    assert (enu.lat, enu.lon, enu.alt, enu.name) == (0.5, -1.0, 120.0, "ENU")


@pytest.mark.parametrize(
    "obj, a, inv_f, b",
    [
        (ellipsoid.WGS84, 6378137.0, 298.257223563, 6356752.314245),
        (ellipsoid.WGS72, 6378135.0, 298.26, 6356750.520016),
        (ellipsoid.GRS80, 6378137.0, 298.257222101, 6356752.314140),
    ],
)
def test_ellipsoid_defining_constants(obj, a, inv_f, b):
    assert isinstance(obj, ellipsoid.Ellipsoid)
    assert obj.a == a and obj.f == 1.0 / inv_f
    assert obj.b == pytest.approx(b, abs=1e-6)
    assert obj.name in repr(obj)


def test_datetime_like_names_the_instant_types():
    from orbivex.typing import DatetimeLike

    assert typing.get_origin(DatetimeLike) is typing.Union
    assert set(typing.get_args(DatetimeLike)) == {str, datetime.datetime, np.datetime64, float}
