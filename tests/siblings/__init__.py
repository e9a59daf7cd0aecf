"""Tests of the stand-ins for the modules coe and tle bind at import."""
