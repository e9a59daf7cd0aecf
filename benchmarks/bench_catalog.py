"""Benchmark of the catalog module on a generated file of element sets (tools/make_catalog.py):
read() on one and on two threads against a TLE(l1, l2) loop, python-sgp4's Satrec.twoline2rv
loop, skyfield's load.tle_file, a pure-Python reader and the raw C++ loop over the same kernels
(the limit of the algorithm); peak memory against the columns and the file; gzip input against
inflating and parsing.

Run: python benchmarks/bench_catalog.py [--sets 1000000] [--repeats 3] [--quick]. Figures are
the best of the repeats (wall time; CPU time where it is shown), in ns per element set. The
loops of the other readers run over a sample of the file and are scaled to one set.
"""

import argparse
import gzip
import math
import os
import subprocess
import sys
import tempfile
import zlib
from pathlib import Path

from timing import best, load_generator

from orbivex.propagators.analytical.sgp4 import catalog
from orbivex.propagators.analytical.sgp4.tle import TLE

ROOT = Path(__file__).resolve().parent.parent


def python_reader(text: str):
    """A reader in plain Python: checksums, the fields TLE reads and the epoch, into lists."""
    out = {k: [] for k in ("satno", "epoch", "inc", "raa", "ecc", "arp", "mea", "mnm", "name")}
    lines = text.splitlines()
    name = None
    i = 0
    while i < len(lines):
        line = lines[i].rstrip()
        i += 1
        if not line.startswith("1 ") or len(line) != 69:
            name = line or name
            continue
        l1, l2 = line, lines[i].rstrip()
        i += 1
        for ln in (l1, l2):
            s = sum(int(ch) if ch.isdigit() else ch == "-" for ch in ln[:68]) % 10
            if str(s) != ln[68]:
                raise ValueError("checksum")
        out["satno"].append(l1[2:7])
        out["epoch"].append((int(l1[18:20]), float(l1[20:32])))
        for key, a, b in (("inc", 8, 16), ("raa", 17, 25), ("arp", 34, 42), ("mea", 43, 51)):
            out[key].append(math.radians(float(l2[a:b])))
        out["ecc"].append(float("." + l2[26:33]))
        out["mnm"].append(float(l2[52:63]) * 2 * math.pi / 86400)
        out["name"].append(name)
        name = None
    return out


MEMORY_PROBE = """
import sys
from orbivex.propagators.analytical.sgp4 import catalog
# From /proc: ru_maxrss of a child can still count the pages of the parent it was forked from.
def status_kb(key):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(key):
                return int(line.split()[1])
before = status_kb("VmRSS:")
cat = catalog.read(sys.argv[1], threads=int(sys.argv[2]))
peak = status_kb("VmHWM:")
_, (state, _) = cat.__reduce__()
stored = sum(a.nbytes for a in state.values())
shown = sum(getattr(cat, k).nbytes for k in state)
names = sum(sys.getsizeof(s) for s in set(cat.name.tolist()) if s is not None)
print(before, peak, stored + names, shown + names)
"""


def memory(path: Path, threads: int):
    done = subprocess.run(
        [sys.executable, "-c", MEMORY_PROBE, str(path), str(threads)],
        capture_output=True,
        text=True,
        check=True,
    )
    before, peak, stored, shown = (int(x) for x in done.stdout.split())
    return (peak - before) * 1024, stored, shown


def raw_kernel_loop(text: bytes, repeats: int):
    """ns per set of the raw C++ loop over the same kernels (tests/propagators/catalog/shim.cpp:
    split, validate, fields, exact epochs and the derived elements), or None without a
    compiler."""
    sys.path.insert(0, str(ROOT))
    try:
        from tests.propagators.catalog.kernel import Kernel, build
    except ImportError:
        return None
    with tempfile.TemporaryDirectory() as tmp:
        try:
            kernel = Kernel(build(Path(tmp) / "shim.so"))
        except (OSError, subprocess.CalledProcessError):
            return None
        return kernel.time_read(text, 2, repeats)[0]


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--sets", type=int, default=1_000_000)
    ap.add_argument("--sample", type=int, default=100_000, help="sets for the slow loops")
    ap.add_argument("--repeats", type=int, default=3)
    ap.add_argument("--quick", action="store_true", help="10^5 sets, 2 repeats")
    args = ap.parse_args(argv)
    if args.quick:
        args.sets, args.sample, args.repeats = 100_000, 20_000, 2
    os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
    gen = load_generator()
    print(f"load average {os.getloadavg()[0]:.1f} on {os.cpu_count()} CPUs", flush=True)
    rows = []
    with tempfile.TemporaryDirectory() as tmp:
        text, _ = gen.make_catalog(args.sets, seed=1, form="3le")
        path = Path(tmp) / "catalog.tle"
        path.write_bytes(text)
        n = args.sets
        print(f"{path.name}: {n} sets, {len(text) / 1e6:.0f} MB (three-line, epoch order)")

        def per_set(seconds, count=n):
            return seconds / count * 1e9

        one_wall, one_cpu = best(lambda: catalog.read(path, threads=1), args.repeats)
        two_wall, two_cpu = best(lambda: catalog.read(path, threads=2), args.repeats)
        rows.append(("read(path, threads=1)", per_set(one_wall), per_set(one_cpu)))
        rows.append(("read(path, threads=2)", per_set(two_wall), per_set(two_cpu)))
        raw = raw_kernel_loop(text, args.repeats)
        if raw is not None:
            rows.append(("raw C++ loop, same kernels (CPU)", raw, raw))

        cat = catalog.read(path)
        m = min(args.sample, n)
        pairs = list(zip(cat.line1[:m].tolist(), cat.line2[:m].tolist(), strict=True))

        def tle_loop():
            for a, b in pairs:
                TLE(a, b)

        w, c = best(tle_loop, 1)
        rows.append((f"TLE(l1, l2) loop ({m} sets)", per_set(w, m), per_set(c, m)))
        try:
            from sgp4.api import Satrec

            def sgp4_loop():
                for a, b in pairs:
                    Satrec.twoline2rv(a, b)

            w, c = best(sgp4_loop, 1)
            rows.append((f"sgp4 Satrec.twoline2rv loop ({m})", per_set(w, m), per_set(c, m)))
        except ImportError:
            print("  (sgp4 not installed: pip install sgp4)")
        small = Path(tmp) / "small.tle"
        small_text, _ = gen.make_catalog(m, seed=2, form="3le")
        small.write_bytes(small_text)
        try:
            from skyfield.api import load

            w, c = best(lambda: load.tle_file(str(small)), 1)
            rows.append((f"skyfield load.tle_file ({m})", per_set(w, m), per_set(c, m)))
        except ImportError:
            print("  (skyfield not installed: pip install skyfield)")
        decoded = small_text.decode()
        w, c = best(lambda: python_reader(decoded), 1)
        rows.append((f"pure-Python reader ({m})", per_set(w, m), per_set(c, m)))

        packed = Path(tmp) / "catalog.tle.gz"
        packed.write_bytes(gzip.compress(text, compresslevel=6))
        gz_wall, _ = best(lambda: catalog.read(packed, threads=1), args.repeats)
        raw_gz = packed.read_bytes()
        inflate_wall, _ = best(lambda: zlib.decompress(raw_gz, wbits=31), args.repeats)
        parse_wall, _ = best(lambda: catalog.parse(text, threads=1), args.repeats)
        rows.append(("read(path.gz, threads=1)", per_set(gz_wall), None))
        rows.append(
            ("zlib.decompress + parse (threads=1)", per_set(inflate_wall + parse_wall), None)
        )

        peak, stored, shown = memory(path, 2)
        file_size = len(text)

    print(f"\n{'':44s} {'wall ns/set':>12s} {'CPU ns/set':>12s}")
    for name, wall, cpu in rows:
        cpu_text = f"{cpu:12.1f}" if cpu is not None else f"{'':12s}"
        print(f"  {name:42s} {wall:12.1f} {cpu_text}")
    print(f"\n  two threads: {one_wall / two_wall:.2f}x faster than one (target >= 1.8)")
    print(f"  one thread: {per_set(one_wall):.0f} ns/set (target <= 200)")
    print(f"  gzip: {gz_wall / (inflate_wall + parse_wall):.2f}x inflate + parse (target <= 1.3)")
    print(
        f"  peak memory of read(): {peak / 1e6:.0f} MB = "
        f"{peak / (stored + file_size):.2f}x (columns as held {stored / 1e6:.0f} MB + file "
        f"{file_size / 1e6:.0f} MB), {peak / (shown + file_size):.2f}x (columns as shown, "
        f"str lines, {shown / 1e6:.0f} MB + file); target <= 1.5x"
    )


if __name__ == "__main__":
    main()
