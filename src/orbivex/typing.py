"""Type aliases shared across orbivex's public signatures."""

import datetime
from typing import Union

import numpy

__all__ = ["DatetimeLike"]

#: Anything that names an instant: ISO text, a datetime, a NumPy datetime64 or a Julian date.
DatetimeLike = Union[str, datetime.datetime, numpy.datetime64, float]
