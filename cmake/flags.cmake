# One place for warnings and for the floating-point rules.
#
# The numbers the engine returns are compared bit for bit across builds, so
# every double operation must be rounded on its own, in source order: no fused
# multiply-add, no value-changing optimisation. A flag that would break that is
# refused here rather than discovered as a wrong last bit later.

# The options below are GCC's and Clang's. Another compiler (Microsoft's
# among them, and clang-cl, which takes Microsoft's options) would build
# without them and so without those guarantees.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "^(GNU|Clang|AppleClang)$"
   OR CMAKE_CXX_COMPILER_FRONTEND_VARIANT STREQUAL "MSVC")
  message(FATAL_ERROR
    "The C++ compiler ${CMAKE_CXX_COMPILER_ID} (${CMAKE_CXX_COMPILER}) is not supported: velmo_wrapper "
    "is built with GCC or Clang only, whose options keep its floating-point results exact. On "
    "Windows, install the win_amd64 wheel with pip (pip install velmo_wrapper-*-win_amd64.whl) "
    "rather than building this source; to build it, choose GCC, or Clang with its GNU-style "
    "driver, in CMAKE_CXX_COMPILER (the release's own Windows wheel is built with mingw-w64's GCC).")
endif()

string(TOUPPER "${CMAKE_BUILD_TYPE}" _velmo_build_type)
set(_velmo_flags "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${_velmo_build_type}}")
foreach(bad -ffast-math -Ofast -funsafe-math-optimizations -ffp-contract=fast
            -ffp-contract=on -fassociative-math -freciprocal-math -ffinite-math-only
            -fno-signed-zeros -mfpmath=387)
  string(FIND "${_velmo_flags}" "${bad}" _velmo_pos)
  if(NOT _velmo_pos EQUAL -1)
    message(FATAL_ERROR "${bad} changes floating-point results; the engine must be built without it")
  endif()
endforeach()

# CI turns warnings into errors; a user's build with a newer compiler, which
# may warn about more, still builds. The default comes from the environment so
# that builds started by pip and by the scripts under tools/ follow it too.
option(VELMO_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" "$ENV{VELMO_WARNINGS_AS_ERRORS}")
if(VELMO_WARNINGS_AS_ERRORS)
  add_compile_options(-Werror)
endif()

# Applied to every target of the project, after any flags from the caller, so
# that they win over an earlier -ffp-contract=... on the command line.
add_compile_options(
  -Wall -Wextra -Wpedantic
  -ffp-contract=off
  -fno-fast-math
  -fvisibility=hidden
  -fvisibility-inlines-hidden
  -ffunction-sections
  -fdata-sections
  # Source locations in fatal diagnostics are printed relative to the project.
  -ffile-prefix-map=${CMAKE_SOURCE_DIR}/=
)

# Runs a project's GoogleTest executable under ctest, each case a test. The
# cases are listed when ctest starts, by running the program, through the
# toolchain's emulator when cross-built: wine's first start in a new prefix
# alone can outlast the default 5 s of that listing.
function(velmo_add_gtest name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120)
endfunction()
