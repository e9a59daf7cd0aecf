"""Tests of orbivex.bodies, the stand-in bodies that coe and tle bind at import."""
