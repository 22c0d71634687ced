// The entry points the interpreter calls, one per calling convention, as thin
// adapters over one function body each.
//
// The stable ABI of 3.8 and 3.9 offers only the tuple convention
// (METH_VARARGS | METH_KEYWORDS): the interpreter builds a tuple, and a
// dictionary for keywords, before every call. From 3.10 on it also offers the
// fast convention (METH_FASTCALL | METH_KEYWORDS), which passes the caller's
// own array of arguments and a tuple of keyword names. Every function that
// takes arguments has a method record for each; the module registers the one
// the running interpreter supports.
#pragma once

#include "binding.hpp"
#include "errors.hpp"
#include "python.hpp"
#include "signature.hpp"

namespace velmo::py {

// The fast convention's flag and entry type, part of the stable ABI since
// 3.10, which the headers of 3.8 do not declare.
inline constexpr int fast_call_flag = 0x0080;
using FastEntry = PyObject* (*)(PyObject* module, PyObject* const* args, Py_ssize_t count,
                                PyObject* keyword_names);

// Whether the running interpreter, whichever headers the module was built
// with, accepts the fast convention.
bool interpreter_has_fast_calls() noexcept;

// A function's two method records; both live for the whole process.
struct MethodRecords {
    PyMethodDef tuple_call;
    PyMethodDef fast_call;

    PyMethodDef& for_interpreter(bool fast_calls) noexcept {
        return fast_calls ? fast_call : tuple_call;
    }
};

template <const auto& S, auto Body>
PyObject* tuple_entry(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
    return call_boundary([&] {
        constexpr std::size_t n = Arguments<S>::size;
        // The binder reads the positional arguments from an array, and the
        // tuple of this convention does not expose one in the stable ABI.
        PyObject* positional[n > 0 ? n : 1];
        Py_ssize_t given = PyTuple_Size(args);
        for (Py_ssize_t i = 0; i < given && i < static_cast<Py_ssize_t>(n); ++i) {
            positional[i] = PyTuple_GetItem(args, i);
        }
        return Body(bind<S>({positional, given, Keywords::from_dict(kwargs)}));
    });
}

template <const auto& S, auto Body>
PyObject* fast_entry(PyObject*, PyObject* const* args, Py_ssize_t count,
                     PyObject* keyword_names) noexcept {
    return call_boundary([&] {
        return Body(bind<S>({args, count, Keywords::from_names(keyword_names, args + count)}));
    });
}

// The method records of the function described by `S` whose body is `Body`,
// which takes the bound `Arguments<S>`.
template <const auto& S, auto Body>
MethodRecords method_records() noexcept {
    const char* doc = documentation<S>.data();
    return {
        {S.function_name,
         reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(tuple_entry<S, Body>)),
         METH_VARARGS | METH_KEYWORDS, doc},
        {S.function_name,
         reinterpret_cast<PyCFunction>(
             reinterpret_cast<void (*)()>(static_cast<FastEntry>(fast_entry<S, Body>))),
         fast_call_flag | METH_KEYWORDS, doc},
    };
}

// A function without parameters: the interpreter itself refuses any
// argument, in either convention.
template <const auto& Name, PyCFunction Body>
MethodRecords no_argument_records() noexcept {
    PyMethodDef record{Name.function_name, Body, METH_NOARGS, documentation<Name>.data()};
    return {record, record};
}

}  // namespace velmo::py
