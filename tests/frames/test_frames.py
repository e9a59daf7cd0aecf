"""The frames coe and tle bind at import: frame classes, their instances and names."""

import inspect

from orbivex.frames import frames


def test_frame_objects_and_names():
    for name in ("GCRF", "ITRF", "TEME"):
        obj = getattr(frames, name)
        cls = getattr(frames, "_" + name)
        assert inspect.isclass(cls) and issubclass(cls, frames.Frame)
        assert type(obj) is cls and obj.name == name
    assert issubclass(frames.ENU, frames.Frame)
    enu = frames.ENU(0.5, -1.0, 120.0)
    assert (enu.lat, enu.lon, enu.alt, enu.name) == (0.5, -1.0, 120.0, "ENU")
