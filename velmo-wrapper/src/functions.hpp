// The module's eighteen functions: the description of each one's parameters,
// and its method records, whose entry points in both calling conventions
// share one body (kept beside them, where the compiler can inline it).
#pragma once

#include "conversions.hpp"
#include "entry.hpp"
#include "python.hpp"
#include "signature.hpp"

namespace velmo::py {

// Engine lifecycle. `init` shows `fps` without a default, yet needs none.
inline constexpr Signature<1> init_signature{"init", {"fps"}, 0, 1};
inline constexpr Signature<3> run_signature{"run", {"update", "draw", "close"}, 3};
inline constexpr Signature<0> show_signature{"show", {}, 0};
inline constexpr Signature<0> quit_signature{"quit", {}, 0};
inline constexpr Signature<1> title_signature{"title", {"title"}, 1};

// Compiles the statement `init` runs, while the module is created: some
// interpreters' compilers (3.11's) crash when memory runs out as they work,
// which a script can then no longer bring about. False with the error set.
bool prepare_init() noexcept;
MethodRecords init_methods() noexcept;
MethodRecords run_methods() noexcept;
MethodRecords show_methods() noexcept;
MethodRecords quit_methods() noexcept;
MethodRecords title_methods() noexcept;

// The system's process list.
inline constexpr Signature<1> process_exists_signature{"process_exists", {"pid"}, 1};
MethodRecords process_exists_methods() noexcept;

// Math.
inline constexpr Signature<1> ceil_signature{"ceil", {"x"}, 1};
inline constexpr Signature<1> floor_signature{"floor", {"x"}, 1};
inline constexpr Signature<1> sgn_signature{"sgn", {"x"}, 1};
inline constexpr Signature<1> sqrt_signature{"sqrt", {"x"}, 1};
inline constexpr Signature<1> sin_signature{"sin", {"deg"}, 1};
inline constexpr Signature<1> cos_signature{"cos", {"deg"}, 1};
inline constexpr Signature<2> atan2_signature{"atan2", {"y", "x"}, 2};
MethodRecords ceil_methods() noexcept;
MethodRecords floor_methods() noexcept;
MethodRecords sgn_methods() noexcept;
MethodRecords sqrt_methods() noexcept;
MethodRecords sin_methods() noexcept;
MethodRecords cos_methods() noexcept;
MethodRecords atan2_methods() noexcept;

// Random numbers.
inline constexpr Signature<1> rseed_signature{"rseed", {"seed"}, 1};
inline constexpr Signature<2> rndi_signature{"rndi", {"a", "b"}, 2};
inline constexpr Signature<2> rndf_signature{"rndf", {"a", "b"}, 2};
MethodRecords rseed_methods() noexcept;
MethodRecords rndi_methods() noexcept;
MethodRecords rndf_methods() noexcept;

// Noise.
inline constexpr Signature<1> nseed_signature{"nseed", {"seed"}, 1};
inline constexpr Signature<3> noise_signature{"noise", {"x", "y", "z"}, 1};
MethodRecords nseed_methods() noexcept;
MethodRecords noise_methods() noexcept;

}  // namespace velmo::py
