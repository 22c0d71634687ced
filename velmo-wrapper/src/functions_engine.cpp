#include "callbacks.hpp"
#include "functions.hpp"
#include "velmo/engine.hpp"
#include "velmo/run_loop.hpp"
#include "velmo_singleton.hpp"

namespace velmo::py {
namespace {

// Moves the working directory to the directory of the script that called
// `init`: frame 0 of the stack is this statement itself, frame 1 its caller.
constexpr const char* chdir_to_caller =
    "os.chdir(os.path.dirname(inspect.stack()[1].filename) or '.')";

// `chdir_to_caller`, compiled once for the process (borrowed).
PyObject* compiled_statement() {
    static PyObject* code = nullptr;
    if (code == nullptr) {
        code = Py_CompileString(chdir_to_caller, "<string>", Py_file_input);
        if (code == nullptr) {
            // The statement is fixed and valid: only memory can fail it, and
            // the parser of some interpreters then returns without an error.
            if (!PyErr_Occurred()) PyErr_NoMemory();
            throw_pending();
        }
    }
    return code;
}

void import_into(PyObject* locals, const char* name) {
    Ref module = Ref::steal(PyImport_ImportModule(name));
    if (!module) throw_pending();
    if (PyDict_SetItemString(locals, name, module.get()) < 0) throw_pending();
}

void move_to_caller_directory() {
    Ref locals = Ref::steal(checked(PyDict_New()));
    import_into(locals.get(), "os");
    import_into(locals.get(), "inspect");
    PyObject* code = compiled_statement();
    PyObject* main_module = PyImport_AddModule("__main__");
    if (main_module == nullptr) throw_pending();
    PyObject* globals = PyModule_GetDict(main_module);
    // PyDict_GetItemString would take a key it failed to make for a missing
    // entry, and replace the script's own `__builtins__`.
    Ref key = Ref::steal(PyUnicode_FromString("__builtins__"));
    if (!key) throw_pending();
    if ((PyDict_GetItemWithError(globals, key.get()) == nullptr) &&
        (PyErr_Occurred() || PyDict_SetItem(globals, key.get(), PyEval_GetBuiltins()) < 0)) {
        throw_pending();
    }

    Ref result = Ref::steal(PyEval_EvalCode(code, globals, locals.get()));
    if (!result) throw_pending();
}

PyObject* init_body(const Arguments<init_signature>& arguments) {
    std::optional<std::uint32_t> fps = to_optional_uint32(arguments[0]);
    move_to_caller_directory();
    set_instance(Engine::create(fps));
    return none();
}

PyObject* run_body(const Arguments<run_signature>& arguments) {
    Engine& engine = instance();
    CallbackHandler handler(arguments[0].object, arguments[1].object, arguments[2].object);
    SystemClock clock;
    run_loop(engine, handler, clock);
}

PyObject* show_body(PyObject*, PyObject*) {
    return call_boundary([&]() -> PyObject* {
        Engine& engine = instance();
        IdleHandler handler;
        SystemClock clock;
        run_loop(engine, handler, clock);
    });
}

PyObject* quit_body(PyObject*, PyObject*) {
    return call_boundary([&] {
        require_engine();
        return none();
    });
}

PyObject* title_body(const Arguments<title_signature>& arguments) {
    check_utf8(arguments[0]);
    require_engine();
    return none();
}

}  // namespace

bool prepare_init() noexcept {
    return call_boundary([] { return compiled_statement(); }) != nullptr;
}

MethodRecords init_methods() noexcept { return method_records<init_signature, init_body>(); }

MethodRecords run_methods() noexcept { return method_records<run_signature, run_body>(); }

MethodRecords title_methods() noexcept { return method_records<title_signature, title_body>(); }

MethodRecords show_methods() noexcept { return no_argument_records<show_signature, show_body>(); }

MethodRecords quit_methods() noexcept { return no_argument_records<quit_signature, quit_body>(); }

}  // namespace velmo::py
