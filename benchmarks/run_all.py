"""Runs every benchmark of the package in turn, each in its own interpreter (`make bench`)."""

import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
SCRIPTS = [
    "bench_quiver.py",
    "bench_coe.py",
    "bench_time.py",
    "bench_tle.py",
    "bench_sgp4.py",
    "bench_catalog.py",
]


def main() -> int:
    failed = []
    for name in SCRIPTS:
        print(f"=== {name} ===", flush=True)
        if subprocess.run([sys.executable, str(HERE / name)], cwd=HERE).returncode != 0:
            failed.append(name)
        print(flush=True)
    if failed:
        print("failed:", ", ".join(failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
