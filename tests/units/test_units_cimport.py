"""A Cython module that cimports units.pxd binds every published constant (checked at import)."""

from orbivex.units import units
from tests.capsules import table
from tests.cython_build import build_consumer
from tests.units.test_units_table import VALUES

# Every constant the module publishes, read through the .pxd declarations.
EVERY_CONSTANT = ", ".join(f"{name}=u.{name}" for name in table(units))
CONSUMER = f"""
from orbivex.units cimport units as u

def values():
    return dict({EVERY_CONSTANT})

def rev_per_day_in_rad_per_s(double n):
    return n * u.rev / u.day
"""


def test_consumer_reads_the_native_constants(tmp_path):
    consumer = build_consumer(tmp_path, "units_consumer", CONSUMER)
    assert consumer.values() == VALUES
    assert consumer.rev_per_day_in_rad_per_s(15.5) == 15.5 * units.rev / units.day
