# Native declarations of the two-line element set types, for Cython modules that cimport them.
from orbivex.utils.representable cimport Representable


cdef class TLE(Representable):
    cdef char _line1[70]
    cdef char _line2[70]
    cdef int strict_validation
    cdef char _satno[6]
    # The Time class has no declaration file of its own.
    cdef object epoch
    cdef double inc
    cdef double raa
    cdef double ecc
    cdef double mea
    cdef double arp
    cdef double mnm
    cdef double sma
    cdef double orp
    cdef double eca
    cdef double tra
    cdef double pge
    cdef double apg

    cdef void parse_line1(self)
    cdef void parse_line2(self)


cdef class ELSET(Representable):
    cdef object epoch
    cdef int _satno
    cdef list elements
    # The element arrays are NumPy float64 arrays held as plain objects: typed memoryviews
    # would put Cython's own memoryview structs into the layout, which a C++ type cannot
    # reproduce. Read them through the properties, or type them locally where they are used.
    cdef object _ecc
    cdef object _sma
    cdef object _inc
    cdef object _raa
    cdef object _arp
    cdef object _tra
    cdef object _mnm
    cdef object _orp
    cdef object _eca
    cdef object _mea
    cdef object _pge
    cdef object _apg
