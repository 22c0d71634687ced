// The frame handler that calls a script's `update`, `draw` and `close`.
#pragma once

#include "pyref.hpp"
#include "python.hpp"
#include "velmo/scheduler.hpp"

namespace velmo::py {

// Holds its own references to the three objects. The arguments of the
// running `run` call would normally keep them alive, but a keyword dictionary
// handed through unchanged by an older interpreter can be emptied by the
// script while the loop runs.
class CallbackHandler final : public FrameHandler {
public:
    CallbackHandler(PyObject* update, PyObject* draw, PyObject* close) noexcept
        : update_(Ref::borrow(update)), draw_(Ref::borrow(draw)), close_(Ref::borrow(close)) {}

    void update(Engine& engine) override;
    void draw(Engine& engine) override;

private:
    void call(PyObject* callback);

    Ref update_;
    Ref draw_;
    Ref close_;
};

// The handler of `show`: nothing to call.
class IdleHandler final : public FrameHandler {
public:
    void update(Engine&) override {}
    void draw(Engine&) override {}
};

}  // namespace velmo::py
