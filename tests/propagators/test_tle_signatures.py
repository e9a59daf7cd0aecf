"""Introspection of the TLE and ELSET constructors: inspect.signature gives their parameters, and
what it binds is what the constructors accept."""

import inspect
from inspect import Parameter

import pytest

from orbivex.propagators.analytical.sgp4.tle import ELSET, TLE

from .tle_lines import L1, L2, line1


def kinds(cls):
    return [(p.name, p.kind, p.default) for p in inspect.signature(cls).parameters.values()]


def test_parameters_defaults_and_kinds():
    assert kinds(TLE) == [
        ("line1", Parameter.POSITIONAL_OR_KEYWORD, Parameter.empty),
        ("line2", Parameter.POSITIONAL_OR_KEYWORD, Parameter.empty),
        ("strict_validation", Parameter.POSITIONAL_OR_KEYWORD, None),
    ]
    assert kinds(ELSET) == [
        ("elements", Parameter.VAR_POSITIONAL, Parameter.empty),
        ("satname", Parameter.KEYWORD_ONLY, None),
    ]
    assert str(inspect.signature(TLE)) == "(line1, line2, strict_validation=None)"
    assert str(inspect.signature(ELSET)) == "(*elements, satname=None)"
    # The signature is not part of what the class docstrings say.
    assert TLE.__doc__ is None
    assert ELSET.__doc__ == "TODO: must behave like Ephemeris"


def test_subclasses_show_their_own_initialiser_or_the_base_signature():
    class Plain(TLE):
        pass

    class Named(ELSET):
        def __init__(self, *elements, satname=None, source="file"):
            pass

    assert str(inspect.signature(Plain)) == "(line1, line2, strict_validation=None)"
    assert Plain.__doc__ is None
    assert str(inspect.signature(Named)) == "(*elements, satname=None, source='file')"


CALLS = [  # arguments, keywords, whether the signature binds them
    ((L1, L2), {}, True),
    ((L1,), {"line2": L2}, True),
    ((), {"line1": L1, "line2": L2, "strict_validation": 1}, True),
    ((L1, L2, 0), {}, True),
    ((L1,), {}, False),
    ((), {"line2": L2}, False),
    ((L1, L2, 0, 0), {}, False),
    ((L1, L2), {"strict": True}, False),
    ((L1, L2), {"line1": L1}, False),
]


@pytest.mark.parametrize("args, kwargs, binds", CALLS)
def test_the_tle_signature_binds_what_the_constructor_accepts(args, kwargs, binds):
    try:
        inspect.signature(TLE).bind(*args, **kwargs)
    except TypeError:
        assert not binds
        with pytest.raises(TypeError, match=r"^__cinit__\(\) "):
            TLE(*args, **kwargs)
    else:
        assert binds
        TLE(*args, **kwargs)


def test_the_default_of_strict_validation_is_the_same_as_leaving_it_out():
    given, left_out = TLE(L1, L2, strict_validation=None), TLE(L1, L2)
    assert given.line1 == left_out.line1 and given.epoch == left_out.epoch
    assert (given.inc, given.sma, given.apg) == (left_out.inc, left_out.sma, left_out.apg)


@pytest.mark.parametrize(
    "kwargs, binds",
    [
        ({}, True),
        ({"satname": "ISS"}, True),
        ({"satname": None}, True),
        ({"name": "ISS"}, False),
        ({"satname": "ISS", "epoch": 1}, False),
    ],
)
def test_the_elset_signature_binds_what_the_constructor_accepts(kwargs, binds):
    elements = (TLE(L1, L2), TLE(line1(day="101.5"), L2))
    try:
        inspect.signature(ELSET).bind(*elements, **kwargs)
    except TypeError:
        assert not binds
        with pytest.raises(TypeError, match=r"^__cinit__\(\) got an unexpected keyword"):
            ELSET(*elements, **kwargs)
    else:
        assert binds
        assert ELSET(*elements, **kwargs).satname == kwargs.get("satname")
