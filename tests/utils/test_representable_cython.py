"""A Cython consumer cimports Representable through its .pxd and derives a cdef class from it."""

import gc
import sys

import pytest

from orbivex.utils.representable import Representable
from tests.cython_build import build_consumer
from tests.helpers import Finalised

CONSUMER = """
from orbivex.utils.representable cimport Representable

cdef class Labelled(Representable):
    cdef public str label
    cdef object payload

    def __cinit__(self, *args, **kwargs):
        self.label = "?"

    def __init__(self, label, payload=None):
        self.label = label
        self.payload = payload

    def _get_header(self):
        return "Labelled " + self.label

    def _get_body(self):
        return "payload: " + repr(self.payload) + "\\n{fence}\\nend"

def base_size():
    return sizeof(Representable)
"""


@pytest.fixture(scope="module")
def consumer(tmp_path_factory):
    return build_consumer(
        tmp_path_factory.mktemp("representable_consumer"), "representable_consumer", CONSUMER
    )


def test_import_passes_the_size_check(consumer):
    # The module imported, so Cython's check of tp_basicsize against the .pxd struct held.
    assert consumer.base_size() == Representable.__basicsize__
    assert consumer.Labelled.__basicsize__ > Representable.__basicsize__
    assert consumer.Labelled.__mro__[1] is Representable


def test_cdef_subclass_text_and_dict(consumer):
    obj = consumer.Labelled("ISS", payload=[1, 2])
    assert obj.label == "ISS"
    assert repr(obj) == "Labelled ISS\n---------------\npayload: [1, 2]\n---------------\nend"
    obj.note = "in the dict"
    assert obj.__dict__ == {"note": "in the dict"}
    assert obj._format_as_property("Title") == "Title:"


def test_python_subclass_of_the_cdef_subclass(consumer):
    class Named(consumer.Labelled):
        def _get_header(self):
            return "Named"

    obj = Named("x", 5)
    obj.extra = 1
    assert repr(obj) == "Named\n----------\npayload: 5\n----------\nend"
    assert vars(obj) == {"extra": 1}


def test_cycles_through_fields_and_dict_are_collected(consumer):
    log = []
    labelled = consumer.Labelled
    before = sys.getrefcount(labelled)
    obj = labelled("cycle")
    obj.me = obj  # through the instance dict
    other = labelled("other", payload=obj)  # through a cdef field
    obj.other = other
    obj.flag = Finalised(log)
    del obj, other
    gc.collect()
    assert log == ["finalised"]
    assert sys.getrefcount(labelled) == before
