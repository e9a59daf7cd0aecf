# Type stubs of orbivex.mathtools.misc.misc: a native table only (see misc.pxd).
from typing import Any

__pyx_capi__: dict[str, Any]
