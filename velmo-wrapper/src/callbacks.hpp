// The frame handler that calls a script's `update`, `draw` and `close`.
#pragma once

#include "python.hpp"
#include "velmo/scheduler.hpp"

namespace velmo::py {

// Holds borrowed references: the objects are the arguments of the running
// `run` call, which keeps them alive (keyword-bound ones included) for as
// long as the loop runs.
class CallbackHandler final : public FrameHandler {
public:
    CallbackHandler(PyObject* update, PyObject* draw, PyObject* close) noexcept
        : update_(update), draw_(draw), close_(close) {}

    void update(Engine& engine) override;
    void draw(Engine& engine) override;

private:
    void call(PyObject* callback);

    PyObject* update_;
    PyObject* draw_;
    PyObject* close_;
};

// The handler of `show`: nothing to call.
class IdleHandler final : public FrameHandler {
public:
    void update(Engine&) override {}
    void draw(Engine&) override {}
};

}  // namespace velmo::py
