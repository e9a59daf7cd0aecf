"""Builds the release wheel and sdist and checks what they carry: typing and Cython declarations,
the licence, no test-only modules, no C++ sources in the wheel."""

import subprocess
import sys
import tarfile
import tempfile
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def build(kind: str, out: Path) -> Path:
    code = f"from scikit_build_core.build import build_{kind} as b; print(b({str(out)!r}))"
    subprocess.run([sys.executable, "-c", code], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    (found,) = out.glob("*.whl" if kind == "wheel" else "*.tar.gz")
    return found


def main() -> int:
    problems = []
    with tempfile.TemporaryDirectory() as tmp:
        wheel = build("wheel", Path(tmp))
        names = zipfile.ZipFile(wheel).namelist()
        meta = next(n for n in names if n.endswith(".dist-info/METADATA"))
        metadata = zipfile.ZipFile(wheel).read(meta).decode()
        if not any(
            n.endswith(".dist-info/licenses/LICENSE") or n.endswith(".dist-info/LICENSE")
            for n in names
        ):
            problems.append("wheel: no LICENSE in its dist-info")
        if any(n.startswith("orbivex/_testing") for n in names):
            problems.append("wheel: ships orbivex/_testing")
        if any(n.endswith((".cpp", ".hpp", ".h")) for n in names):
            problems.append("wheel: ships C++ sources")
        for needed in (
            "orbivex/py.typed",
            "orbivex/state/coe.pyi",
            "orbivex/state/coe.pxd",
            "orbivex/propagators/analytical/sgp4/tle.pyi",
        ):
            if needed not in names:
                problems.append(f"wheel: {needed} missing")
        if "Classifier: Typing :: Typed" not in metadata:
            problems.append("wheel: no trove classifiers in METADATA")
        sdist = build("sdist", Path(tmp))
        members = tarfile.open(sdist).getnames()
        if not any(m.endswith("/LICENSE") for m in members):
            problems.append("sdist: no LICENSE")
        if any(m.endswith("/src/__init__.py") for m in members):
            problems.append("sdist: stray src/__init__.py")
    for p in problems:
        print(p)
    print("dist check:", "failed" if problems else "ok", f"({wheel.name})")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
