"""The support layer's checked buffer views: the format predicates, the ndarray shortcut against
the buffer request it stands for, and the error texts, through the test-only testing_support."""

import array

import numpy as np
import pytest

support = pytest.importorskip("orbivex._testing.testing_support")

DIMS = "Buffer has wrong number of dimensions (expected {}, got {})"
DTYPE = "Buffer dtype mismatch, expected 'double' but got '{}'"
RECORD = (
    "Buffer dtype mismatch, expected 'Rec_t' (3 float64 fields, 24 bytes) but got format "
    "'{}' of {} bytes"
)


@pytest.mark.parametrize("fmt", ["d", "@d", "=d", "^d", "<d"])
def test_native_double_formats(fmt):
    assert support.double_format(fmt)


@pytest.mark.parametrize("fmt", [">d", "!d", "f", "<f", "dd", "2d", "", "B", "q", "d:x:", "@@d"])
def test_other_formats(fmt):
    assert not support.double_format(fmt)


@pytest.mark.parametrize(
    "fmt, fields",
    [
        ("T{d:a:d:b:d:c:}", 3),
        ("^T{<d:ecc:=d:sma:}", 2),
        ("T{d:a:f:b:}", -1),
        ("T{d:a:2d:b:}", -1),
        ("T{d:a:T{d:x:}:b:}", -1),
        ("T{d:a:xd:b:}", -1),
        ("T{d:a:d:b}", -1),
        ("T{>d:a:}", -1),
        ("d", -1),
        ("", -1),
    ],
)
def test_record_formats(fmt, fields):
    assert support.double_fields(fmt) == fields


def exporters(a):
    """The same data as an exact ndarray (read directly), as a subclass and, where NumPy can
    export it, through a memoryview (both by a buffer request)."""
    objs = [a, a.view(type("Sub", (np.ndarray,), {}))]
    try:
        objs.append(memoryview(a))
    except ValueError:
        pass
    return objs


@pytest.mark.parametrize(
    "base",
    [np.arange(6.0), np.arange(12.0)[::2], np.arange(12.0).reshape(3, 4)[:, 1], np.zeros(0)],
    ids=["packed", "strided", "column", "empty"],
)
def test_direct_read_and_buffer_request_agree(base):
    first = base[0] if base.size else None
    seen = [support.view_doubles(obj, 1, True) for obj in exporters(base)]
    assert seen[0] == (base.shape, base.strides, first)
    if base.size:
        assert seen[1][:2] == seen[2][:2] == seen[0][:2]
        assert seen[1][2] == seen[2][2] == base[0] == -1.5  # each wrote through what it read
    else:  # NumPy exports an empty array with the item size as stride; nothing is read
        assert seen[1][0] == seen[2][0] == (0,)


def test_two_dimensions_and_other_exporters():
    a = np.zeros((2, 5))
    assert support.view_doubles(a.T, 2, False)[:2] == ((5, 2), (8, 40))
    buf = array.array("d", [2.0, 3.0])
    assert support.view_doubles(buf, 1, True) == ((2,), (8,), 2.0)
    assert buf[0] == -1.5


@pytest.mark.parametrize(
    "obj, ndim, writable, message",
    [
        (np.zeros(3, np.float32), 1, True, DTYPE.format("f")),
        (np.zeros(3, ">f8"), 1, False, DTYPE.format(">d")),
        (np.zeros(3, np.int64), 1, True, DTYPE.format("l")),
        (b"12345678", 1, False, DTYPE.format("B")),
        (np.zeros((2, 2)), 1, True, DIMS.format(1, 2)),
        (np.zeros(4), 2, False, DIMS.format(2, 1)),
        (np.float64(1.0), 1, False, DIMS.format(1, 0)),
    ],
)
def test_refusals_are_worded_alike_on_every_path(obj, ndim, writable, message):
    objs = exporters(obj) if isinstance(obj, np.ndarray) else [obj]
    for o in objs:
        with pytest.raises(ValueError) as exc:
            support.view_doubles(o, ndim, writable)
        assert str(exc.value) == message


def test_read_only_data():
    a = np.arange(3.0)
    a.flags.writeable = False
    for o in exporters(a):
        assert support.view_doubles(o, 1, False)[2] == 0.0
        with pytest.raises(ValueError) as exc:
            support.view_doubles(o, 1, True)
        assert str(exc.value) == "buffer source array is read-only"
    # The layout is reported before the write access.
    f = np.zeros(3, np.float32)
    f.flags.writeable = False
    with pytest.raises(ValueError, match="dtype mismatch"):
        support.view_doubles(f, 1, True)


def test_not_a_buffer():
    with pytest.raises(TypeError, match="a bytes-like object is required, not 'list'"):
        support.view_doubles([1.0], 1, False)


REC = np.dtype([("a", "f8"), ("b", "f8"), ("c", "f8")])


def test_records():
    r = np.zeros(4, REC)
    for o in exporters(r):
        assert support.view_records(o, 1, 3) == ((4,), (24,), None)
    assert support.view_records(r[::2], 1, 3)[1] == (48,)


@pytest.mark.parametrize(
    "dtype",
    [
        np.dtype([("a", "f8"), ("b", "f8")]),
        np.dtype([("a", "f8"), ("b", "f4"), ("c", "f8")]),
        np.dtype([("a", "f8"), ("b", ">f8"), ("c", "f8")]),
        np.dtype([("a", "f8"), ("b", "f8", (2,))]),
        np.dtype({"names": ["a", "b", "c"], "formats": ["f8"] * 3, "offsets": [8, 0, 16]}),
    ],
    ids=["two", "float32", "swapped", "subarray", "reordered"],
)
def test_other_records_are_refused_alike(dtype):
    messages = set()
    for o in exporters(np.zeros(2, dtype)):
        with pytest.raises(ValueError) as exc:
            support.view_records(o, 1, 3)
        messages.add(str(exc.value))
    assert len(messages) == 1
    if dtype.names == ("a", "b", "c") and dtype.fields["a"][1] == 8:
        assert "not representable as buffers" in messages.pop()  # NumPy's own refusal
    else:
        assert messages.pop().startswith("Buffer dtype mismatch, expected 'Rec_t' (3 float64")


def test_record_refusal_text():
    two = np.zeros(2, np.dtype([("a", "f8"), ("b", "f8")]))
    with pytest.raises(ValueError) as exc:
        support.view_records(two, 1, 3)
    assert str(exc.value) == RECORD.format(memoryview(two).format, 16)
    with pytest.raises(ValueError) as exc:
        support.view_records(np.zeros(2, REC)[0], 1, 3)
    assert str(exc.value) == DIMS.format(1, 0)
