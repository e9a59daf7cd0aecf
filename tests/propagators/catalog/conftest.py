"""Fixtures of the element-set kernel tests: the shim built with the project's flags, once with
the whole-line SSE2 path and once with the byte-by-byte fallback."""

import importlib.util
import shutil
import sys

import pytest

from .kernel import ROOT, Kernel, build


def _need_toolchain():
    if not (ROOT / "native" / "kernels").is_dir():
        pytest.skip("tests run without the source tree")
    if shutil.which("c++") is None:
        pytest.skip("no C++ compiler")


@pytest.fixture(scope="session")
def kernel(tmp_path_factory):
    _need_toolchain()
    return Kernel(build(tmp_path_factory.mktemp("catalog") / "shim.so"))


@pytest.fixture(scope="session")
def scalar_kernel(tmp_path_factory):
    _need_toolchain()
    return Kernel(
        build(tmp_path_factory.mktemp("catalog") / "shim_scalar.so", "-DORBIVEX_TLE_NO_SIMD")
    )


@pytest.fixture(scope="session", params=["sse2", "scalar"])
def both_kernels(request):
    return request.getfixturevalue("kernel" if request.param == "sse2" else "scalar_kernel")


@pytest.fixture(scope="session")
def generator():
    """tools/make_catalog.py as a module."""
    path = ROOT / "tools" / "make_catalog.py"
    if not path.is_file():
        pytest.skip("tests run without the source tree")
    spec = importlib.util.spec_from_file_location("make_catalog", path)
    module = importlib.util.module_from_spec(spec)
    sys.modules[spec.name] = module  # its dataclass looks the module up while it is defined
    spec.loader.exec_module(module)
    return module


@pytest.fixture(scope="session")
def TLE():
    tle = pytest.importorskip("orbivex.propagators.analytical.sgp4.tle")
    return tle.TLE
