"""The bodies coe and tle bind at import: classes with float constants."""

import inspect

from orbivex.bodies import bodies


def test_bodies_are_classes_with_float_constants():
    for body in (bodies.Earth, bodies.Sun, bodies.Moon):
        assert inspect.isclass(body) and issubclass(body, bodies.CelestialBody)
        assert type(body.GM) is float and body.GM > 0
        assert type(body.Re) is float and body.Re > 0
    assert bodies.Earth.GM == 3.986004418e14
    assert bodies.Earth.Re == 6378137.0
    assert bodies.Sun.GM > bodies.Earth.GM > bodies.Moon.GM
