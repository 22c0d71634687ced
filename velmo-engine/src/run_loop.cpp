#include <atomic>
#include <cstdint>
#include <thread>

#include "velmo/compat_texts.hpp"
#include "velmo/engine.hpp"
#include "velmo/fatal.hpp"
#include "velmo/run_loop.hpp"

namespace velmo {
namespace {

// The loop polls about twice per sixtieth of a second whatever the frame
// rate: each pass sleeps half of what it left of this budget.
constexpr double pass_budget_ms = 16.666666666666668;

// The pass's length in ticks. Unsigned subtraction keeps it right across the
// 32-bit wrap of the tick count; a clock set back during the pass shows as a
// length near 2^32, which leaves nothing to sleep.
double pass_length_ms(std::uint32_t t0, std::uint32_t t1) noexcept {
    return static_cast<double>(t1 - t0);
}

// Whole milliseconds to sleep after a pass; nothing when the pass overran.
// Without a wrap, -length is exactly t0 - t1, so this is (t0 - t1) + budget.
bool sleep_after_pass(std::uint32_t t0, std::uint32_t t1, std::uint32_t& ms) noexcept {
    const double left = -pass_length_ms(t0, t1) + pass_budget_ms;
    if (!(left > 0.0)) return false;
    // At most half the budget, so the truncation needs no upper clamp.
    ms = static_cast<std::uint32_t>(left * 0.5);
    return true;
}

void run_pass(Engine& engine, FrameHandler& handler, Clock& clock) {
    const std::uint32_t t0 = clock.ticks();
    engine.scheduler.advance_frame(handler, engine, clock);
    const std::uint32_t t1 = clock.ticks();
    std::uint32_t ms = 0;
    if (sleep_after_pass(t0, t1, ms)) clock.sleep(ms);
}

// The calling thread's hold on the Engine's loop for as long as its outermost
// loop runs. Two threads advancing one scheduler would share out its frames
// between them (and, without a GIL, race on it); a nested loop on the same
// thread is what a callback calling run or show has always started.
class LoopClaim {
public:
    explicit LoopClaim(Engine& engine) : engine_(engine) {
        const std::thread::id caller = std::this_thread::get_id();
        std::thread::id holder{};
        if (engine_.loop_thread.compare_exchange_strong(holder, caller,
                                                        std::memory_order_acq_rel)) {
            outermost_ = true;
        } else if (holder != caller) {
            fatal_here(texts::loop_in_another_thread);
        }
    }
    ~LoopClaim() {
        if (outermost_) engine_.loop_thread.store(std::thread::id{}, std::memory_order_release);
    }
    LoopClaim(const LoopClaim&) = delete;
    LoopClaim& operator=(const LoopClaim&) = delete;

private:
    Engine& engine_;
    bool outermost_ = false;
};

}  // namespace

void run_loop(Engine& engine, FrameHandler& handler, Clock& clock) {
    LoopClaim claim(engine);
    for (;;) run_pass(engine, handler, clock);
}

}  // namespace velmo
