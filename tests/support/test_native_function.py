"""The native function type shared by the modules: introspection, binding and call protocol."""

import gc
import inspect
import pickle

import pytest

from orbivex.propagators.analytical.sgp4.tle import ELSET, TLE
from orbivex.state import coe


def test_identity_attributes():
    f = coe.orp_from_sma
    assert (f.__name__, f.__qualname__, f.__module__) == (
        "orp_from_sma",
        "orp_from_sma",
        "orbivex.state.coe",
    )
    assert repr(f).startswith("<function orp_from_sma at 0x")
    assert ELSET._get_header.__qualname__ == "ELSET._get_header"
    assert TLE._get_body.__module__ == "orbivex.propagators.analytical.sgp4.tle"


def test_pickled_by_reference():
    assert pickle.loads(pickle.dumps(coe.eca_from_mea)) is coe.eca_from_mea


def test_binds_as_a_method_like_a_python_function():
    class Orbit(float):
        period = coe.orp_from_sma

    o = Orbit(7.0e6)
    assert o.period() == coe.orp_from_sma(7.0e6)
    assert Orbit.period is coe.orp_from_sma
    bound = o.period
    assert bound.__self__ is o and bound.__func__ is coe.orp_from_sma
    assert str(inspect.signature(bound)) == (
        f"(GM: 'double' = {coe.orp_from_sma.__defaults__[0]!r}) -> 'double | ndarray[double]'"
    )


def test_defaults_are_read_at_each_call_and_replaceable():
    f = coe.mnm_from_sma
    saved = f.__defaults__
    try:
        f.__defaults__ = (1.0,)
        assert f(4.0) == 0.125
        assert inspect.signature(f).parameters["GM"].default == 1.0
        f.__defaults__ = None
        message = r"mnm_from_sma\(\) takes exactly 2 positional arguments \(1 given\)"
        with pytest.raises(TypeError, match=message):
            f(4.0)
        with pytest.raises(TypeError, match="must be set to a tuple"):
            f.__defaults__ = [1.0]
    finally:
        f.__defaults__ = saved
    assert f.__defaults__ == saved


def test_annotations_are_a_dict_of_the_callers():
    f = coe.tra_from_eca
    ann = f.__annotations__
    assert ann is f.__annotations__
    assert inspect.signature(f).return_annotation == "double | ndarray[double]"
    with pytest.raises(TypeError, match="must be set to a dict"):
        f.__annotations__ = 3


def test_instance_dict_and_keyword_calls():
    f = coe.sma_from_mnm
    f.note = "attribute on a function"
    try:
        assert f.__dict__["note"] == "attribute on a function"
    finally:
        del f.note
    assert f(mnm=1e-3, GM=1.0) == f(1e-3, 1.0)


def test_the_collector_sees_what_a_function_holds():
    # Without traversal, a cycle through a function's defaults or dict could never be freed.
    f = coe.orp_from_sma
    f.marker = marker = object()
    try:
        referents = gc.get_referents(f)
        assert f.__defaults__ in referents
        assert any(r is f.__dict__ for r in referents)
        assert marker in f.__dict__.values()
    finally:
        del f.marker
