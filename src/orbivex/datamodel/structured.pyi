# Type stubs of orbivex.datamodel.structured: the record dtypes.
import numpy as numpy
from numpy import dtype as dtype

SurfCoord_dtype: dtype[numpy.void]
LLA_dtype: dtype[numpy.void]
ENU_dtype: dtype[numpy.void]
AER_dtype: dtype[numpy.void]
DTF_dtype: dtype[numpy.void]
GeoState_dt: dtype[numpy.void]
COE_dt: dtype[numpy.void]
