# One place for warnings and for the floating-point rules.
#
# The numbers the engine returns are compared bit for bit across builds, so
# every double operation must be rounded on its own, in source order: no fused
# multiply-add, no value-changing optimisation. A flag that would break that is
# refused here rather than discovered as a wrong last bit later.

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

# Runs a project's GoogleTest executable under ctest.
function(velmo_add_gtest name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST)
endfunction()
