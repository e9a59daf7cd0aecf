"""Record types of orbivex: NumPy dtypes laid out like the package's native records."""

from .structured import (
    AER_dtype,
    COE_dt,
    DTF_dtype,
    ENU_dtype,
    GeoState_dt,
    LLA_dtype,
    SurfCoord_dtype,
)

__all__ = [
    "SurfCoord_dtype",
    "LLA_dtype",
    "ENU_dtype",
    "AER_dtype",
    "DTF_dtype",
    "GeoState_dt",
    "COE_dt",
]
