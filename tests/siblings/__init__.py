"""Tests of the stand-ins of the modules orbivex binds at import (bodies, frames, ellipsoid, typing, units)."""
