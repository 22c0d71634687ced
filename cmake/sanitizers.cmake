# AddressSanitizer and UndefinedBehaviorSanitizer for every target of the
# project, the extension module included. Any report ends the process: a
# sanitized run either is clean or fails.
#
# The sanitized module is loaded into an interpreter that was built without
# the sanitizers, so the runtime must be preloaded (tools/sanitize.sh does).
option(VELMO_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

if(VELMO_SANITIZE)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    message(FATAL_ERROR "VELMO_SANITIZE needs GCC or Clang")
  endif()
  # float-cast-overflow is not part of "undefined": a float converted to an
  # integer it does not fit is undefined, and every such conversion here is
  # meant to saturate first. float-divide-by-zero stays off: 1000.0 / 0 is
  # the infinite frame period of `init(0)`.
  add_compile_options(
    -fsanitize=address,undefined,float-cast-overflow
    -fno-sanitize-recover=all
    -fno-omit-frame-pointer
    -g)
  add_link_options(-fsanitize=address,undefined,float-cast-overflow)
endif()
