# Native entries of orbivex.mathtools.misc.misc, for Cython modules that cimport them.

# Angle of the point (x, y) in radians, folded into [0, 2π]; pure, no Python state.
cdef double atan2_asymmetric(const double y, const double x) noexcept nogil
