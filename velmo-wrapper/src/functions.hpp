// The module's eighteen functions: the description of each one's parameters
// and its body, which the entry points of both calling conventions share.
#pragma once

#include "binding.hpp"
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
PyObject* init(const Arguments<init_signature>& arguments);
PyObject* run(const Arguments<run_signature>& arguments);
PyObject* show(PyObject* module, PyObject* unused);
PyObject* quit(PyObject* module, PyObject* unused);
PyObject* title(const Arguments<title_signature>& arguments);

// The system's process list.
inline constexpr Signature<1> process_exists_signature{"process_exists", {"pid"}, 1};
PyObject* process_exists(const Arguments<process_exists_signature>& arguments);

// Math.
inline constexpr Signature<1> ceil_signature{"ceil", {"x"}, 1};
inline constexpr Signature<1> floor_signature{"floor", {"x"}, 1};
inline constexpr Signature<1> sgn_signature{"sgn", {"x"}, 1};
inline constexpr Signature<1> sqrt_signature{"sqrt", {"x"}, 1};
inline constexpr Signature<1> sin_signature{"sin", {"deg"}, 1};
inline constexpr Signature<1> cos_signature{"cos", {"deg"}, 1};
inline constexpr Signature<2> atan2_signature{"atan2", {"y", "x"}, 2};
PyObject* ceil(const Arguments<ceil_signature>& arguments);
PyObject* floor(const Arguments<floor_signature>& arguments);
PyObject* sgn(const Arguments<sgn_signature>& arguments);
PyObject* sqrt(const Arguments<sqrt_signature>& arguments);
PyObject* sin(const Arguments<sin_signature>& arguments);
PyObject* cos(const Arguments<cos_signature>& arguments);
PyObject* atan2(const Arguments<atan2_signature>& arguments);

// Random numbers.
inline constexpr Signature<1> rseed_signature{"rseed", {"seed"}, 1};
inline constexpr Signature<2> rndi_signature{"rndi", {"a", "b"}, 2};
inline constexpr Signature<2> rndf_signature{"rndf", {"a", "b"}, 2};
PyObject* rseed(const Arguments<rseed_signature>& arguments);
PyObject* rndi(const Arguments<rndi_signature>& arguments);
PyObject* rndf(const Arguments<rndf_signature>& arguments);

// Noise.
inline constexpr Signature<1> nseed_signature{"nseed", {"seed"}, 1};
inline constexpr Signature<3> noise_signature{"noise", {"x", "y", "z"}, 1};
PyObject* nseed(const Arguments<nseed_signature>& arguments);
PyObject* noise(const Arguments<noise_signature>& arguments);

}  // namespace velmo::py
