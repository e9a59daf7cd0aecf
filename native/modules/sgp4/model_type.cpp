// The _Model type: element sets initialised once, propagated over grids, pairs and per-sample
// sets on several threads without the interpreter lock.
#include <Python.h>

#include <algorithm>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "kernels/sgp4_batch.hpp"
#include "model.hpp"
#include "support/args.hpp"

namespace orbivex::sgp4 {

namespace {

ModelObject* as_model(PyObject* self) { return reinterpret_cast<ModelObject*>(self); }

PyArrayObject* as_array(const Ref& r) { return reinterpret_cast<PyArrayObject*>(r.get()); }

/// `obj` as a C-contiguous array of `type` with `ndim` dimensions (converted when it is not).
Ref array_of(PyObject* obj, int type, int ndim, const char* what) noexcept {
    Ref a = Ref::steal(PyArray_FROMANY(obj, type, ndim, ndim, NPY_ARRAY_IN_ARRAY));
    if (!a && PyErr_ExceptionMatches(PyExc_ValueError)) {
        PyErr_Clear();
        PyErr_Format(PyExc_ValueError, "%s must have %d dimension%s", what, ndim,
                     ndim == 1 ? "" : "s");
    }
    return a;
}

/// Samples a unit of work covers: small enough that Ctrl-C answers within milliseconds.
constexpr std::size_t chunk = 16384;

/// Minutes from a set's epoch to an instant in ns; NaN for NaT or a span past int64.
inline double minutes_between(std::int64_t t, std::int64_t epoch) noexcept {
    std::int64_t d;
    if (t == INT64_MIN || __builtin_sub_overflow(t, epoch, &d)) return __builtin_nan("");
    return static_cast<double>(d) / static_cast<double>(ns_per_minute);
}

/// A scratch array of `n` doubles, or empty when memory ran out (no exception in a worker).
std::unique_ptr<double[]> scratch(std::size_t n) noexcept {
    return std::unique_ptr<double[]>(new (std::nothrow) double[n]);
}

struct Outputs {
    Ref r, v, status;
    double* rp = nullptr;
    double* vp = nullptr;
    std::uint8_t* sp = nullptr;

    int make(int ndim, npy_intp* dims) noexcept {
        dims[ndim] = 3;
        r = Ref::steal(PyArray_SimpleNew(ndim + 1, dims, NPY_FLOAT64));
        v = Ref::steal(PyArray_SimpleNew(ndim + 1, dims, NPY_FLOAT64));
        status = Ref::steal(PyArray_SimpleNew(ndim, dims, NPY_UINT8));
        if (!r || !v || !status) return -1;
        rp = static_cast<double*>(PyArray_DATA(as_array(r)));
        vp = static_cast<double*>(PyArray_DATA(as_array(v)));
        sp = static_cast<std::uint8_t*>(PyArray_DATA(as_array(status)));
        return 0;
    }
    PyObject* result() noexcept { return PyTuple_Pack(3, r.get(), v.get(), status.get()); }
};

/// Every set at every time: minutes (T,) from each set's epoch, or instants (T,) in ns.
PyObject* grid(ModelObject* m, const double* minutes, const std::int64_t* times, std::size_t nt,
               int threads) noexcept {
    const auto ns = static_cast<std::size_t>(m->n);
    npy_intp dims[3] = {m->n, static_cast<npy_intp>(nt), 3};
    Outputs o;
    if (o.make(2, dims) < 0) return nullptr;
    const auto snt = static_cast<std::ptrdiff_t>(nt);
    const k::Output out{o.rp, o.vp, o.sp, 3 * snt, 3, snt, 1, 1000.0};
    // an item: a block of whole sets, or one set's block of times when there are many
    const std::size_t per_set = nt > chunk ? (nt + chunk - 1) / chunk : 1;
    const std::size_t sets_per =
        nt > chunk ? 1 : std::max<std::size_t>(1, chunk / std::max<std::size_t>(nt, 1));
    const std::size_t items = nt == 0      ? 0
                              : nt > chunk ? ns * per_set
                                           : (ns + sets_per - 1) / sets_per;
    const k::Record* recs = m->records;
    const std::int64_t* epochs = m->epoch_ns;
    return run_items(items, threads,
                     [&](std::size_t item) noexcept {
                         std::size_t s0, s1, t0, t1;
                         if (nt > chunk) {
                             s0 = item / per_set;
                             s1 = s0 + 1;
                             t0 = item % per_set * chunk;
                             t1 = std::min(nt, t0 + chunk);
                         } else {
                             s0 = item * sets_per;
                             s1 = std::min(ns, s0 + sets_per);
                             t0 = 0;
                             t1 = nt;
                         }
                         if (minutes) {
                             k::propagate_grid_times(recs, s0, s1, minutes, t0, t1, out);
                             return true;
                         }
                         auto t = scratch(t1 - t0);
                         if (!t) return false;
                         k::Output shifted = out;
                         shifted.r += 3 * t0;
                         shifted.v += 3 * t0;
                         shifted.status += t0;
                         for (std::size_t s = s0; s < s1; ++s) {
                             for (std::size_t j = t0; j < t1; ++j)
                                 t[j - t0] = minutes_between(times[j], epochs[s]);
                             k::propagate_grid_times(recs, s, s + 1, t.get(), 0, t1 - t0, shifted);
                         }
                         return true;
                     }) < 0
               ? nullptr
               : o.result();
}

/// Sample i of set sets[i] at tsince[i] minutes; sets grouped with a counting sort so that
/// each run of one set's samples shares the vector lanes over times.
PyObject* indexed(ModelObject* m, const std::vector<std::int64_t>& sets,
                  const std::vector<double>& tsince, int threads) noexcept {
    const std::size_t n = sets.size();
    npy_intp dims[2] = {static_cast<npy_intp>(n), 3};
    Outputs o;
    if (o.make(1, dims) < 0) return nullptr;
    std::vector<std::int64_t> order;
    try {
        std::vector<std::size_t> start(static_cast<std::size_t>(m->n) + 1, 0);
        for (std::int64_t s : sets) ++start[static_cast<std::size_t>(s) + 1];
        for (std::size_t s = 1; s < start.size(); ++s) start[s] += start[s - 1];
        order.resize(n);
        for (std::size_t i = 0; i < n; ++i)
            order[start[static_cast<std::size_t>(sets[i])]++] = static_cast<std::int64_t>(i);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return nullptr;
    }
    const k::Record* recs = m->records;
    const std::size_t items = (n + chunk - 1) / chunk;
    return run_items(items, threads,
                     [&](std::size_t item) noexcept {
                         const std::size_t b = item * chunk, e = std::min(n, b + chunk),
                                           len = e - b;
                         auto buf = scratch(7 * len);
                         if (!buf) return false;
                         double* t = buf.get();
                         double* r = t + len;
                         double* v = r + 3 * len;
                         auto status =
                             std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[len]);
                         if (!status) return false;
                         for (std::size_t q = 0; q < len; ++q)
                             t[q] = tsince[static_cast<std::size_t>(order[b + q])];
                         for (std::size_t a = 0; a < len;) {
                             const std::int64_t s = sets[static_cast<std::size_t>(order[b + a])];
                             std::size_t z = a + 1;
                             while (z < len && sets[static_cast<std::size_t>(order[b + z])] == s)
                                 ++z;
                             const k::Output out{r + 3 * a, v + 3 * a, status.get() + a, 0, 3, 0,
                                                 1,         1000.0};
                             k::propagate_grid_times(recs + s, 0, 1, t + a, 0, z - a, out);
                             a = z;
                         }
                         for (std::size_t q = 0; q < len; ++q) {
                             const auto i = static_cast<std::size_t>(order[b + q]);
                             for (int c = 0; c < 3; ++c) {
                                 o.rp[3 * i + c] = r[3 * q + c];
                                 o.vp[3 * i + c] = v[3 * q + c];
                             }
                             o.sp[i] = status[q];
                         }
                         return true;
                     }) < 0
               ? nullptr
               : o.result();
}

/// Set i at its own tsince[i]: sets of one family share vector lanes.
PyObject* paired(ModelObject* m, const std::vector<double>& tsince, int threads) noexcept {
    const auto n = static_cast<std::size_t>(m->n);
    npy_intp dims[2] = {m->n, 3};
    Outputs o;
    if (o.make(1, dims) < 0) return nullptr;
    std::vector<std::vector<std::int64_t>> index(4);
    std::vector<std::vector<double>> data(4);
    std::vector<k::SoaBlock> blocks;
    struct Item {
        std::size_t block, begin, end;
    };
    std::vector<Item> items;
    try {
        for (std::size_t i = 0; i < n; ++i)
            index[static_cast<int>(k::family(m->records[i]))].push_back(
                static_cast<std::int64_t>(i));
        for (int f = 0; f < 4; ++f) {
            if (index[f].empty()) continue;
            const auto fam = static_cast<k::Family>(f);
            data[f].resize(k::soa_doubles(fam, index[f].size()));
            blocks.push_back(
                k::soa_fill(fam, m->records, index[f].data(), index[f].size(), data[f].data()));
            for (std::size_t p = 0; p < index[f].size(); p += chunk)
                items.push_back({blocks.size() - 1, p, std::min(index[f].size(), p + chunk)});
        }
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return nullptr;
    }
    const k::Output out{o.rp, o.vp, o.sp, 3, 0, 1, 0, 1000.0};
    return run_items(items.size(), threads,
                     [&](std::size_t i) noexcept {
                         const Item& it = items[i];
                         k::propagate_paired(blocks[it.block], it.begin, it.end, tsince.data(),
                                             out);
                         return true;
                     }) < 0
               ? nullptr
               : o.result();
}

// ---- the type -----------------------------------------------------------------------------

int Model_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
    ModelObject* m = as_model(self);
    Py_VISIT(m->elements);
    Py_VISIT(m->epochs);
    Py_VISIT(m->status);
    Py_VISIT(Py_TYPE(self));
    return 0;
}

int Model_clear(PyObject* self) noexcept {
    ModelObject* m = as_model(self);
    Py_CLEAR(m->elements);
    Py_CLEAR(m->epochs);
    Py_CLEAR(m->status);
    return 0;
}

void Model_dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    Model_clear(self);
    ModelObject* m = as_model(self);
    delete[] m->records;
    m->records = nullptr;
    type->tp_free(self);
    Py_DECREF(type);
}

bool gravity_of(PyObject* g, k::Gravity& out) noexcept {
    if (PyUnicode_Check(g)) {
        if (PyUnicode_CompareWithASCIIString(g, "wgs72") == 0) return out = k::Gravity::wgs72, true;
        if (PyUnicode_CompareWithASCIIString(g, "wgs72old") == 0)
            return out = k::Gravity::wgs72old, true;
        if (PyUnicode_CompareWithASCIIString(g, "wgs84") == 0) return out = k::Gravity::wgs84, true;
    }
    PyErr_Format(PyExc_ValueError, "gravity must be 'wgs72', 'wgs72old' or 'wgs84', not %R", g);
    return false;
}

bool mode_of(PyObject* m, k::Mode& out) noexcept {
    if (PyUnicode_Check(m)) {
        if (PyUnicode_CompareWithASCIIString(m, "i") == 0) return out = k::Mode::improved, true;
        if (PyUnicode_CompareWithASCIIString(m, "a") == 0) return out = k::Mode::operational, true;
    }
    PyErr_Format(PyExc_ValueError, "mode must be 'i' or 'a', not %R", m);
    return false;
}

const char* const new_names[] = {"elements", "epoch_ns", "gravity", "mode"};
const py::Params new_params{new_names, 4, 4};

PyObject* Model_new(PyTypeObject* type, PyObject* args, PyObject* kwds) noexcept {
    PyObject* argv[4];
    Ref held[4];
    if (py::bind_tuple_dict("_Model", new_params, args, kwds, argv, held) < 0) return nullptr;
    k::Gravity gravity;
    k::Mode mode;
    if (!gravity_of(argv[2], gravity) || !mode_of(argv[3], mode)) return nullptr;
    Ref el = array_of(argv[0], NPY_FLOAT64, 2, "elements");
    if (!el) return nullptr;
    Ref ep = array_of(argv[1], NPY_INT64, 1, "epoch_ns");
    if (!ep) return nullptr;
    const npy_intp n = PyArray_DIM(as_array(el), 0);
    if (PyArray_DIM(as_array(el), 1) != 9 || PyArray_DIM(as_array(ep), 0) != n) {
        PyErr_SetString(PyExc_ValueError,
                        "_Model(): elements must have shape (n, 9) and epoch_ns shape (n,)");
        return nullptr;
    }
    // private copies: the records must not follow later writes into the caller's arrays
    Ref elements = Ref::steal(PyArray_NewCopy(as_array(el), NPY_CORDER));
    Ref epochs = Ref::steal(PyArray_NewCopy(as_array(ep), NPY_CORDER));
    npy_intp dims[1] = {n};
    Ref status = Ref::steal(PyArray_SimpleNew(1, dims, NPY_UINT8));
    if (!elements || !epochs || !status) return nullptr;
    Ref self = Ref::steal(type->tp_alloc(type, 0));
    if (!self) return nullptr;
    ModelObject* m = as_model(self.get());
    m->records = new (std::nothrow) k::Record[static_cast<std::size_t>(n > 0 ? n : 1)];
    if (!m->records) return PyErr_NoMemory();
    m->n = n;
    m->gravity = gravity;
    m->mode = mode;
    const auto* e = static_cast<const double*>(PyArray_DATA(as_array(elements)));
    m->epoch_ns = static_cast<std::int64_t*>(PyArray_DATA(as_array(epochs)));
    auto* st = static_cast<std::uint8_t*>(PyArray_DATA(as_array(status)));
    // the arrays are this object's own copies: read without the interpreter lock
    k::Record* records = m->records;
    const std::int64_t* epoch_ns = m->epoch_ns;
    const auto count = static_cast<std::size_t>(n);
    constexpr std::size_t sets_per_item = 512;
    const int rc = run_items(
        (count + sets_per_item - 1) / sets_per_item, init_threads(count),
        [&](std::size_t item) noexcept {
            const std::size_t end = std::min(count, (item + 1) * sets_per_item);
            for (std::size_t i = item * sets_per_item; i < end; ++i) {
                const double* x = e + 9 * i;
                const k::Elements el_i{x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7], x[8]};
                // whole days since the model's day 0, then the exact fraction of the day
                const std::int64_t ns = epoch_ns[i];
                std::int64_t days = ns / ns_per_day, rest = ns % ns_per_day;
                if (rest < 0) rest += ns_per_day, --days;
                const double epoch = static_cast<double>(days + days_1950_to_1970) +
                                     static_cast<double>(rest) / static_cast<double>(ns_per_day);
                st[i] =
                    static_cast<std::uint8_t>(k::init_days(records[i], epoch, el_i, gravity, mode));
            }
            return true;
        });
    if (rc < 0) return nullptr;
    PyArray_CLEARFLAGS(as_array(status), NPY_ARRAY_WRITEABLE);
    PyArray_CLEARFLAGS(as_array(elements), NPY_ARRAY_WRITEABLE);
    PyArray_CLEARFLAGS(as_array(epochs), NPY_ARRAY_WRITEABLE);
    m->elements = elements.release();
    m->epochs = epochs.release();
    m->status = status.release();
    return self.release();
}

int threads_of(PyObject* obj) noexcept {
    const long v = PyLong_AsLong(obj);
    if (v == -1 && PyErr_Occurred()) return -1;
    if (v < 1) {
        PyErr_Format(PyExc_ValueError, "threads must be at least 1, not %ld", v);
        return -1;
    }
    return v > 1024 ? 1024 : static_cast<int>(v);
}

const char* const propagate_names[] = {"minutes", "times_ns", "sets", "threads"};
const py::Params propagate_params{propagate_names, 4, 4};

/// _propagate(minutes, times_ns, sets, threads): exactly one of minutes (float64, minutes from
/// each set's epoch) and times_ns (int64 ns since 1970) is not None. sets None: every set at
/// every time, (n, T, 3); sets "paired": set i at time i, (n, 3); sets an int64 array: sample
/// i of set sets[i] at time i, (len(sets), 3).
PyObject* Model_propagate(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) noexcept {
    PyObject* argv[5] = {};
    if (py::bind_vectorcall("_propagate", propagate_params, args, nargs, kwnames, argv + 1) < 0)
        return nullptr;
    ModelObject* m = as_model(self);
    const bool by_minutes = argv[1] != Py_None;
    if (by_minutes == (argv[2] != Py_None)) {
        PyErr_SetString(PyExc_TypeError, "_propagate(): give one of minutes and times_ns");
        return nullptr;
    }
    const int threads = threads_of(argv[4]);
    if (threads < 0) return nullptr;
    Ref t = by_minutes ? array_of(argv[1], NPY_FLOAT64, 1, "minutes")
                       : array_of(argv[2], NPY_INT64, 1, "times_ns");
    if (!t) return nullptr;
    const auto nt = static_cast<std::size_t>(PyArray_DIM(as_array(t), 0));
    const void* tp = PyArray_DATA(as_array(t));
    auto minutes_at = [&](std::size_t j, std::int64_t s) {
        return by_minutes
                   ? static_cast<const double*>(tp)[j]
                   : minutes_between(static_cast<const std::int64_t*>(tp)[j], m->epoch_ns[s]);
    };
    PyObject* sets = argv[3];
    if (sets == Py_None) {
        // the times are copied: another thread may write into the caller's array meanwhile
        Ref copy = Ref::steal(PyArray_NewCopy(as_array(t), NPY_CORDER));
        if (!copy) return nullptr;
        const void* cp = PyArray_DATA(as_array(copy));
        return grid(m, by_minutes ? static_cast<const double*>(cp) : nullptr,
                    by_minutes ? nullptr : static_cast<const std::int64_t*>(cp), nt, threads);
    }
    std::vector<double> tsince;
    std::vector<std::int64_t> index;
    try {
        if (PyUnicode_Check(sets) && PyUnicode_CompareWithASCIIString(sets, "paired") == 0) {
            if (nt != static_cast<std::size_t>(m->n)) {
                PyErr_Format(PyExc_ValueError,
                             "paired propagation needs one time per element set (%zd sets, %zu "
                             "times)",
                             m->n, nt);
                return nullptr;
            }
            tsince.resize(nt);
            for (std::size_t j = 0; j < nt; ++j)
                tsince[j] = minutes_at(j, static_cast<std::int64_t>(j));
            return paired(m, tsince, threads);
        }
        Ref s = array_of(sets, NPY_INT64, 1, "sets");
        if (!s) return nullptr;
        if (static_cast<std::size_t>(PyArray_DIM(as_array(s), 0)) != nt) {
            PyErr_SetString(PyExc_ValueError, "_propagate(): sets and times differ in length");
            return nullptr;
        }
        const auto* sp = static_cast<const std::int64_t*>(PyArray_DATA(as_array(s)));
        index.assign(sp, sp + nt);
        tsince.resize(nt);
        for (std::size_t j = 0; j < nt; ++j) {
            if (index[j] < 0 || index[j] >= m->n) {
                PyErr_Format(PyExc_IndexError, "set index %lld is out of range for %zd sets",
                             static_cast<long long>(index[j]), m->n);
                return nullptr;
            }
            tsince[j] = minutes_at(j, index[j]);
        }
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    return indexed(m, index, tsince, threads);
}

PyObject* Model_get(PyObject* self, void* closure) noexcept {
    ModelObject* m = as_model(self);
    PyObject* const fields[] = {m->elements, m->epochs, m->status};
    PyObject* f = fields[reinterpret_cast<std::intptr_t>(closure)];
    return Py_NewRef(f ? f : Py_None);
}

PyObject* Model_get_gravity(PyObject* self, void*) noexcept {
    switch (as_model(self)->gravity) {
    case k::Gravity::wgs72old: return PyUnicode_FromString("wgs72old");
    case k::Gravity::wgs84: return PyUnicode_FromString("wgs84");
    default: return PyUnicode_FromString("wgs72");
    }
}

PyObject* Model_get_mode(PyObject* self, void*) noexcept {
    return PyUnicode_FromString(as_model(self)->mode == k::Mode::improved ? "i" : "a");
}

PyObject* Model_reduce(PyObject* self, PyObject*) noexcept {
    ModelObject* m = as_model(self);
    Ref g = Ref::steal(Model_get_gravity(self, nullptr));
    Ref mode = Ref::steal(Model_get_mode(self, nullptr));
    if (!g || !mode) return nullptr;
    return Py_BuildValue("O(OOOO)", Py_TYPE(self), m->elements, m->epochs, g.get(), mode.get());
}

PyGetSetDef Model_getset[] = {
    {"elements", Model_get, nullptr,
     "(n, 9) float64: bstar, ndot, nddot, ecco, argpo, inclo, mo, no_kozai, nodeo.",
     reinterpret_cast<void*>(0)},
    {"epoch_ns", Model_get, nullptr, "(n,) int64: epochs, ns since 1970 UTC.",
     reinterpret_cast<void*>(1)},
    {"status", Model_get, nullptr, "(n,) uint8: status of each set's initialisation.",
     reinterpret_cast<void*>(2)},
    {"gravity", Model_get_gravity, nullptr, "The Earth model.", nullptr},
    {"mode", Model_get_mode, nullptr, "'i' or 'a'.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef Model_methods[] = {
    {"_propagate", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Model_propagate)),
     METH_FASTCALL | METH_KEYWORDS, "_propagate(minutes, times_ns, sets, threads)"},
    {"__reduce__", Model_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

Py_ssize_t Model_length(PyObject* self) noexcept { return as_model(self)->n; }

PyType_Slot Model_slots[] = {
    {Py_tp_doc, const_cast<char*>("_Model(elements, epoch_ns, gravity, mode)\n--\n\n"
                                  "Initialised SGP4/SDP4 records of n element sets.")},
    {Py_tp_new, reinterpret_cast<void*>(Model_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(Model_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(Model_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(Model_clear)},
    {Py_tp_methods, Model_methods},
    {Py_tp_getset, Model_getset},
    {Py_sq_length, reinterpret_cast<void*>(Model_length)},
    {0, nullptr},
};

}  // namespace

PyType_Spec Model_spec = {
    "orbivex.propagators.analytical.sgp4.sgp4._Model",
    static_cast<int>(sizeof(ModelObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE,
    Model_slots,
};

}  // namespace orbivex::sgp4
