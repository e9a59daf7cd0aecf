"""Tests of orbivex.frames, the stand-in frames that coe and tle bind at import."""
