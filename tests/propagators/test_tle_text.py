"""TLE's text hooks: the header, the body's pieces, their order and number formatting."""

import inspect

import pytest

from orbivex.frames import frames
from orbivex.propagators.analytical.sgp4.tle import ELSET, TLE
from orbivex.units import units

from .tle_catalogue import TEXT_TABLES, text_rows
from .tle_lines import L1, L2, line1, line2


class Recording(TLE):
    """Records what _get_body asks of the formatting services and returns marker objects."""

    def __init__(self, *args):
        self.log = []
        self.calls = []

    class Marker:
        def __init__(self, log, text):
            self.log, self.text = log, text

        def __format__(self, spec):
            self.log.append(("format", self.text, spec))
            return self.text

    def _create_formatted_form(self, data):
        self.calls.append(("form", data))
        self.log.append("form")
        return self.Marker(self.log, "<form>")

    def _create_formatted_frame(self, data):
        self.calls.append(("frame", data))
        self.log.append("frame")
        return self.Marker(self.log, f"<frame {len(self.calls)}>")

    def _format_as_property(self, title):
        self.calls.append(("title", title))
        self.log.append("title")
        return self.Marker(self.log, f"<{title}>")

    @property
    def line1(self):
        self.log.append("line1")
        return TLE.line1.__get__(self)

    @property
    def line2(self):
        self.log.append("line2")
        return TLE.line2.__get__(self)


def unit_cells(unit, value):
    """The SI and operational cells of a value of `unit`, with Python's own format."""
    decimals, si, op, divisor = {
        "none": (5, "", "", 1),
        "length": (3, " m", " km", units.km),
        "angle": (3, " rad", " deg", units.deg),
        "duration": (3, " s", " hour", units.hour),
        "rate": (3, " rad/s", " rev/day", units.rev / units.day),
    }[unit]
    scaled = value if unit == "none" else value / divisor
    return f"{value:.{decimals}f}{si}", f"{scaled:.{decimals}f}{op}"


def tables(t):
    """The two element tables as _get_body must build them."""
    result = []
    for title in TEXT_TABLES:
        rows = [
            (e["name"], *unit_cells(e["unit"], getattr(t, e["name"]))) for e in text_rows(title)
        ]
        result.append(
            {"SI units": {n: si for n, si, _ in rows}, "Op. units": {n: op for n, _, op in rows}}
        )
    return result


@pytest.mark.parametrize(
    "lines",
    [
        (L1, L2),
        (L1, line2(ecc="0001234")),
        (L1, line2(ecc="9000000", inc="NAN     ")),  # negative perigee, nan angle
        (line1(day="1.5"), line2(mnm="           ")),  # infinite size
        (L1, line2(raa="-0.00001", arp="-INF    ")),
    ],
)
def test_body_pieces_order_and_cells(lines):
    t = Recording(*lines)
    body = t._get_body()
    assert body == (
        f"{t.line1}\n{t.line2}\n{{fence}}\n<form>\n{{fence}}\n<Orbital Elements:>\n<frame 2>\n"
        "{fence}\n<Derived Elements:>\n<frame 3>"
    )
    form, coe, der, title1, title2 = t.calls
    assert form == ("form", {"epoch": t.epoch.utc.__repr__(), "frame": frames.TEME.name})
    assert list(form[1]) == ["epoch", "frame"]
    expected_coe, expected_der = tables(t)
    assert coe == ("frame", expected_coe) and der == ("frame", expected_der)
    for data, title in ((coe[1], TEXT_TABLES[0]), (der[1], TEXT_TABLES[1])):
        labels = [e["name"] for e in text_rows(title)]
        assert list(data) == ["SI units", "Op. units"]
        assert list(data["SI units"]) == list(data["Op. units"]) == labels
    assert (title1, title2) == (("title", "Orbital Elements:"), ("title", "Derived Elements:"))
    assert t.log[: t.log.index("line2") + 8] == [
        "form",
        "frame",
        "frame",
        "line1",
        "line2",
        ("format", "<form>", ""),
        "title",
        ("format", "<Orbital Elements:>", ""),
        ("format", "<frame 2>", ""),
        "title",
        ("format", "<Derived Elements:>", ""),
        ("format", "<frame 3>", ""),
    ]


def test_formatting_edge_cases():
    t = Recording(L1, line2(ecc="0001234", mnm="15.50000000"))
    t._get_body()
    coe, der = t.calls[1][1], t.calls[2][1]
    assert coe["SI units"]["ecc"] == coe["Op. units"]["ecc"] == "0.00012"
    assert der["SI units"]["mnm"] == "0.001 rad/s"
    low = Recording(L1, line2(ecc="9000000", inc="NAN     ", mnm="           "))
    low._get_body()
    coe, der = low.calls[1][1], low.calls[2][1]
    assert coe["SI units"]["inc"] == "nan rad" and coe["Op. units"]["inc"] == "nan deg"
    assert coe["SI units"]["sma"] == "inf m"
    assert der["SI units"]["orp"] == "inf s"
    sunk = Recording(L1, line2(ecc="9000000"))
    sunk._get_body()
    der = sunk.calls[2][1]
    assert der["SI units"]["pge"].startswith("-") and der["Op. units"]["pge"].startswith("-")
    negative_zero = Recording(L1, line2(mea="-0.00001"))
    negative_zero._get_body()
    assert negative_zero.calls[2][1]["SI units"]["mea"] == "-0.000 rad"


def test_with_the_base_services():
    t = TLE(L1, L2)
    body = t._get_body()
    lines = body.split("\n")
    assert lines[:3] == [L1, L2, "{fence}"]
    assert body.count("{fence}") == 3
    assert t._get_header() == "Two-line Elements (TLE)"
    text = repr(t)
    assert "Two-line Elements (TLE)" in text and L1 in text and L2 in text


@pytest.mark.parametrize(
    "service", ["_create_formatted_form", "_create_formatted_frame", "_format_as_property"]
)
def test_service_errors_propagate(service):
    class Failing(TLE):
        pass

    def fail(self, arg):
        raise RuntimeError(service)

    setattr(Failing, service, fail)
    with pytest.raises(RuntimeError, match=service):
        Failing(L1, L2)._get_body()


def test_results_are_turned_into_text_with_format():
    class Numbers(TLE):
        def _create_formatted_form(self, data):
            return 1

        def _create_formatted_frame(self, data):
            return 2.5

        def _format_as_property(self, title):
            return None

    body = Numbers(L1, L2)._get_body()
    assert body.split("\n")[3:] == ["1", "{fence}", "None", "2.5", "{fence}", "None", "2.5"]
    assert len(body) == 30 + len(L1) + len(L2) + 1 + 4 + 3 + 4 + 3


def test_methods_introspection_and_argument_errors():
    t = TLE(L1, L2)
    for name in ("_get_header", "_get_body"):
        method = getattr(TLE, name)
        assert method.__doc__ == f"TLE.{name}(self) -> str"
        assert method.__annotations__ == {"return": "str"}
        assert str(inspect.signature(method)) == "(self) -> 'str'"
        # The object is not counted: the hooks take no arguments besides it.
        message = rf"{name}\(\) takes exactly 0 positional arguments \(1 given\)"
        with pytest.raises(TypeError, match=message):
            getattr(t, name)(1)
        with pytest.raises(TypeError, match="unexpected keyword argument 'x'"):
            getattr(t, name)(x=1)
        with pytest.raises(TypeError, match="doesn't apply to a 'str' object"):
            method("not a TLE")


@pytest.mark.parametrize("name", ["_get_header", "_get_body"])
def test_text_hooks_refuse_any_other_object(name):
    # An ELSET is a Representable too, but not a TLE.
    elset = ELSET(TLE(L1, L2))
    for other, type_name in (
        (elset, "orbivex.propagators.analytical.sgp4.tle.ELSET"),
        (1.5, "float"),
    ):
        with pytest.raises(TypeError) as caught:
            vars(TLE)[name](other)
        assert str(caught.value) == (
            f"descriptor '{name}' for 'orbivex.propagators.analytical.sgp4.tle.TLE' objects "
            f"doesn't apply to a '{type_name}' object"
        )
        with pytest.raises(TypeError, match=rf"'{name}' for '\S+\.ELSET' objects"):
            vars(ELSET)[name](TLE(L1, L2))
