"""Tests of orbivex.time."""
