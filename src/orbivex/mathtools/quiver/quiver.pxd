# Native kernels of orbivex.mathtools.quiver.quiver, for Cython modules that cimport them.
# A 3-vector is three consecutive doubles; a 3x3 matrix is three rows of three doubles.

# c = scalar*a (c may be a).
cdef void scale(const double scalar, double* a, double* c) noexcept nogil
# c = a + b, c = a - b (c may be a or b).
cdef void add(double* a, double* b, double* c) noexcept nogil
cdef void sub(double* a, double* b, double* c) noexcept nogil
cdef double dot(double* a, double* b) noexcept nogil
# c = a x b; c must not overlap a or b.
cdef void cross(double* a, double* b, double* c) noexcept nogil
cdef double norm(double* a) noexcept nogil
# Angle in radians; not clamped, so a rounded cosine beyond +-1 gives NaN.
cdef double angle(double* a, double* b) noexcept nogil
# u = a * (1/|a|) (u may be a).
cdef void normalize(double* a, double* u) noexcept nogil
# b = M a, row sums starting at +0.0; b must not overlap M or a.
cdef void mat_x_vec(double (*M)[3], double* a, double* b) noexcept nogil

# Row-wise kernels over an N x 3 (or wider) float64 buffer with any strides; only columns 0-2
# are read, fewer than three columns raise ValueError. They return a new float64 NumPy array,
# shape (N,) and (N, 3), allocated through the module's `numpy.zeros`, and need the GIL.
# Published signature texts: "PyObject *(PyObject *)" for both.
cdef object norm_array(object a)
cdef object normalize_array(object a)
