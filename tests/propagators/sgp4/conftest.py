"""Fixtures of the SGP4/SDP4 kernel tests: the shim built with the project's flags, and
python-sgp4 (its compiled propagator) as the reference."""

import shutil

import pytest

from .kernel import ROOT, Kernel, build


@pytest.fixture(scope="session")
def kernel(tmp_path_factory):
    if not (ROOT / "native" / "kernels").is_dir():
        pytest.skip("tests run without the source tree")
    if shutil.which("c++") is None:
        pytest.skip("no C++ compiler")
    return Kernel(build(tmp_path_factory.mktemp("sgp4") / "shim.so"))


@pytest.fixture(scope="session")
def api():
    api = pytest.importorskip("sgp4.api")
    if not api.accelerated:
        pytest.skip("python-sgp4 without its compiled propagator")
    return api


@pytest.fixture(scope="session")
def sgp4_package(api):
    import sgp4

    return sgp4
