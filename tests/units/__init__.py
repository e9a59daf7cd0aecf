"""Tests of orbivex.units."""
