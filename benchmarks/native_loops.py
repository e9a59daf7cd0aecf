"""The raw C++ loops the benchmarks measure against, built by CMake (option ORBIVEX_BENCHMARKS,
target benchmark_loops) with the flags of the extension modules, and loaded through ctypes.

The build goes to $ORBIVEX_BENCH_BUILD, by default build/bench in the repository; it is
configured on first use and brought up to date on every load."""

import ctypes
import os
import shutil
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = Path(os.environ.get("ORBIVEX_BENCH_BUILD", ROOT / "build" / "bench"))


def cmake() -> str:
    """The cmake of this interpreter's environment if it has one, else the one on PATH."""
    found = shutil.which("cmake", path=str(Path(sys.executable).parent)) or shutil.which("cmake")
    if not found:
        raise RuntimeError("the benchmarks' raw loops need cmake (pip install cmake)")
    return found


def build() -> Path:
    """Configures (once) and builds the loops; returns the folder that holds them."""
    tool = cmake()
    if not (BUILD / "CMakeCache.txt").exists():
        subprocess.run(
            [
                tool,
                "-S",
                str(ROOT),
                "-B",
                str(BUILD),
                "-DCMAKE_BUILD_TYPE=Release",
                "-DORBIVEX_BENCHMARKS=ON",
                f"-DPython_EXECUTABLE={sys.executable}",
            ],
            check=True,
            stdout=subprocess.DEVNULL,
        )
    subprocess.run(
        [tool, "--build", str(BUILD), "--target", "benchmark_loops"],
        check=True,
        stdout=subprocess.DEVNULL,
    )
    return BUILD / "benchmarks"


def load(name: str) -> ctypes.CDLL:
    """The loop library `name` (quiver_loop, coe_loop), built if needed."""
    return ctypes.CDLL(str(build() / f"{name}.so"))
