"""A Cython subclass of the native Time: Cython builds it as a static type deriving from our heap
type, which is what every lookup of the module state and the deallocation must allow."""

import sys

import numpy as np
import pytest

from orbivex.time.time import Time
from tests.cython_build import build_consumer

# Time has no declaration file: the consumer declares the layout it derives from itself.
CONSUMER = '''
cdef extern from *:
    """
    typedef struct { PyObject_HEAD long long ns; PyObject* values; } orbivex_TimeObject;
    """
    ctypedef class orbivex.time.ctime.Time [object orbivex_TimeObject]:
        cdef long long ns
        cdef object values

cdef class Shifted(Time):
    """Carries a field of its own after the base part."""
    cdef public long long tag

    def __cinit__(self, *args, **kwargs):
        self.tag = self.ns + 1

def ns_of(Time t):
    return t.ns
'''


@pytest.fixture(scope="module")
def consumer(tmp_path_factory):
    return build_consumer(tmp_path_factory.mktemp("time_consumer"), "time_consumer", CONSUMER)


def test_a_cython_subclass_constructs_and_reads_the_state(consumer):
    t = consumer.Shifted("2024-03-01T12:00")
    plain = Time("2024-03-01T12:00")
    assert isinstance(t, Time) and t.int64 == plain.int64 and t.tag == plain.int64 + 1
    assert consumer.ns_of(t) == plain.int64
    # Each of these looks the module state up from the subclass.
    assert t == plain and plain == t and not t < plain
    assert t.datetime64 == plain.datetime64 and repr(t.utc) == repr(plain.utc)
    assert consumer.Shifted(2460310.5, format="jd") == Time("2024")

    a = consumer.Shifted(["2024", "2000"])
    assert a[0] == Time("2024") and type(a[1:]) is Time
    assert a.int64.tolist() == Time(["2024", "2000"]).int64.tolist()


def test_a_python_subclass_of_the_cython_subclass(consumer):
    class FromPython(consumer.Shifted):
        pass

    t = FromPython(np.datetime64("2000-01-01"))
    assert t == Time("2000") and t.tag == Time("2000").int64 + 1


def test_errors_propagate_through_the_subclass(consumer):
    with pytest.raises(ValueError, match="outside the nanosecond range"):
        consumer.Shifted(2**63)
    with pytest.raises(TypeError, match=r"Time\(\) takes at most 3"):
        consumer.Shifted(1, None, None, None)


def test_instances_of_a_static_subclass_leave_its_references_alone(consumer):
    # A static type is not referenced by its instances: dropping one must not drop the type.
    Shifted = consumer.Shifted
    before = sys.getrefcount(Shifted)
    for _ in range(100):
        Shifted(0)
        Shifted([1, 2])
    assert sys.getrefcount(Shifted) == before
