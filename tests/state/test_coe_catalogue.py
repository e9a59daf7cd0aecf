"""The catalogues coe is built from agree with the hand-written coe.pxd and coe.pyi, and with what
the module shows at run time: its functions and its native table."""

import ast
import inspect
import re
from pathlib import Path

import pytest

import orbivex.state.coe as coe
from orbivex.bodies.bodies import Earth
from tests.state import coe_catalogue as cat

HERE = Path(coe.__file__).resolve().parent
DECLARATION = re.compile(r"^cdef (\w+) (\w+)(?:\((.*)\))?(.*)$")


def pxd():
    """(record module, [(return type, name, [parameters] or None, rest of the line)]) of coe.pxd:
    the module COE_t is cimported from, and each cdef declaration in order."""
    text = (HERE / "coe.pxd").read_text()
    record = re.search(r"^from ([\w.]+) cimport COE_t$", text, re.MULTILINE)[1]
    decls = []
    for line in text.splitlines():
        if m := DECLARATION.match(line):
            params = None if m[3] is None else [p.strip() for p in m[3].split(",")]
            decls.append((m[1], m[2], params, m[4]))
    return record, decls


def cython_text(returns, params, record):
    """The signature text Cython gives a function declared so: each parameter's type with const
    after it, pointers as " *", COE_t under the name Cython mangles it to."""
    mangled = "__pyx_t_" + "_".join(f"{len(p)}{p}" for p in record.split(".")) + "_COE_t"
    shown = []
    for p in params:
        words = p.replace("*", " * ").split()[:-1]  # without the parameter name
        const = words[0] == "const"
        words = [mangled if w == "COE_t" else w for w in words[const:]]
        base = words[0] + (" *" * words.count("*"))
        shown.append(base + (" const " if const else ""))
    return f"{returns} ({', '.join(shown)})"


def pxd_parameter_names(params):
    return ", ".join(re.findall(r"(\w+)$", p)[0] for p in params)


def test_pxd_declares_the_table_in_order_with_its_texts_and_names():
    record, decls = pxd()
    assert [d[1] for d in decls] == list(cat.TABLE)
    returns, name, params, _ = decls[0]
    assert (name, returns, params) == (cat.TWO_PI[0], cat.TWO_PI[1], None)
    for (returns, name, params, rest), entry in zip(decls[1:], cat.EXPORTS, strict=True):
        assert name == entry["name"]
        assert cython_text(returns, params, record) == entry["signature"], name
        assert pxd_parameter_names(params) == entry["params"], name
        # The entries that can report a failure declare it, and only they.
        assert bool(re.search(r"\bexcept\b", rest)) == entry["angle_env"], name


def pyi_functions():
    """{name: [(parameter, has a default)]} of coe.pyi, in order (overloads counted once)."""
    tree = ast.parse((HERE / "coe.pyi").read_text())
    found = {}
    for node in tree.body:
        if isinstance(node, ast.FunctionDef) and node.name not in found:
            args = node.args.args
            first_default = len(args) - len(node.args.defaults)
            found[node.name] = [(a.arg, i >= first_default) for i, a in enumerate(args)]
    return found


def test_pyi_declares_the_functions_in_order_with_their_parameters():
    declared = pyi_functions()
    assert list(declared) == cat.FUNCTION_NAMES
    for f in cat.FUNCTIONS:
        expected = [(p, i >= f["required"]) for i, p in enumerate(f["params"])]
        assert declared[f["name"]] == expected, f["name"]


def test_pyi_overloads_all_take_the_same_parameters():
    tree = ast.parse((HERE / "coe.pyi").read_text())
    for f in cat.FUNCTIONS:
        overloads = [n for n in tree.body if isinstance(n, ast.FunctionDef) and n.name == f["name"]]
        assert overloads, f["name"]
        for node in overloads:
            assert [a.arg for a in node.args.args] == f["params"], f["name"]


def default_value(kind):
    gm = Earth.GM
    return {"none": None, "earth_gm": (gm,), "earth_gm_float": (float(gm),)}[kind]


@pytest.mark.parametrize("row", cat.FUNCTIONS, ids=cat.FUNCTION_NAMES)
def test_each_function_shows_its_row(row):
    f = getattr(coe, row["name"])
    assert f.__doc__ == row["doc"]
    assert f.__annotations__ == row["annotations"]
    assert f.__defaults__ == default_value(row["defaults"])
    sig = inspect.signature(f)
    assert list(sig.parameters) == row["params"]
    for i, p in enumerate(sig.parameters.values()):
        assert (p.default is inspect.Parameter.empty) == (i < row["required"])
    # The first line is the signature, rendered from the parameters of the row.
    parts = []
    for name, shown in zip(row["params"], row["shown_defaults"], strict=True):
        part = f"{name}: {row['annotations'][name]}"
        parts.append(part if shown is None else f"{part} = {shown}")
    first = f.__doc__.partition("\n")[0]
    assert first.replace("double GM", "GM") == (
        f"{row['name']}({', '.join(parts)}) -> {row['annotations']['return']}"
    )


def test_functions_are_created_in_catalogue_order():
    names = [n for n, v in vars(coe).items() if callable(v) and n in cat.FUNCTION_NAMES]
    assert names == cat.FUNCTION_NAMES


def test_every_scalar_function_publishes_its_kernel():
    # A size or anomaly function applies the kernel published as c_<name>, which goes through
    # the angle environment exactly when the function can report the angle function's failure.
    published = {e["name"]: e for e in cat.EXPORTS}
    for name in cat.SIZE + cat.ANOMALY:
        entry = published[f"c_{name}"]
        assert entry["form"] == ("size" if name in cat.SIZE else "anomaly"), name
        assert entry["angle_env"] == (name in cat.BOUND_ANOMALY), name
