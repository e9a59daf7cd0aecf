"""Tests of the native Representable base: layout, construction, __dict__, text services, GC."""

import copy
import gc
import pickle
import struct
import sys

import pytest

from orbivex.utils.representable import Representable
from tests.helpers import Finalised

POINTER = struct.calcsize("P")
Py_TPFLAGS_HAVE_GC = 1 << 14
Py_TPFLAGS_BASETYPE = 1 << 10


class Titled(Representable):
    def __init__(self, header, body):
        self.header, self.body = header, body

    def _get_header(self):
        return self.header

    def _get_body(self):
        return self.body


class TestLayout:
    def test_object_head_and_one_dict_pointer(self):
        # ob_refcnt, ob_type, then the dict: what `cdef dict __dict__` in the .pxd describes.
        assert Representable.__basicsize__ == 3 * POINTER == 24
        assert Representable.__dictoffset__ == 2 * POINTER
        assert Representable.__weakrefoffset__ == 0
        assert Representable.__itemsize__ == 0

    def test_flags_and_protocols(self):
        assert Representable.__flags__ & Py_TPFLAGS_HAVE_GC
        assert Representable.__flags__ & Py_TPFLAGS_BASETYPE
        assert Representable.__module__ == "orbivex.utils.representable"
        # The default reduce protocol is kept, so subclasses can refuse pickling on their own.
        assert "__reduce__" not in vars(Representable)
        assert "__reduce_ex__" not in vars(Representable)


class TestConstruction:
    @pytest.mark.parametrize(
        "args, kwargs",
        [((), {}), ((1, "two"), {}), ((), {"x": 3}), ((None,), {"line1": "a", "satname": "b"})],
    )
    def test_arguments_are_accepted_and_ignored(self, args, kwargs):
        r = Representable(*args, **kwargs)
        assert vars(r) == {}
        assert Representable.__new__(Representable, *args, **kwargs).__dict__ == {}
        assert Representable.__init__(r, *args, **kwargs) is None

    def test_instance_dict(self):
        r = Representable()
        r.name = "ISS"
        assert r.__dict__ == {"name": "ISS"} and r.name == "ISS"
        r.__dict__ = {"other": 1}
        assert r.other == 1 and not hasattr(r, "name")
        del r.other
        assert vars(r) == {}
        with pytest.raises(TypeError):
            r.__dict__ = 5

    def test_python_subclass_keeps_one_dict(self):
        t = Titled("h", "b")
        assert t.__dict__ == {"header": "h", "body": "b"}
        assert type(t).__dictoffset__ == Representable.__dictoffset__

    def test_copy_and_pickle_keep_the_dict(self):
        t = Titled("head", "body")
        t.extra = [1, 2]
        for clone in (copy.copy(t), copy.deepcopy(t), pickle.loads(pickle.dumps(t))):
            assert type(clone) is Titled and vars(clone) == vars(t) and clone is not t


class TestText:
    def test_repr_joins_header_rule_and_body_with_fences(self):
        t = Titled("Title", "first line\n{fence}\na much longer line\n{fence} \nend")
        rule = "-" * len("a much longer line")
        expected = f"Title\n{rule}\nfirst line\n{rule}\na much longer line\n{{fence}} \nend"
        assert repr(t) == str(t) == expected

    @pytest.mark.parametrize(
        "header, body, expected",
        [
            ("A wide header line", "x", "A wide header line\n" + "-" * 18 + "\nx"),
            ("H", "", "H\n-\n"),
            ("H", "{fence}", "H\n-\n-"),
            ("Hé", "ünïcode\n{fence}", "Hé\n-------\nünïcode\n-------"),
        ],
    )
    def test_rule_width(self, header, body, expected):
        assert repr(Titled(header, body)) == expected

    def test_without_hooks_the_default_repr(self):
        r = Representable()
        assert repr(r) == str(r) == object.__repr__(r)

        class HeaderOnly(Representable):
            def _get_header(self):
                return "H"

        h = HeaderOnly()
        assert repr(h).startswith("<") and "HeaderOnly object at" in repr(h)

    @pytest.mark.parametrize(
        "header, error, message",
        [
            (lambda self: 42, TypeError, r"_get_header\(\) must return a str, not 'int'"),
            (lambda self: 1 / 0, ZeroDivisionError, "division"),
            (lambda self: self.missing_attribute, AttributeError, "missing_attribute"),
        ],
    )
    def test_hook_errors_propagate(self, header, error, message):
        broken = type(
            "Broken", (Representable,), {"_get_header": header, "_get_body": lambda self: "b"}
        )
        with pytest.raises(error, match=message):
            repr(broken())

    def test_formatted_form(self):
        r = Representable()
        text = r._create_formatted_form(
            {"epoch": "2024-01-01T00:00:00.000000 UTC", "frame": "TEME", "a longer label": 7}
        )
        assert text == (
            "epoch          : 2024-01-01T00:00:00.000000 UTC\n"
            "frame          : TEME\n"
            "a longer label : 7"
        )
        assert r._create_formatted_form({}) == ""

    def test_formatted_frame(self):
        data = {
            "SI units": {"ecc": "0.0001000", "sma": "6778137.000 m"},
            "Op. units": {"ecc": "0.0001000", "sma": "6778.137 km"},
        }
        assert Representable()._create_formatted_frame(data) == (
            "           SI units     Op. units\n"
            "ecc       0.0001000     0.0001000\n"
            "sma   6778137.000 m   6778.137 km"
        )

    def test_formatted_frame_with_uneven_rows(self):
        data = {"A": {"x": 1}, "Long title": {"y": 2.5, "x": None}}
        assert Representable()._create_formatted_frame(data) == (
            "    A   Long title\nx   1         None\ny              2.5"
        )
        assert Representable()._create_formatted_frame({}) == ""

    @pytest.mark.parametrize(
        "title, expected",
        [
            ("Orbital Elements:", "Orbital Elements:"),
            ("Derived Elements", "Derived Elements:"),
            ("", ":"),
        ],
    )
    def test_format_as_property(self, title, expected):
        assert Representable()._format_as_property(title) == expected

    @pytest.mark.parametrize(
        "method, argument, message",
        [
            ("_create_formatted_form", ["epoch"], "expects a dict from label to text, not 'list'"),
            (
                "_create_formatted_frame",
                {"A": "x"},
                "expects a dict from column title .* not 'str'",
            ),
            ("_create_formatted_frame", None, "not 'NoneType'"),
        ],
    )
    def test_service_argument_errors(self, method, argument, message):
        with pytest.raises(TypeError, match=message):
            getattr(Representable(), method)(argument)


class TestCollection:
    @pytest.mark.parametrize("cls", [Representable, Titled])
    def test_cycle_through_dict_is_collected(self, cls):
        log = []
        obj = cls.__new__(cls)
        assert gc.is_tracked(obj)
        obj.me = obj
        obj.flag = Finalised(log)
        del obj
        gc.collect()
        assert log == ["finalised"]

    @pytest.mark.parametrize("cls", [Representable, Titled])
    def test_instances_do_not_leak_their_type(self, cls):
        before = sys.getrefcount(cls)
        objs = [cls.__new__(cls) for _ in range(100)]
        assert sys.getrefcount(cls) == before + 100
        del objs
        assert sys.getrefcount(cls) == before
