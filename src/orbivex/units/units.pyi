# Type stubs of orbivex.units.units: unit sizes in SI base units.
from typing import Any

__pyx_capi__: dict[str, Any]

s: float
sec: float
second: float
minute: float
hour: float
day: float
sday: float
m: float
km: float
rad: float
deg: float
rev: float
kg: float
