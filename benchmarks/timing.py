"""What the catalogue benchmarks share: the test-file generator and the best-of-n timer."""

import importlib.util
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def load_generator():
    """tools/make_catalog.py as a module."""
    spec = importlib.util.spec_from_file_location(
        "make_catalog", ROOT / "tools" / "make_catalog.py"
    )
    module = importlib.util.module_from_spec(spec)
    sys.modules[spec.name] = module  # its dataclass looks the module up while it is defined
    spec.loader.exec_module(module)
    return module


def best(fn, repeat):
    """Least wall and CPU seconds of `repeat` calls (a first call warms memory and workers up).
    The result is freed after the clocks stop: freeing it is not part of the call."""
    fn()
    walls, cpus = [], []
    for _ in range(repeat):
        w, c = time.perf_counter(), time.process_time()
        result = fn()
        walls.append(time.perf_counter() - w)
        cpus.append(time.process_time() - c)
        del result
    return min(walls), min(cpus)


def best_wall(fn, repeat):
    """Least wall seconds of `repeat` calls."""
    return best(fn, repeat)[0]
