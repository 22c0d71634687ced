// Build-time guard for the engine's bit-exact floating point.
//
// The math, random and noise results are compared bit for bit across builds,
// so every double operation must be an IEEE binary64 operation rounded on its
// own. A compiler mode that would silently change a last bit stops the build
// here instead. (Contraction into fused multiply-add has no macro to test: the
// build flags turn it off, and the golden-value tests would see a changed bit.)
#pragma once

#include <cfloat>
#include <limits>

#ifdef __FAST_MATH__
#error "the engine must not be built with -ffast-math: it changes floating-point results"
#endif

#if defined(__FINITE_MATH_ONLY__) && __FINITE_MATH_ONLY__
#error "the engine must not be built with -ffinite-math-only: NaN and infinity are valid inputs"
#endif

// -fassociative-math only takes effect together with -fno-signed-zeros, so
// refusing the latter refuses reassociation too.
#ifdef __NO_SIGNED_ZEROS__
#error "the engine must not be built with -fno-signed-zeros: the sign of a zero is part of a result"
#endif

#ifdef __RECIPROCAL_MATH__
#error "the engine must not be built with -freciprocal-math: it changes divisions"
#endif

#if !defined(FLT_EVAL_METHOD) || FLT_EVAL_METHOD != 0
#error "the engine needs each double operation rounded to double (FLT_EVAL_METHOD 0)"
#endif

static_assert(std::numeric_limits<double>::is_iec559, "the engine needs IEEE 754 doubles");
static_assert(std::numeric_limits<double>::digits == 53, "the engine needs binary64 doubles");
static_assert(std::numeric_limits<double>::round_style == std::round_to_nearest,
              "the engine needs round-to-nearest doubles");
