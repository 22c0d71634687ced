# Linux builds for an old glibc with the Zig toolchain from PyPI
# (`pip install ziglang`), without a manylinux container.
#
# `zig c++` links against the glibc version named in the target, so a module
# built with x86_64-linux-gnu.2.17 loads on every glibc since 2.17
# (manylinux2014). It links its own C++ runtime (libc++) statically, so the
# module needs nothing beyond glibc's libraries.
#
# The target comes from VELMO_ZIG_TARGET, as a cache variable or from the
# environment (default: x86_64-linux-gnu.2.17). `zig` is looked up in the
# ziglang package of VELMO_ZIG_PYTHON, else of the Python that the build was
# given (scikit-build-core passes Python_EXECUTABLE), else of python3 on PATH.
#
# Programs built for another processor run here under qemu's user-mode
# emulator (qemu-<processor>), which loads their C library from
# VELMO_TARGET_SYSROOT, a root of the target's libraries (as a cache variable
# or from the environment).
if(NOT VELMO_ZIG_TARGET)
  if(DEFINED ENV{VELMO_ZIG_TARGET})
    set(VELMO_ZIG_TARGET "$ENV{VELMO_ZIG_TARGET}")
  else()
    set(VELMO_ZIG_TARGET x86_64-linux-gnu.2.17)
  endif()
endif()
set(VELMO_ZIG_TARGET "${VELMO_ZIG_TARGET}" CACHE STRING "Zig target triple with glibc version")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELMO_ZIG_TARGET)

string(REGEX MATCH "^[^-]+" _velmo_zig_arch "${VELMO_ZIG_TARGET}")
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${_velmo_zig_arch})

if(NOT VELMO_ZIG_PYTHON)
  if(Python_EXECUTABLE)
    set(VELMO_ZIG_PYTHON "${Python_EXECUTABLE}")
  elseif(Python3_EXECUTABLE)
    set(VELMO_ZIG_PYTHON "${Python3_EXECUTABLE}")
  endif()
endif()
find_program(VELMO_ZIG_PYTHON NAMES python3 python REQUIRED)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELMO_ZIG_PYTHON)
execute_process(
  COMMAND "${VELMO_ZIG_PYTHON}" -c "import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), 'zig'))"
  OUTPUT_VARIABLE _velmo_zig OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _velmo_zig_found)
if(NOT _velmo_zig_found EQUAL 0 OR NOT EXISTS "${_velmo_zig}")
  message(FATAL_ERROR "The Zig toolchain is missing: `${VELMO_ZIG_PYTHON} -m pip install ziglang`")
endif()

set(CMAKE_C_COMPILER "${_velmo_zig}" cc)
set(CMAKE_CXX_COMPILER "${_velmo_zig}" c++)
set(CMAKE_C_COMPILER_TARGET ${VELMO_ZIG_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${VELMO_ZIG_TARGET})

# Static libraries are archived by zig's own ar (llvm-ar), which writes the
# symbol index for objects of any target; the system's ar knows only its own
# machine's objects, and an archive without an index does not link.
foreach(_velmo_lang C CXX)
  set(CMAKE_${_velmo_lang}_ARCHIVE_CREATE "\"${_velmo_zig}\" ar qc <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${_velmo_lang}_ARCHIVE_APPEND "\"${_velmo_zig}\" ar q <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${_velmo_lang}_ARCHIVE_FINISH "\"${_velmo_zig}\" ranlib <TARGET>")
endforeach()

# ctest, and the discovery of the GoogleTest cases, start every test program
# through the emulator. Without qemu the programs are built all the same, and
# only running them fails.
if(NOT _velmo_zig_arch STREQUAL CMAKE_HOST_SYSTEM_PROCESSOR)
  if(NOT VELMO_TARGET_SYSROOT AND DEFINED ENV{VELMO_TARGET_SYSROOT})
    set(VELMO_TARGET_SYSROOT "$ENV{VELMO_TARGET_SYSROOT}")
  endif()
  set(VELMO_TARGET_SYSROOT "${VELMO_TARGET_SYSROOT}" CACHE PATH "Root of the target's run-time libraries")
  find_program(VELMO_QEMU qemu-${_velmo_zig_arch})
  if(VELMO_QEMU)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${VELMO_QEMU}")
    if(VELMO_TARGET_SYSROOT)
      list(APPEND CMAKE_CROSSCOMPILING_EMULATOR -L "${VELMO_TARGET_SYSROOT}")
    endif()
  endif()
endif()
