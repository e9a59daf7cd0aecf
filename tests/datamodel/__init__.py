"""Tests of orbivex.datamodel."""
