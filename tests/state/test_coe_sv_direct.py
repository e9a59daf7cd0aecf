"""The state-vector functions read exact ndarrays directly (shape checks, reshape, record and
result layouts) and keep numpy's functions while nothing has changed them: each outcome must
equal that of the general path (an ndarray subclass, a buffer request, a fresh lookup)."""

import types
import warnings

import numpy as np
import pytest

import orbivex.state.coe as coe
from orbivex.datamodel import COE_dt
from tests.helpers import last_line, run_python


class Plain(np.ndarray):
    """Not an exact ndarray: the general path, with the same items and buffer."""


def outcome(f, *args):
    try:
        got = f(*args)
    except Exception as e:  # noqa: BLE001 - the outcome is the exception itself
        return (type(e).__name__, str(e))
    parts = got if isinstance(got, tuple) else (got,)
    return tuple((a.dtype.descr, a.shape, a.tobytes()) for a in parts)


def named(names, formats="f8", **extra):
    return np.dtype({"names": list(names), "formats": [formats] * len(names), **extra})


SEVEN = [f"x{i}" for i in range(7)]
RECORD_DTYPES = {
    "COE_dt": COE_dt,
    "other names": named(SEVEN),
    "non-ASCII names": named([f"é{i}" for i in range(7)]),
    "braces in a name": named(["}{"] + SEVEN[1:]),
    "colon in a name": named(["a:b"] + SEVEN[1:]),
    "NUL in a name": named(["a\0b"] + SEVEN[1:]),
    "titles": named(SEVEN, titles=[f"t{i}" for i in range(7)]),
    "aligned": np.dtype([(n, "f8") for n in SEVEN], align=True),
    "padded": named(SEVEN, offsets=[8 * i for i in range(7)], itemsize=64),
    "reordered offsets": named(SEVEN, offsets=[8 * (6 - i) for i in range(7)]),
    "gap": named(SEVEN, offsets=[0, 8, 16, 24, 32, 40, 56], itemsize=64),
    "big-endian": named(SEVEN, ">f8"),
    "explicit native": named(SEVEN, "=f8"),
    "float32": named(SEVEN, "f4"),
    "six fields": named(SEVEN[:6]),
    "eight fields": named(SEVEN + ["x7"]),
    "sub-arrays": np.dtype([(n, "f8", (1,)) for n in SEVEN]),
    "nested": np.dtype([("x0", [("p", "f8")])] + [(n, "f8") for n in SEVEN[1:]]),
    "metadata": np.dtype([(n, np.dtype("f8", metadata={"k": 1})) for n in SEVEN]),
    "plain double": np.dtype("f8"),
}


def records(dtype, n=5):
    a = np.zeros(n, dtype)
    if dtype.names and len(dtype.names) == 7 and all(dtype[k] == np.float64 for k in range(7)):
        rng = np.random.default_rng(3)
        for k, name in enumerate(dtype.names):
            a[name] = rng.uniform(0.1, 1.0, n) * (7e6 if k == 6 else 3.0)
    return a


@pytest.mark.parametrize("name", RECORD_DTYPES)
def test_record_layouts_as_the_buffer_request_takes_them(name):
    a = records(RECORD_DTYPES[name])
    for view in (a, a[::2], a.reshape(1, -1)):
        assert outcome(coe.sv_from_coe, view) == outcome(coe.sv_from_coe, view.view(Plain))
    accepted = not isinstance(outcome(coe.sv_from_coe, a)[0], str)
    a.flags.writeable = False
    got = outcome(coe.sv_from_coe, a)
    assert got == outcome(coe.sv_from_coe, a.view(Plain))
    assert (got == ("ValueError", "buffer source array is read-only")) == accepted


@pytest.mark.parametrize("name", RECORD_DTYPES)
def test_result_layouts_as_the_buffer_request_takes_them(name, monkeypatch):
    r, v = np.array([[7e6, 1e5, 3e4], [7.1e6, 2e5, 1e4]]), np.array([[10.0, 7500.0, 900.0]] * 2)
    monkeypatch.setattr(coe, "COE_dt", RECORD_DTYPES[name])
    direct = outcome(coe.coe_from_sv, r, v)
    monkeypatch.setattr(
        coe,
        "numpy",
        types.SimpleNamespace(
            zeros=lambda shape, dtype: np.zeros(shape, dtype).view(Plain), asarray=np.asarray
        ),
    )
    assert direct == outcome(coe.coe_from_sv, r, v)


@pytest.mark.parametrize(
    "make",
    [
        lambda shape, dtype: np.zeros(shape * 56 + 1, np.uint8)[1:].view(dtype),
        lambda shape, dtype: np.zeros(shape * 2, dtype)[::2],
    ],
)
def test_element_results_of_any_layout_get_the_same_bits(make, monkeypatch):
    rng = np.random.default_rng(8)
    r, v = rng.normal(size=(9, 3)) * 7e6, rng.normal(size=(9, 3)) * 5e3
    expected = [
        outcome(coe.coe_from_sv, a, b)
        for a, b in ((r, v), (np.asfortranarray(r), v), (r[:, ::-1], v[::-1]))
    ]
    monkeypatch.setattr(
        coe, "numpy", types.SimpleNamespace(zeros=make, asarray=lambda x: np.ascontiguousarray(x))
    )
    assert [
        outcome(coe.coe_from_sv, a, b)
        for a, b in ((r, v), (np.asfortranarray(r), v), (r[:, ::-1], v[::-1]))
    ] == expected


def test_renaming_a_checked_dtype_is_seen():
    dtype = named(SEVEN)
    a = records(dtype)
    before = coe.sv_from_coe(a)
    dtype.names = ("a:b",) + dtype.names[1:]
    assert outcome(coe.sv_from_coe, a) == outcome(coe.sv_from_coe, a.view(Plain))
    assert outcome(coe.sv_from_coe, a)[0] == "ValueError"
    dtype.names = tuple(SEVEN)
    assert outcome(coe.sv_from_coe, a) == outcome(lambda: before)


@pytest.mark.parametrize(
    "make",
    [
        lambda shape, dtype: np.zeros(shape, dtype, order="F"),
        lambda shape, dtype: np.zeros((shape[0], 4), dtype)[:, 1:],
        lambda shape, dtype: np.zeros((shape[0] * 2, 3), dtype)[::2],
        lambda shape, dtype: np.zeros(shape, dtype).view(Plain),
        lambda shape, dtype: (
            np.zeros(np.prod(shape) * 8 + 1, np.uint8)[1:].view(dtype).reshape(shape)
        ),
    ],
)
def test_state_results_of_any_layout_get_the_same_bits(make, monkeypatch):
    elements = coe.coe_from_sv(
        np.random.default_rng(4).normal(size=(9, 3)) * 7e6,
        np.random.default_rng(5).normal(size=(9, 3)) * 5e3,
    )
    expected = outcome(coe.sv_from_coe, elements)
    monkeypatch.setattr(
        coe,
        "numpy",
        types.SimpleNamespace(
            zeros=make, double=np.double, asarray=lambda x: np.ascontiguousarray(x)
        ),
    )
    assert outcome(coe.sv_from_coe, elements) == expected


@pytest.mark.parametrize(
    "make, error",
    [
        (lambda shape, dtype: np.zeros(shape, np.float32), "ValueError"),
        (lambda shape, dtype: np.zeros(shape, ">f8"), "ValueError"),
        (lambda shape, dtype: np.zeros(shape[::-1], dtype).T, None),
        (lambda shape, dtype: np.zeros(shape[0] * 3, dtype), "ValueError"),
        (lambda shape, dtype: np.broadcast_to(np.zeros(3), shape), "ValueError"),
        (lambda shape, dtype: np.zeros((shape[0] - 1, 3), dtype), "IndexError"),
    ],
)
def test_state_result_refusals_match_the_buffer_request(make, error, monkeypatch):
    one = coe.coe_from_sv(np.array([7e6, 1e5, 3e4]), np.array([10.0, 7.5e3, 9e2]))
    elements = np.resize(one, 4)
    got = []
    for wrap in (lambda a: a, lambda a: a.view(Plain)):
        monkeypatch.setattr(
            coe,
            "numpy",
            types.SimpleNamespace(
                zeros=lambda shape, dtype, wrap=wrap: wrap(make(shape, dtype)),
                double=np.double,
                asarray=np.asarray,
            ),
        )
        got.append(outcome(coe.sv_from_coe, elements))
    assert got[0] == got[1]
    assert got[0][0] == error if error else not isinstance(got[0][0], str)


# Shape pairs for coe_from_sv, with assertions on (this process) and off (python -O).
SHAPES = [
    ((3,), (3,)),
    ((3,), (1, 3)),
    ((1, 3), (3,)),
    ((4,), (4,)),
    ((2,), (2,)),
    ((4, 3), (5, 3)),
    ((5, 3), (4, 3)),
    ((2, 2), (2, 2)),
    ((2, 4), (2, 4)),
    ((2, 3), (2, 4)),
    ((), ()),
    ((1, 1, 3), (1, 1, 3)),
    ((0, 3), (0, 3)),
    ((3,), (2, 3)),
]


def shape_outcomes():
    rng = np.random.default_rng(6)
    rows = []
    for rs, vs in SHAPES:
        r, v = rng.normal(size=rs) * 7e6, rng.normal(size=vs) * 5e3
        rows.append(
            [
                outcome(coe.coe_from_sv, r, v),
                outcome(coe.coe_from_sv, r.view(Plain), v.view(Plain)),
                outcome(coe.coe_from_sv, r.view(Plain), v),
                outcome(coe.coe_from_sv, r, v.view(Plain)),
            ]
        )
    return rows


def test_shape_checks_and_reshape_match_the_general_path():
    for row, shapes in zip(shape_outcomes(), SHAPES, strict=True):
        assert row[0] == row[1] == row[2] == row[3], shapes


def test_shape_handling_without_assertions_matches_the_general_path():
    done = run_python(
        """
        from tests.state.test_coe_sv_direct import shape_outcomes
        print(all(row[0] == row[1] == row[2] == row[3] for row in shape_outcomes()),
              sum(row[0][0] in ("ValueError", "IndexError") for row in shape_outcomes()))
        """,
        "-O",
    )
    ok, errors = last_line(done).split()
    assert ok == "True" and int(errors) >= 4, done.stderr


def test_numpy_functions_are_looked_up_again_after_a_change(monkeypatch):
    r, v = np.array([7e6, 1e5, 3e4]), np.array([10.0, 7500.0, 900.0])
    elements = coe.coe_from_sv(r, v)
    coe.sv_from_coe(elements)  # the functions are now known
    seen = []

    def recording(name):
        real = getattr(np, name)
        return lambda *a, **k: seen.append(name) or real(*a, **k)

    for name in ("zeros", "asarray"):
        monkeypatch.setattr(np, name, recording(name))
    coe.coe_from_sv(r, v)
    coe.sv_from_coe(elements)
    assert seen == ["zeros", "asarray", "zeros", "zeros", "asarray", "asarray"]
    monkeypatch.undo()
    monkeypatch.setattr(np, "double", np.float32)
    with pytest.raises(ValueError, match="expected 'double'"):
        coe.sv_from_coe(elements)
    monkeypatch.undo()
    other = named(SEVEN)
    monkeypatch.setattr(coe, "COE_dt", other)
    assert coe.coe_from_sv(r, v).dtype == other
    monkeypatch.setattr(
        coe,
        "numpy",
        types.SimpleNamespace(
            zeros=lambda shape, dtype: seen.append("own") or np.zeros(shape, dtype),
            double=np.double,
            asarray=np.asarray,
        ),
    )
    coe.sv_from_coe(elements)
    assert seen[-2:] == ["own", "own"]


def test_a_numpy_module_of_another_class_is_asked():
    done = run_python("""
        import types
        import numpy as np
        import orbivex.state.coe as coe
        elements = coe.coe_from_sv(np.array([7e6, 1e5, 3e4]), np.array([10.0, 7.5e3, 9e2]))
        coe.sv_from_coe(elements)
        seen = []
        class Module(types.ModuleType):
            @property
            def zeros(self):
                seen.append("zeros")
                return self.__dict__["zeros"]
        np.__class__ = Module
        coe.sv_from_coe(elements)
        np.__class__ = types.ModuleType
        coe.sv_from_coe(elements)
        print(seen)
        """)
    assert last_line(done) == "['zeros', 'zeros']", done.stderr


def test_a_result_given_a_new_shape_during_the_loop_is_still_filled(monkeypatch):
    # The result array is held by numpy.zeros_like's stand-in, and an element's conversion
    # gives it another number of dimensions (which frees its old shape) in mid-loop.
    kept, junk = [], []

    def zeros_like(x):
        kept.append(np.zeros(len(x)))
        return kept[-1]

    class Reshaping:
        def __init__(self, value):
            self.value = value

        def __float__(self):
            if kept and kept[-1].ndim == 1:
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore", DeprecationWarning)  # setting a shape
                    kept[-1].shape = (1, len(kept[-1]))
                # New arrays, which may take over the memory of the old shape.
                junk.extend(np.empty(0) for _ in range(8))
            return self.value

    x = np.array([7e6, 8e6, 9e6, 1e7])
    items = np.array([Reshaping(float(a)) for a in x], object).view(Plain)
    monkeypatch.setattr(
        coe, "numpy", types.SimpleNamespace(zeros_like=zeros_like, asarray=np.asarray)
    )
    got = coe.orp_from_sma(items)
    assert got.shape == (1, 4)
    assert got.ravel().tobytes() == np.array([coe.orp_from_sma(a) for a in x]).tobytes()
