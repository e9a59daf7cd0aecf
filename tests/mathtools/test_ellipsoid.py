"""The reference ellipsoids of orbivex.mathtools.ellipsoid: their defining constants."""

import pytest

from orbivex.mathtools.ellipsoid import ellipsoid


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
