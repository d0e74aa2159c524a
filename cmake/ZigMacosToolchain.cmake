# Cross-compiles castora for macOS from Linux with Zig's bundled clang, macOS libc headers and
# libc++ (Zig 0.11; its linker writes Mach-O and signs arm64 executables ad hoc, which Apple
# silicon requires). Used by cmake/MacosUniversal.cmake for each half of the universal binary:
#
#   cmake -S . -B out -DCMAKE_TOOLCHAIN_FILE=cmake/ZigMacosToolchain.cmake -DCASTORA_MACOS_ARCH=arm64
#
# CASTORA_MACOS_ARCH is arm64 or x86_64. CASTORA_MACOS_MIN_VERSION is the oldest macOS the
# program runs on, by default 11.0, the first release for Apple silicon. `zig` must be on the
# PATH (or given as ZIG).
if(NOT CASTORA_MACOS_MIN_VERSION)
    set(CASTORA_MACOS_MIN_VERSION 11.0)
endif()

# try_compile() projects read this file again and only see the variables named here.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CASTORA_MACOS_ARCH CASTORA_MACOS_MIN_VERSION ZIG)

if(CASTORA_MACOS_ARCH STREQUAL "arm64")
    set(castora_zig_arch aarch64)
elseif(CASTORA_MACOS_ARCH STREQUAL "x86_64")
    set(castora_zig_arch x86_64)
else()
    message(FATAL_ERROR "Set CASTORA_MACOS_ARCH to arm64 or x86_64 (got '${CASTORA_MACOS_ARCH}').")
endif()

if(NOT ZIG)
    find_program(ZIG zig)
    if(NOT ZIG)
        message(FATAL_ERROR "zig was not found on the PATH; .ci/install-zig installs Zig 0.11.")
    endif()
endif()

set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_VERSION 20)   # Darwin 20 is macOS 11
set(CMAKE_SYSTEM_PROCESSOR ${CASTORA_MACOS_ARCH})

# `zig cc` and `zig c++` with --target=aarch64-macos.11.0 or x86_64-macos.11.0.
set(CMAKE_C_COMPILER ${ZIG})
set(CMAKE_C_COMPILER_ARG1 cc)
set(CMAKE_CXX_COMPILER ${ZIG})
set(CMAKE_CXX_COMPILER_ARG1 c++)
set(CMAKE_C_COMPILER_TARGET ${castora_zig_arch}-macos.${CASTORA_MACOS_MIN_VERSION})
set(CMAKE_CXX_COMPILER_TARGET ${castora_zig_arch}-macos.${CASTORA_MACOS_MIN_VERSION})
set(CMAKE_USER_MAKE_RULES_OVERRIDE ${CMAKE_CURRENT_LIST_DIR}/ZigMacosRules.cmake)

# Zig's archiver writes the BSD archive format that Mach-O linkers read.
foreach(lang C CXX)
    set(CMAKE_${lang}_ARCHIVE_CREATE "\"${ZIG}\" ar qc <TARGET> <LINK_FLAGS> <OBJECTS>")
    set(CMAKE_${lang}_ARCHIVE_APPEND "\"${ZIG}\" ar q <TARGET> <LINK_FLAGS> <OBJECTS>")
    set(CMAKE_${lang}_ARCHIVE_FINISH "\"${ZIG}\" ranlib <TARGET>")
endforeach()

# The target above carries the architecture and the minimum version; CMake must add no -arch,
# -isysroot or -mmacosx-version-min of its own, and there is no SDK on this host.
set(CMAKE_OSX_ARCHITECTURES "" CACHE STRING "" FORCE)
set(CMAKE_OSX_DEPLOYMENT_TARGET "" CACHE STRING "" FORCE)
set(CMAKE_OSX_SYSROOT "" CACHE PATH "" FORCE)

# Host programs may be used; host libraries and headers never.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
