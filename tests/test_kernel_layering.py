"""The kernels stay pure C++: no header under native/kernels reaches Python or NumPy."""

import re
from pathlib import Path

import pytest

KERNELS = Path(__file__).resolve().parent.parent / "native" / "kernels"
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', re.MULTILINE)


@pytest.mark.skipif(not KERNELS.is_dir(), reason="tests run without the source tree")
def test_kernels_include_no_python_headers():
    headers = sorted(KERNELS.rglob("*.hpp")) + sorted(KERNELS.rglob("*.h"))
    assert headers, "no kernel headers found"
    offending = {
        str(h.relative_to(KERNELS)): inc
        for h in headers
        for inc in INCLUDE.findall(h.read_text())
        if inc == "Python.h" or inc.startswith(("numpy/", "support/"))
    }
    assert offending == {}
