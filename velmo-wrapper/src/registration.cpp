#include "registration.hpp"

#include <string>

#include "binding.hpp"
#include "conversions.hpp"
#include "errors.hpp"
#include "velmo/compat_texts.hpp"

namespace velmo::py {
namespace {

// Holds the module for the rest of the process once it has been created.
PyObject* module_cell = nullptr;

// The `__all__` list of `module`, created empty when the module has none.
Ref all_list(PyObject* module) {
    Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        // The expected miss of the first function is cleared directly: taking
        // it as an error would create the fatal-error type at every import.
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_pending();
        PyErr_Clear();
        all = Ref::steal(checked(PyList_New(0)));
        if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) throw_pending();
        return all;
    }
    if (!PyList_Check(all.get())) {
        Ref name = type_name_of(all.get());
        Ref message = Ref::steal(checked(PyUnicode_FromFormat(texts::not_a_list, name.get())));
        throw new_error(PyExc_TypeError, message.get());
    }
    return all;
}

// A debug rendering of the pending Python error, which it clears.
std::string describe_pending_error() {
    PythonError error = take_error();
    Ref text = Ref::steal(PyObject_Repr(error.normalized_value()));
    Ref bytes = Ref::steal(text ? PyUnicode_AsUTF8String(text.get()) : nullptr);
    const char* utf8 = bytes ? PyBytes_AsString(bytes.get()) : nullptr;
    if (utf8 == nullptr) {
        PyErr_Clear();
        return texts::unprintable_error;
    }
    return utf8;
}

void add_function(PyObject* module, PyMethodDef& method) {
    const char* module_name = PyModule_GetName(module);
    if (module_name == nullptr) throw_pending();
    Ref module_name_text = Ref::steal(checked(PyUnicode_FromString(module_name)));
    Ref function = Ref::steal(PyCFunction_NewEx(&method, module, module_name_text.get()));
    if (!function) throw_pending();
    Ref name = Ref::steal(PyObject_GetAttrString(function.get(), "__name__"));
    if (!name) throw_pending();
    check_utf8({name.get(), "__name__"});
    Ref all = all_list(module);
    if (PyList_Append(all.get(), name.get()) < 0) {
        fatal_here(texts::append_to_all_failed + describe_pending_error());
    }
    if (PyObject_SetAttr(module, name.get(), function.get()) < 0) throw_pending();
}

}  // namespace

PyObject* create_module(PyModuleDef& definition, std::span<MethodRecords> methods) noexcept {
    return call_boundary([&]() -> PyObject* {
        if (module_cell != nullptr) {
            throw new_error(PyExc_ImportError, texts::created_once);
        }
        Ref module = Ref::steal(PyModule_Create2(&definition, PYTHON_ABI_VERSION));
        if (!module) throw_pending();
#ifdef Py_GIL_DISABLED
        // Every piece of state that calls share is guarded (the generator, the
        // noise table) or set once with release and acquire (the Engine, the
        // PanicException type), so importing the module keeps the GIL off.
        // A single-phase module declares it here; a Py_mod_gil slot is refused.
        if (PyUnstable_Module_SetGIL(module.get(), Py_MOD_GIL_NOT_USED) < 0) throw_pending();
#endif
#ifdef PYPY_VERSION
        // PyPy leaves an empty m_doc unset, and `__doc__` would read as the
        // module type's own.
        Ref doc = Ref::steal(checked(PyUnicode_FromString(definition.m_doc)));
        if (PyObject_SetAttrString(module.get(), "__doc__", doc.get()) < 0) throw_pending();
#endif
#ifdef PYPY_VERSION
        // PyPy makes a tuple of the arguments for either convention, and its
        // fast one fails fatally inside PyPy on some calls (8.0.1).
        bool fast_calls = false;
#else
        bool fast_calls = interpreter_has_fast_calls();
#endif
        for (MethodRecords& records : methods) {
            add_function(module.get(), records.for_interpreter(fast_calls));
        }
        module_cell = Ref::borrow(module.get()).release();
        return module.release();
    });
}

}  // namespace velmo::py
