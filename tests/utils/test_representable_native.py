"""A C++ subclass of Representable following modules/representable/representable.hpp, and the
checks of import_representable(); the probe is compiled from the repository's sources for the
test."""

import gc
import importlib.util
import subprocess
import sys
import sysconfig
import types
from pathlib import Path

import pytest

from orbivex.utils.representable import Representable
from tests.helpers import Finalised

HERE = Path(__file__).resolve().parent
NATIVE = HERE.parents[1] / "native"

pytestmark = pytest.mark.skipif(
    not (NATIVE / "modules" / "representable").is_dir(),
    reason="needs the repository's native sources",
)


@pytest.fixture(scope="module")
def probe(tmp_path_factory):
    out_dir = tmp_path_factory.mktemp("probe")
    out = out_dir / f"representable_probe{sysconfig.get_config_var('EXT_SUFFIX')}"
    cmd = [
        "c++",
        "-std=c++20",
        "-O1",
        "-shared",
        "-fPIC",
        "-Wall",
        "-Wextra",
        "-I",
        sysconfig.get_paths()["include"],
        "-I",
        str(NATIVE),
        str(HERE / "representable_probe.cpp"),
        "-o",
        str(out),
    ]
    done = subprocess.run(cmd, capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    spec = importlib.util.spec_from_file_location("representable_probe", out)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def test_native_subclass(probe):
    obj = probe.Probe([1], "ignored", key="ignored too")
    assert isinstance(obj, Representable) and obj.payload == [1]
    assert probe.Probe.__basicsize__ == Representable.__basicsize__ + 8
    assert repr(obj) == "Probe\n-----------\npayload [1]\n-----------"
    obj.extra = 2
    assert vars(obj) == {"extra": 2}


def test_native_subclass_collection_and_type_references(probe):
    log = []
    cls = probe.Probe
    gc.collect()
    before = sys.getrefcount(cls)
    holder = [Finalised(log)]
    a = cls(holder)  # cycle through the C++ field
    holder.append(a)
    b = cls()
    b.me = b  # cycle through the instance dict
    plain = [cls(i) for i in range(50)]
    del a, b, holder, plain
    gc.collect()
    assert log == ["finalised"]
    after = sys.getrefcount(cls)
    assert after == before


def test_python_subclass_of_the_native_subclass(probe):
    class Sub(probe.Probe):
        def _get_header(self):
            return "Sub"

    before = sys.getrefcount(Sub)
    s = Sub("x")
    s.me = s
    assert repr(s) == "Sub\n-----------\npayload 'x'\n-----------"
    del s
    gc.collect()
    after = sys.getrefcount(Sub)
    assert after == before


@pytest.mark.parametrize(
    "fake, error, message",
    [
        (None, AttributeError, "Representable"),
        (42, TypeError, "orbivex.utils.representable.Representable is not a type object"),
        (
            type("Representable", (), {"__slots__": ("a", "b")}),
            ValueError,
            r"size changed, may indicate binary incompatibility. Expected 24 from C header, got 32",
        ),
        (
            type("Representable", (), {"__slots__": ("a",)}),
            TypeError,
            "keeps its instance dict at offset 0, not 16",
        ),
    ],
)
def test_import_checks(probe, monkeypatch, fake, error, message):
    assert probe.import_base() is Representable
    module = types.ModuleType("orbivex.utils.representable")
    if fake is not None:
        module.Representable = fake
    monkeypatch.setitem(sys.modules, "orbivex.utils.representable", module)
    with pytest.raises(error, match=message):
        probe.import_base()
