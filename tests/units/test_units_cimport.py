"""A Cython module that cimports units.pxd binds all thirteen constants (checked at import)."""

from orbivex.units import units
from tests.cython_build import build_consumer
from tests.units.test_units_table import VALUES

CONSUMER = """
from orbivex.units cimport units as u

def values():
    return dict(s=u.s, sec=u.sec, second=u.second, minute=u.minute, hour=u.hour, day=u.day,
                sday=u.sday, m=u.m, km=u.km, rad=u.rad, deg=u.deg, rev=u.rev, kg=u.kg)

def rev_per_day_in_rad_per_s(double n):
    return n * u.rev / u.day
"""


def test_consumer_reads_the_native_constants(tmp_path):
    consumer = build_consumer(tmp_path, "units_consumer", CONSUMER)
    assert consumer.values() == VALUES
    assert consumer.rev_per_day_in_rad_per_s(15.5) == 15.5 * units.rev / units.day
