// Multi-phase module initialisation: one definition helper for every module (create slot with
// the once-per-process guard and the version warning, exec slot, state with traverse, clear and
// free), module-state members listed once, and the state lookup along a type's MRO.
#pragma once
#include <Python.h>

#include <tuple>
#include <type_traits>

namespace orbivex::py {

/// Py_mod_create body. Warns (RuntimeWarning) when loaded into another minor Python version
/// than the one compiled for, then refuses with RuntimeError "Module '<short>' has already been
/// imported. Re-initialisation is not supported." once `initialised` is set; otherwise returns
/// a new plain module named after the import machinery's ModuleSpec.
PyObject* create_module(PyObject* spec, const char* short_name, bool initialised);

/// Value of builtins `__debug__` now (the assertion switch a module fixes at exec).
/// 1 or 0, -1 with an error set.
int debug_enabled();

/// Raises AssertionError without a message (a failed `assert` of the module's own code).
void raise_assertion();

/// The module made from `def` that defined `type` or one of its bases (borrowed), or NULL with
/// TypeError "'T' does not derive from a type of module M". The first heap type along the MRO
/// whose module is one of `def`'s: PyType_GetModuleByDef refuses static types since 3.13, and
/// Cython builds its subclasses as static types.
PyObject* module_along_mro(PyTypeObject* type, const PyModuleDef* def) noexcept;

// ---- module-state members -------------------------------------------------------------------

/// One owned object member of a module state: visited by traverse, cleared by clear and free.
/// With `text`, the exec slot sets it to that text as an interned str before the module's exec.
template <class S, class T>
struct StateRef {
    T* S::* member;
    const char* text;
};

/// An owned member (a PyObject*, a PyTypeObject* or another object pointer).
template <class S, class T>
constexpr StateRef<S, T> owned(T* S::* member) noexcept {
    return {member, nullptr};
}
/// An owned str member set at exec to `text`, interned.
template <class S>
constexpr StateRef<S, PyObject> interned(PyObject* S::* member, const char* text) noexcept {
    return {member, text};
}

/// A state that lists its owned members once, as
/// `static constexpr auto refs() { return std::tuple{py::owned(&S::a), py::interned(&S::b, "b")};
/// }`. Members not listed (flags, numbers, borrowed caches) are left alone.
template <class S>
concept ListsRefs = requires { S::refs(); };

template <class T>
PyObject* as_object(T* p) noexcept {
    return reinterpret_cast<PyObject*>(p);
}

/// Calls `f` with each StateRef that S::refs() lists, in order.
template <ListsRefs S, class F>
void for_each_ref(F&& f) {
    std::apply([&](const auto&... r) { (f(r), ...); }, S::refs());
}

/// Visits every listed member that is set; the first non-zero result of `visit` is returned.
template <ListsRefs S>
int traverse_refs(S* st, visitproc visit, void* arg) noexcept {
    int err = 0;
    for_each_ref<S>([&](const auto& r) {
        if (!err && st->*r.member) err = visit(as_object(st->*r.member), arg);
    });
    return err;
}

/// Drops every listed member; each is NULL before its reference goes, as Py_CLEAR leaves it.
template <ListsRefs S>
void clear_refs(S* st) noexcept {
    for_each_ref<S>([&](const auto& r) {
        PyObject* old = as_object(st->*r.member);
        st->*r.member = nullptr;
        Py_XDECREF(old);
    });
}

/// Sets every member listed with a text to that text, interned; 0, or -1 with an error set.
template <ListsRefs S>
int intern_refs(S* st) noexcept {
    int rc = 0;
    for_each_ref<S>([&](const auto& r) {
        if constexpr (std::is_same_v<std::remove_cvref_t<decltype(r)>, StateRef<S, PyObject>>) {
            if (rc < 0 || !r.text) return;
            PyObject* text = PyUnicode_InternFromString(r.text);
            if (!text) {
                rc = -1;
                return;
            }
            Py_XSETREF(st->*r.member, text);
        }
    });
    return rc;
}

// ---- module definition ----------------------------------------------------------------------

/// State of a module that keeps nothing: present so that m_size > 0, which makes reloading the
/// same module object skip exec.
struct NoState {
    char unused;
};

namespace detail {
template <class M>
struct state_type {
    using type = NoState;
};
template <class M>
    requires requires { typename M::State; }
struct state_type<M> {
    using type = typename M::State;
};
}  // namespace detail

/// The definition of an extension module, from a description `M` with
///   static constexpr const char name[]   the module's short name (its m_name and messages)
///   static constexpr const char doc[]    the module docstring
///   using State = ...;                   optional; owned members listed by State::refs()
///   static int exec(PyObject* module, State& st) noexcept    (or exec(PyObject*) without State)
/// and optionally
///   static constexpr bool once_per_process = false;   no create slot and no guard (test modules)
///   static inline PyMethodDef methods[] = {...};      module-level builtins
///   static void free(State& st) noexcept;             runs when the module goes, before clear
/// The exec slot interns the State's named strings, runs M::exec and, when it succeeds, marks
/// the module initialised: the create slot then refuses a second module object for the process.
/// PyInit_<name> returns Module<M>::init().
template <class M>
class Module {
    // Instantiated before M is complete, the optional members below would read as absent.
    static_assert(sizeof(M) > 0, "describe the module before using py::Module of it");

public:
    using State = typename detail::state_type<M>::type;

    /// Set once exec has succeeded; a second module object is refused from then on.
    static inline bool initialised = false;

private:
    static constexpr bool guarded() {
        if constexpr (requires { M::once_per_process; }) return M::once_per_process;
        return true;
    }
    static constexpr bool has_free = requires(State& s) { M::free(s); };

    static PyObject* create_slot(PyObject* spec, PyModuleDef*) noexcept {
        return create_module(spec, M::name, initialised);
    }

    static int exec_slot(PyObject* module) noexcept {
        auto* st = static_cast<State*>(PyModule_GetState(module));
        if (!st) return -1;
        if constexpr (ListsRefs<State>) {
            if (intern_refs(st) < 0) return -1;
        }
        int rc;
        if constexpr (requires { M::exec(module, *st); })
            rc = M::exec(module, *st);
        else
            rc = M::exec(module);
        if (rc < 0) return -1;
        initialised = true;
        return 0;
    }

    // The state is NULL between the create and exec slots.
    static int traverse_slot(PyObject* module, visitproc visit, void* arg) noexcept {
        if constexpr (ListsRefs<State>) {
            if (auto* st = static_cast<State*>(PyModule_GetState(module)))
                return traverse_refs(st, visit, arg);
        }
        return 0;
    }

    static int clear_slot(PyObject* module) noexcept {
        if constexpr (ListsRefs<State>) {
            if (auto* st = static_cast<State*>(PyModule_GetState(module))) clear_refs(st);
        }
        return 0;
    }

    static void free_slot(void* module) noexcept {
        auto* st = static_cast<State*>(PyModule_GetState(static_cast<PyObject*>(module)));
        if (!st) return;
        if constexpr (has_free) M::free(*st);
        if constexpr (ListsRefs<State>) clear_refs(st);
    }

    static inline PyModuleDef_Slot guarded_slots[] = {
        {Py_mod_create, reinterpret_cast<void*>(create_slot)},
        {Py_mod_exec, reinterpret_cast<void*>(exec_slot)},
        {0, nullptr},
    };
    static inline PyModuleDef_Slot plain_slots[] = {
        {Py_mod_exec, reinterpret_cast<void*>(exec_slot)},
        {0, nullptr},
    };

    static PyMethodDef* methods() noexcept {
        if constexpr (requires { M::methods; })
            return M::methods;
        else
            return nullptr;
    }

public:
    static inline PyModuleDef def = {
        PyModuleDef_HEAD_INIT,
        M::name,
        M::doc,
        sizeof(State),
        methods(),
        guarded() ? guarded_slots : plain_slots,
        ListsRefs<State> ? traverse_slot : nullptr,
        ListsRefs<State> ? clear_slot : nullptr,
        ListsRefs<State> || has_free ? free_slot : nullptr,
    };

    static PyObject* init() noexcept { return PyModuleDef_Init(&def); }

    /// The state of `module`; NULL with SystemError "<name>: no module state" (or the lookup's
    /// own error for an object that is not a module).
    static State* state(PyObject* module) noexcept {
        auto* st = static_cast<State*>(PyModule_GetState(module));
        if (!st && !PyErr_Occurred())
            PyErr_Format(PyExc_SystemError, "%s: no module state", M::name);
        return st;
    }

    /// The state of the module that defined `type` or one of its bases (module_along_mro);
    /// NULL with an error set.
    static State* state_of(PyTypeObject* type) noexcept {
        PyObject* module = module_along_mro(type, &def);
        return module ? state(module) : nullptr;
    }
};

}  // namespace orbivex::py

/// Declares the module's create slot and a `<name>_initialised` flag for its exec slot to set.
/// Kept for modules not yet described to py::Module; new modules use py::Module.
#define ORBIVEX_MODULE_CREATE(short_name)                                           \
    static bool short_name##_initialised = false;                                   \
    static PyObject* short_name##_create(PyObject* spec, PyModuleDef*) {            \
        return ::orbivex::py::create_module(spec, #short_name, short_name##_initialised); \
    }
