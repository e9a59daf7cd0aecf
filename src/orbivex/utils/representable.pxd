# Native declaration of the Representable base type, for Cython modules that cimport it.

cdef class Representable:
    cdef dict __dict__
