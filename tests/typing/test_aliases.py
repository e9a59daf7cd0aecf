"""The type aliases of orbivex.typing, as they are at run time."""

import datetime
import typing

import numpy as np

from orbivex.typing import DatetimeLike


def test_datetime_like_names_the_instant_types():
    assert typing.get_origin(DatetimeLike) is typing.Union
    assert set(typing.get_args(DatetimeLike)) == {str, datetime.datetime, np.datetime64, float}
