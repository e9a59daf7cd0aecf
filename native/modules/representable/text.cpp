// Representable's text: aligned forms, plain tables, property titles, and the titled repr.
#include <Python.h>

#include <algorithm>
#include <new>
#include <vector>

#include "modules/representable/text.hpp"

namespace orbivex::representable {

using py::Ref;

namespace {

constexpr Py_ssize_t column_gap = 3;

// `text` padded with blanks to `width` characters, on the left when `right` is set.
Ref pad(PyObject* text, Py_ssize_t width, bool right) {
    const Py_ssize_t len = PyUnicode_GET_LENGTH(text);
    if (len >= width) return Ref::borrow(text);
    Ref out = Ref::steal(PyUnicode_New(width, PyUnicode_MAX_CHAR_VALUE(text)));
    if (!out) return {};
    const Py_ssize_t at = right ? width - len : 0;
    if (PyUnicode_Fill(out.get(), right ? 0 : len, width - len, ' ') < 0 ||
        PyUnicode_CopyCharacters(out.get(), at, text, 0, len) < 0)
        return {};
    return out;
}

Ref spaces(Py_ssize_t n) {  // n > 0: the empty string is a shared singleton
    Ref out = Ref::steal(PyUnicode_New(n, 127));
    if (out && PyUnicode_Fill(out.get(), 0, n, ' ') < 0) return {};
    return out;
}

// Appends the text of `value` (str() of it) to `row`; returns its width or -1.
Py_ssize_t append_text(PyObject* row, PyObject* value) {
    Ref text = Ref::steal(PyObject_Str(value));
    if (!text || PyList_Append(row, text.get()) < 0) return -1;
    return PyUnicode_GET_LENGTH(text.get());
}

Ref join(const char* separator, PyObject* pieces) {
    Ref sep = Ref::steal(PyUnicode_FromString(separator));
    return sep ? Ref::steal(PyUnicode_Join(sep.get(), pieces)) : Ref();
}

[[gnu::cold]] PyObject* raise_not_dict(const char* method, const char* what, PyObject* got) {
    PyErr_Format(PyExc_TypeError, "%s() expects %s, not '%.200s'", method, what,
                 Py_TYPE(got)->tp_name);
    return nullptr;
}

// A table as rows of cell texts; rows[0] is the header. Column 0 is left-aligned, the others
// right-aligned; columns are `column_gap` blanks apart and trailing blanks are not written.
PyObject* render_table(const std::vector<Ref>& rows, const std::vector<Py_ssize_t>& widths) {
    Ref lines = Ref::steal(PyList_New(0));
    Ref gap = spaces(column_gap);
    if (!lines || !gap) return nullptr;
    for (const Ref& row : rows) {
        Ref pieces = Ref::steal(PyList_New(0));
        if (!pieces) return nullptr;
        const Py_ssize_t ncells = PyList_GET_SIZE(row.get());
        for (Py_ssize_t c = 0; c < ncells; ++c) {
            PyObject* cell = PyList_GET_ITEM(row.get(), c);
            Ref text = pad(cell, widths[static_cast<size_t>(c)], c > 0);
            if (!text || (c > 0 && PyList_Append(pieces.get(), gap.get()) < 0) ||
                PyList_Append(pieces.get(), text.get()) < 0)
                return nullptr;
        }
        Ref line = join("", pieces.get());
        if (!line) return nullptr;
        // The label column of the header is blank; a row may end in an empty cell.
        Ref stripped = Ref::steal(PyObject_CallMethod(line.get(), "rstrip", "s", " "));
        if (!stripped || PyList_Append(lines.get(), stripped.get()) < 0) return nullptr;
    }
    return join("\n", lines.get()).release();
}

}  // namespace

PyObject* create_formatted_form(PyObject*, PyObject* data) noexcept {
    if (!PyDict_Check(data))
        return raise_not_dict("_create_formatted_form", "a dict from label to text", data);
    Ref items = Ref::steal(PyDict_Items(data));
    if (!items) return nullptr;
    const Py_ssize_t n = PyList_GET_SIZE(items.get());
    Ref labels = Ref::steal(PyList_New(0));
    Ref values = Ref::steal(PyList_New(0));
    if (!labels || !values) return nullptr;
    Py_ssize_t width = 0;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PyList_GET_ITEM(items.get(), i);
        const Py_ssize_t w = append_text(labels.get(), PyTuple_GET_ITEM(item, 0));
        if (w < 0 || append_text(values.get(), PyTuple_GET_ITEM(item, 1)) < 0) return nullptr;
        width = std::max(width, w);
    }
    Ref lines = Ref::steal(PyList_New(0));
    if (!lines) return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        Ref label = pad(PyList_GET_ITEM(labels.get(), i), width, false);
        if (!label) return nullptr;
        Ref line = Ref::steal(
            PyUnicode_FromFormat("%U : %U", label.get(), PyList_GET_ITEM(values.get(), i)));
        if (!line || PyList_Append(lines.get(), line.get()) < 0) return nullptr;
    }
    return join("\n", lines.get()).release();
}

PyObject* create_formatted_frame(PyObject*, PyObject* data) noexcept {
    constexpr const char* method = "_create_formatted_frame";
    constexpr const char* what = "a dict from column title to a dict from row label to text";
    if (!PyDict_Check(data)) return raise_not_dict(method, what, data);
    try {
        // Row labels in order of first appearance, each mapped to its row number.
        Ref row_of = Ref::steal(PyDict_New());
        Ref header = Ref::steal(PyList_New(0));
        Ref empty = Ref::steal(PyUnicode_New(0, 0));  // the header's label cell
        if (!row_of || !header || !empty || PyList_Append(header.get(), empty.get()) < 0)
            return nullptr;
        std::vector<Ref> rows;
        rows.push_back(std::move(header));
        std::vector<Py_ssize_t> widths{0};
        // Snapshots: str() of a title or cell may run code that changes the dicts.
        Ref columns = Ref::steal(PyDict_Items(data));
        if (!columns) return nullptr;
        for (Py_ssize_t col = 1; col <= PyList_GET_SIZE(columns.get()); ++col) {
            PyObject* title = PyTuple_GET_ITEM(PyList_GET_ITEM(columns.get(), col - 1), 0);
            PyObject* column = PyTuple_GET_ITEM(PyList_GET_ITEM(columns.get(), col - 1), 1);
            if (!PyDict_Check(column)) return raise_not_dict(method, what, column);
            const Py_ssize_t tw = append_text(rows[0].get(), title);
            if (tw < 0) return nullptr;
            widths.push_back(tw);
            Ref cells = Ref::steal(PyDict_Items(column));
            if (!cells) return nullptr;
            for (Py_ssize_t k = 0; k < PyList_GET_SIZE(cells.get()); ++k) {
                PyObject* pair = PyList_GET_ITEM(cells.get(), k);
                PyObject* label = PyTuple_GET_ITEM(pair, 0);
                PyObject* cell = PyTuple_GET_ITEM(pair, 1);
                PyObject* known = PyDict_GetItemWithError(row_of.get(), label);  // borrowed
                if (!known && PyErr_Occurred()) return nullptr;
                size_t r;
                if (known) {
                    r = PyLong_AsSize_t(known);
                } else {
                    Ref row = Ref::steal(PyList_New(0));
                    Ref number = Ref::steal(PyLong_FromSize_t(rows.size()));
                    if (!row || !number || PyDict_SetItem(row_of.get(), label, number.get()) < 0)
                        return nullptr;
                    const Py_ssize_t lw = append_text(row.get(), label);
                    if (lw < 0) return nullptr;
                    widths[0] = std::max(widths[0], lw);
                    r = rows.size();
                    rows.push_back(std::move(row));
                }
                PyObject* row = rows[r].get();
                // Cells this row lacks in earlier columns stay empty.
                while (PyList_GET_SIZE(row) < col) {
                    Ref blank = Ref::steal(PyUnicode_New(0, 0));
                    if (!blank || PyList_Append(row, blank.get()) < 0) return nullptr;
                }
                const Py_ssize_t cw = append_text(row, cell);
                if (cw < 0) return nullptr;
                widths[static_cast<size_t>(col)] = std::max(widths[static_cast<size_t>(col)], cw);
            }
        }
        return render_table(rows, widths);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyObject* format_as_property(PyObject*, PyObject* title) noexcept {
    Ref text = Ref::steal(PyObject_Str(title));
    if (!text) return nullptr;
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text.get());
    if (n > 0 && PyUnicode_READ_CHAR(text.get(), n - 1) == ':') return text.release();
    return PyUnicode_FromFormat("%U:", text.get());
}

namespace {

// The hook's result, which must be a str; NULL with AttributeError when the hook is missing.
Ref call_hook(PyObject* self, const char* name) {
    Ref result = Ref::steal(PyObject_CallMethod(self, name, nullptr));
    if (result && !PyUnicode_Check(result.get())) {
        PyErr_Format(PyExc_TypeError, "%s() must return a str, not '%.200s'", name,
                     Py_TYPE(result.get())->tp_name);
        return {};
    }
    return result;
}

// True when the pending error is the AttributeError of `self` lacking the hook itself (not
// one raised inside it).
bool hook_missing(PyObject* self, const char* name) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    Ref found = Ref::steal(PyObject_GetAttrString(self, name));
    if (found) return false;
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    return true;
}

}  // namespace

PyObject* Representable_repr(PyObject* self) noexcept {
    Ref header = call_hook(self, "_get_header");
    if (!header) {
        if (hook_missing(self, "_get_header")) return PyBaseObject_Type.tp_repr(self);
        return nullptr;
    }
    Ref body = call_hook(self, "_get_body");
    if (!body) {
        if (hook_missing(self, "_get_body")) return PyBaseObject_Type.tp_repr(self);
        return nullptr;
    }
    Ref newline = Ref::steal(PyUnicode_FromString("\n"));
    Ref fence = Ref::steal(PyUnicode_FromString("{fence}"));
    if (!newline || !fence) return nullptr;
    Ref lines = Ref::steal(PyUnicode_Split(body.get(), newline.get(), -1));
    Ref head_lines = Ref::steal(PyUnicode_Split(header.get(), newline.get(), -1));
    if (!lines || !head_lines) return nullptr;
    // The rule is as wide as the widest line of header and body ("{fence}" lines aside).
    Py_ssize_t width = 1;
    for (PyObject* list : {head_lines.get(), lines.get()}) {
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
            PyObject* line = PyList_GET_ITEM(list, i);
            if (PyUnicode_Compare(line, fence.get()) != 0)
                width = std::max(width, PyUnicode_GET_LENGTH(line));
        }
    }
    Ref rule = Ref::steal(PyUnicode_New(width, 127));
    if (!rule || PyUnicode_Fill(rule.get(), 0, width, '-') < 0) return nullptr;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(lines.get()); ++i) {
        if (PyUnicode_Compare(PyList_GET_ITEM(lines.get(), i), fence.get()) == 0 &&
            PyList_SetItem(lines.get(), i, Py_NewRef(rule.get())) < 0)
            return nullptr;
    }
    if (PyList_Insert(lines.get(), 0, rule.get()) < 0 ||
        PyList_Insert(lines.get(), 0, header.get()) < 0)
        return nullptr;
    return PyUnicode_Join(newline.get(), lines.get());
}

}  // namespace orbivex::representable
