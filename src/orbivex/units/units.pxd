# Unit constants of orbivex.units.units in SI base units (s, m, rad, kg), for Cython cimport.

cdef double s, sec, second, minute, hour, day, sday, m, km, rad, deg, rev, kg
