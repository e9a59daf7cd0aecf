# Type stubs of orbivex.mathtools.quiver.quiver: a native table only (see quiver.pxd).
from typing import Any

import numpy as numpy

__pyx_capi__: dict[str, Any]
