"""Time stand-in: instants in UTC as int64 nanoseconds since 1970-01-01T00:00:00 (native class)."""

from orbivex.time.ctime import UTC, Time

__all__ = ["Time", "UTC"]
