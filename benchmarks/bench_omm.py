"""Benchmark of reading orbit mean-element messages with the catalog module: a generated file of
element sets (tools/make_catalog.py) written as OMM CSV, JSON, XML and KVN, read() on one and on
two threads, in records per second; against python-sgp4's OMM parser with Satrec
initialisation and the standard library's json and csv modules alone (a sample, scaled).

Run: python benchmarks/bench_omm.py [--sets 1000000] [--repeats 3] [--quick]. Figures are the
best of the repeats, wall time (CPU time of all threads beside it).
"""

import argparse
import csv
import io
import json
import tempfile
from pathlib import Path

from timing import best, load_generator

from orbivex.propagators.analytical.sgp4 import catalog

ROOT = Path(__file__).resolve().parent.parent
FORMS = ("omm-csv", "omm-json", "omm-xml", "omm-kvn")


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--sets", type=int, default=1_000_000)
    ap.add_argument("--sample", type=int, default=50_000, help="records for the Python loops")
    ap.add_argument("--repeats", type=int, default=3)
    ap.add_argument("--quick", action="store_true", help="10^5 sets, 2 repeats")
    args = ap.parse_args(argv)
    if args.quick:
        args.sets, args.repeats, args.sample = 100_000, 2, 20_000

    text, _ = load_generator().make_catalog(
        args.sets, seed=7, form="3le", alpha5_share=0.1, deep_share=0.2
    )
    base = catalog.parse(text)
    n = len(base)
    print(f"{n} sets of {len(base.satellites)} satellites")
    print(f"{'reader':<44}{'records/s':>14}{'ns/record':>12}{'cpu ns':>10}")

    def row(label, wall, cpu, count=n):
        print(
            f"{label:<44}{count / wall:>14,.0f}{wall / count * 1e9:>12.0f}"
            f"{cpu / count * 1e9:>10.0f}"
        )

    with tempfile.TemporaryDirectory() as tmp:
        files = {}
        for form in FORMS:
            path = Path(tmp) / f"sets.{form}"
            base.write(path, form)
            files[form] = path.read_bytes()
            print(f"  {form}: {len(files[form]) / 1e6:.0f} MB")
        for form in FORMS:
            data = files[form]
            for threads in (1, 2):
                wall, cpu = best(
                    lambda d=data, f=form, t=threads: catalog.parse(d, format=f, threads=t),
                    args.repeats,
                )
                row(f"read {form}, {threads} thread{'s' if threads > 1 else ''}", wall, cpu)

        # The other readers over a sample of the records, scaled to one.
        k = min(args.sample, n)
        csv_text = files["omm-csv"].decode()
        lines = csv_text.splitlines(keepends=True)
        csv_part = "".join(lines[: k + 1])
        json_part = json.dumps(json.loads(files["omm-json"])[:k])

        def stdlib_csv():
            return list(csv.DictReader(io.StringIO(csv_part)))

        def stdlib_json():
            return json.loads(json_part)

        row("csv.DictReader alone (no values)", *best(stdlib_csv, args.repeats), count=k)
        row("json.loads alone (no values)", *best(stdlib_json, args.repeats), count=k)
        try:
            from sgp4 import omm
            from sgp4.api import Satrec
        except ImportError:
            print("python-sgp4: not installed")
            return

        def sgp4_csv():
            for fields in omm.parse_csv(io.StringIO(csv_part)):
                omm.initialize(Satrec(), fields)

        def sgp4_json():
            for fields in json.loads(json_part):
                omm.initialize(Satrec(), {key: str(v) for key, v in fields.items()})

        row("python-sgp4 parse_csv + initialize", *best(sgp4_csv, args.repeats), count=k)
        row("python-sgp4 json + initialize", *best(sgp4_json, args.repeats), count=k)


if __name__ == "__main__":
    main()
