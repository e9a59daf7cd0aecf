"""CPU ns per set of the raw C++ loop over the element-set kernels on a generated catalogue:
split only; split, validate and read the fields (exact epochs); and also the six derived
elements with coe's kernels. Run from the repository root:

    python -m tests.propagators.catalog.kernel_timing [--sets 1000000] [--repeats 7]

Prints the least time of the repeats for each stage (thread CPU time, so that other work on a
busy machine counts as little as it can)."""

import argparse
import importlib.util
import sys
import tempfile
from pathlib import Path

from .kernel import ROOT, Kernel, build

STAGES = ("split", "split + validate + fields", "split + validate + fields + derived")


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--sets", type=int, default=1_000_000)
    ap.add_argument("--repeats", type=int, default=7)
    ap.add_argument("--scalar", action="store_true", help="without the SSE2 whole-line path")
    args = ap.parse_args(argv)
    path = ROOT / "tools" / "make_catalog.py"
    spec = importlib.util.spec_from_file_location("make_catalog", path)
    generator = importlib.util.module_from_spec(spec)
    sys.modules[spec.name] = generator
    spec.loader.exec_module(generator)
    with tempfile.TemporaryDirectory() as tmp:
        defines = ["-DORBIVEX_TLE_NO_SIMD"] if args.scalar else []
        kernel = Kernel(build(Path(tmp) / "shim.so", *defines))
        for form in ("3le", "2le"):
            text, _ = generator.make_catalog(args.sets, seed=1, form=form)
            print(f"{form}: {args.sets} sets, {len(text) / 1e6:.0f} MB")
            for stage, name in enumerate(STAGES):
                ns, n, refused = kernel.time_read(text, stage, args.repeats)
                assert n == args.sets and refused == 0
                print(f"  {name:<38} {ns:7.1f} ns/set")


if __name__ == "__main__":
    main()
