"""The support layer's module helpers, through the test-only testing_support: module-level names
read at call time, the allocation through the module-level numpy, the sibling and native-entry
binders, the method check, the parameter limit of native functions, the module definition
(state members, the once-per-process guard) and the state lookup along a type's MRO."""

import builtins
import gc
import math
import sys
import types

import numpy as np
import pytest

from orbivex.bodies.bodies import Earth
from orbivex.frames.frames import TEME, Frame
from tests.helpers import error_line, run_python

support = pytest.importorskip("orbivex._testing.testing_support")

NAME = "orbivex._testing.testing_support"


# ---- module-level names and allocation ------------------------------------------------------


def test_global_names_come_from_the_module_then_builtins(monkeypatch):
    assert support.global_name("numpy") is np
    assert support.global_name("len") is len
    monkeypatch.setattr(support, "len", "mine", raising=False)
    assert support.global_name("len") == "mine"
    with pytest.raises(NameError) as exc:
        support.global_name("no_such_name")
    assert str(exc.value) == "name 'no_such_name' is not defined"


def recorder(calls, double=np.double):
    """A stand-in for NumPy whose zeros logs its arguments."""

    def zeros(*args, **kwargs):
        calls.append((args, kwargs))
        return np.zeros(*args, **kwargs)

    return types.SimpleNamespace(double=double, zeros=zeros)


def test_zeros_through_the_module_level_names(monkeypatch):
    got = support.zeros((2, 3))
    assert got.shape == (2, 3) and got.dtype == np.float64
    calls = []
    monkeypatch.setattr(support, "numpy", recorder(calls))
    monkeypatch.setattr(support, "Rec", np.dtype([("x", "f8")]), raising=False)
    support.zeros(4)
    assert support.zeros((1,), "Rec").dtype.names == ("x",)
    assert calls == [
        ((), {"shape": 4, "dtype": np.double}),
        ((), {"shape": (1,), "dtype": support.Rec}),
    ]


def test_zeros_evaluates_as_the_python_expression(monkeypatch):
    # numpy.zeros(shape=..., dtype=numpy.double): `numpy` is looked up again for the dtype.
    class Swapping:
        @property
        def zeros(self):
            monkeypatch.setattr(support, "numpy", recorder([], double=np.float32))
            return np.zeros

    monkeypatch.setattr(support, "numpy", Swapping())
    assert support.zeros(2).dtype == np.float32


def test_zeros_names_missing_or_failing(monkeypatch):
    monkeypatch.setattr(support, "Rec", None, raising=False)
    monkeypatch.delattr(support, "Rec")
    with pytest.raises(NameError, match="name 'Rec' is not defined"):
        support.zeros(1, "Rec")
    monkeypatch.delattr(support, "numpy")
    with pytest.raises(NameError, match="name 'numpy' is not defined"):
        support.zeros(1)
    calls = []
    monkeypatch.setattr(builtins, "numpy", recorder(calls), raising=False)
    support.zeros(3)
    assert calls == [((), {"shape": 3, "dtype": np.double})]
    monkeypatch.setattr(builtins, "numpy", object())
    with pytest.raises(AttributeError, match="zeros"):
        support.zeros(1)


# ---- binders --------------------------------------------------------------------------------


def test_siblings_bound_into_named_references():
    named, every = support.bind(
        [
            ("orbivex.bodies.bodies", "Earth", True, True),
            ("orbivex.frames.frames", "Frame", True, False),
            ("orbivex.frames.frames", "TEME", False, True),
        ],
        True,
        True,
    )
    assert named == [Earth, TEME]
    assert every == (Earth, Frame, TEME)
    assert support.bind([("orbivex.frames.frames", "TEME", False, True)], False, False) == (
        [TEME],
        None,
    )


@pytest.mark.parametrize(
    "entry, import_error, error, message",
    [
        (
            ("orbivex.frames.frames", "Nope", True, True),
            True,
            ImportError,
            "cannot import name 'Nope' from 'orbivex.frames.frames'",
        ),
        (("orbivex.frames.frames", "Nope", True, True), False, AttributeError, "Nope"),
        (
            ("orbivex.frames.frames", "TEME", True, True),
            True,
            TypeError,
            "orbivex.frames.frames.TEME is not a type object",
        ),
        (
            ("orbivex.no_such_module", "X", False, False),
            True,
            ModuleNotFoundError,
            "No module named 'orbivex.no_such_module'",
        ),
    ],
)
def test_sibling_failures(entry, import_error, error, message):
    with pytest.raises(error) as exc:
        support.bind([("orbivex.bodies.bodies", "Earth", True, True), entry], import_error, True)
    assert message in str(exc.value)
    assert type(exc.value) is error


def test_native_entries():
    atan2, km = support.bind_native("double (double const , double const )", "double")
    assert (atan2, km) == (math.atan2(1.0, -1.0), 1000.0)
    with pytest.raises(TypeError) as exc:
        support.bind_native("double (double, double)", "double")
    assert str(exc.value) == (
        "C function orbivex.mathtools.misc.misc.atan2_asymmetric has wrong signature "
        "(expected double (double, double), got double (double const , double const ))"
    )
    with pytest.raises(TypeError, match=r"C variable orbivex\.units\.units\.km has wrong"):
        support.bind_native("double (double const , double const )", "float")


# ---- methods and native functions -----------------------------------------------------------


def test_check_self():
    class Int(int):
        pass

    assert support.check_self(3, int, "m") == 3
    assert support.check_self(Int(4), int, "m") == 4
    with pytest.raises(TypeError) as exc:
        support.check_self("x", int, "bit_length")
    assert str(exc.value) == (
        "descriptor 'bit_length' for 'int' objects doesn't apply to a 'str' object"
    )


def test_native_function_parameter_limit():
    eight = support.native_function(8)
    assert eight(*range(8)) == 7
    assert eight(0, 1, 2, 3, 4, 5, 6, h="last") == "last"
    with pytest.raises(SystemError) as exc:
        support.native_function(9)
    assert str(exc.value) == (
        "nine() declares 9 parameters, more than the 8 a native function can take"
    )


# ---- module definition and state ------------------------------------------------------------


def test_state_strings_are_interned():
    numpy_text, empty = support.state_names()
    assert numpy_text is sys.intern("".join(["num", "py"]))
    assert empty == ""


def test_state_members_are_visited():
    marker = object()
    support.keep(marker)
    try:
        referents = gc.get_referents(support)
        assert any(r is marker for r in referents)
        assert any(r is support.Probe for r in referents)
    finally:
        support.keep(None)
    assert not any(r is marker for r in gc.get_referents(support))


def test_state_lookup_along_the_mro():
    class Sub(support.Probe):
        pass

    assert support.state_of(support.Probe) is support
    assert support.state_of(Sub) is support
    with pytest.raises(TypeError) as exc:
        support.state_of(int)
    assert str(exc.value) == "'int' does not derive from a type of module testing_support"


@pytest.mark.parametrize("held", ["Flag()", "[Flag(), m]"], ids=["plain", "cycle"])
def test_state_members_go_with_the_module(held):
    # Plain: the module's free drops what its state holds. Cycle (module -> state -> list ->
    # module): only collectable when the module's traverse visits its state.
    done = run_python(f"""
        import gc, sys
        import orbivex._testing
        import {NAME} as m

        class Flag:
            def __del__(self):
                print("gone")

        m.keep({held})
        del sys.modules["{NAME}"], orbivex._testing.testing_support, m
        gc.collect()
        print("end")
    """)
    assert done.stdout.split() == ["gone", "end"], done.stderr


def test_guard_is_set_only_by_a_successful_exec():
    done = run_python(
        f"""
        import importlib, importlib.util, os
        try:
            import {NAME}
        except RuntimeError as e:
            print("first:", e)
        del os.environ["ORBIVEX_TESTING_SUPPORT_FAIL"]
        m = importlib.import_module("{NAME}")
        importlib.reload(m)           # the same object again: harmless
        try:
            importlib.util.module_from_spec(m.__spec__)   # a second module object
        except RuntimeError as e:
            print("second:", e)
    """,
        env={"ORBIVEX_TESTING_SUPPORT_FAIL": "1"},
    )
    assert done.stdout.splitlines() == [
        "first: exec failed on request",
        "second: Module 'testing_support' has already been imported. Re-initialisation is not "
        "supported.",
    ], done.stderr


def test_state_of_an_unexecuted_module_is_refused():
    done = run_python(f"""
        import importlib.util, os
        spec = importlib.util.find_spec("{NAME}")
        m = importlib.util.module_from_spec(spec)   # created, exec not run: no state yet
        m.state_names()
    """)
    assert error_line(done) == "SystemError: testing_support: no module state"
