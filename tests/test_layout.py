"""The test folders mirror the package: each is named after a subpackage or module of orbivex."""

from pathlib import Path

import orbivex

TESTS = Path(__file__).resolve().parent
PACKAGE = Path(orbivex.__file__).resolve().parent
# The native support layer has no Python package of its own; its tests live in tests/support.
NOT_IN_PACKAGE = {"support"}


def test_each_test_folder_names_a_part_of_the_package():
    folders = {p.parent.name for p in TESTS.glob("*/__init__.py")}
    assert folders, "no test folders found"
    parts = {p.name for p in PACKAGE.iterdir() if (p / "__init__.py").is_file()}
    parts |= {p.stem for p in PACKAGE.glob("*.py") if p.stem != "__init__"}
    assert sorted(folders - parts - NOT_IN_PACKAGE) == []
