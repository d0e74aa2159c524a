# The shipped macOS build: castora for arm64 and x86_64 in one universal binary, and the
# release archive brevalo-studio-update-<version>-macos-universal.tar.gz made from it: the
# package the update service serves, named as castora saves a downloaded one.
#
# Turned on by CASTORA_MACOS_UNIVERSAL (the macos-universal preset), which also sets
# CMAKE_OSX_ARCHITECTURES and CMAKE_OSX_DEPLOYMENT_TARGET.
#  - On a Mac, Apple's compilers build the universal binary directly and this file only adds
#    the archive.
#  - Elsewhere each architecture is cross-built from this source tree with Zig
#    (cmake/ZigMacosToolchain.cmake) and lipo joins the two. This file then sets
#    CASTORA_MACOS_CROSS, and the top-level CMakeLists.txt stops: this build tree holds only
#    the two cross-builds, the join and the archive.
#
# Included right after project(), before any target exists.
option(CASTORA_MACOS_UNIVERSAL "Build the universal macOS binary and its release archive" OFF)
set(CASTORA_MACOS_CROSS OFF)
if(NOT CASTORA_MACOS_UNIVERSAL)
    return()
endif()

set(castora_universal_architectures arm64 x86_64)
set(castora_release_name brevalo-studio-update-${PROJECT_VERSION}-macos-universal)

set(castora_requested_architectures ${CMAKE_OSX_ARCHITECTURES})
list(SORT castora_requested_architectures)
if(NOT castora_requested_architectures STREQUAL "${castora_universal_architectures}")
    message(FATAL_ERROR "CASTORA_MACOS_UNIVERSAL needs CMAKE_OSX_ARCHITECTURES to be "
                        "'arm64;x86_64' (got '${CMAKE_OSX_ARCHITECTURES}').")
endif()
if(NOT CMAKE_OSX_DEPLOYMENT_TARGET)
    message(FATAL_ERROR "CASTORA_MACOS_UNIVERSAL needs CMAKE_OSX_DEPLOYMENT_TARGET (the presets use 11.0).")
endif()

# Installs the build tree INSTALL_FROM into a staging directory, puts BINARY in as bin/castora
# when given, and packs the archive with a .sha256 file beside it.
function(castora_add_release_archive install_from binary)
    add_custom_target(castora_release_archive ALL
        COMMAND ${CMAKE_COMMAND}
                -D INSTALL_FROM=${install_from}
                -D CONFIG=$<CONFIG>
                -D BINARY=${binary}
                -D RELEASE_NAME=${castora_release_name}
                -D OUTPUT_DIR=${CMAKE_BINARY_DIR}
                -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/ReleaseArchive.cmake
        COMMENT "Packing ${castora_release_name}.tar.gz"
        VERBATIM)
endfunction()

if(APPLE)
    castora_add_release_archive(${CMAKE_BINARY_DIR} "")
    # castora is defined after this file; the dependency is resolved when generating.
    add_dependencies(castora_release_archive castora)
    return()
endif()

set(CASTORA_MACOS_CROSS ON)
if(CASTORA_BUILD_TESTS)
    message(STATUS "The tests are not built: cross-built programs cannot run on this host.")
endif()

find_program(ZIG zig)
if(NOT ZIG)
    message(FATAL_ERROR "The macOS build needs Zig 0.11 on the PATH to cross-build from "
                        "${CMAKE_HOST_SYSTEM_NAME}; .ci/install-zig installs it.")
endif()
execute_process(COMMAND ${ZIG} version OUTPUT_VARIABLE castora_zig_version
                OUTPUT_STRIP_TRAILING_WHITESPACE)
find_program(CASTORA_LIPO NAMES llvm-lipo llvm-lipo-16 llvm-lipo-15 llvm-lipo-14 lipo)
if(NOT CASTORA_LIPO)
    message(FATAL_ERROR "The macOS build needs llvm-lipo (Debian: apt-get install llvm).")
endif()
message(STATUS "Cross-building for macOS ${CMAKE_OSX_DEPLOYMENT_TARGET} with Zig "
               "${castora_zig_version} (${ZIG}), joining with ${CASTORA_LIPO}")

# The JSON parser is header-only: each half gets a copy of the host's headers (and nothing else
# of the host's include folder).
find_package(nlohmann_json 3.9 REQUIRED)
get_target_property(castora_json_include nlohmann_json::nlohmann_json INTERFACE_INCLUDE_DIRECTORIES)
find_path(castora_json_header nlohmann/json.hpp PATHS ${castora_json_include} NO_DEFAULT_PATH REQUIRED)
file(COPY ${castora_json_header}/nlohmann DESTINATION ${CMAKE_BINARY_DIR}/json-include)

include(ExternalProject)
set(castora_slices "")
foreach(arch IN LISTS castora_universal_architectures)
    # Always rebuilt, so that the sub-build itself decides what changed in the sources.
    ExternalProject_Add(castora_${arch}
        SOURCE_DIR ${PROJECT_SOURCE_DIR}
        PREFIX ${CMAKE_BINARY_DIR}/${arch}
        BINARY_DIR ${CMAKE_BINARY_DIR}/${arch}/build
        CMAKE_ARGS
            -DCMAKE_TOOLCHAIN_FILE=${CMAKE_CURRENT_LIST_DIR}/ZigMacosToolchain.cmake
            -DCASTORA_MACOS_ARCH=${arch}
            -DCASTORA_MACOS_MIN_VERSION=${CMAKE_OSX_DEPLOYMENT_TARGET}
            -DZIG=${ZIG}
            -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
            -DCASTORA_BUILD_TESTS=OFF
            -DCASTORA_WERROR=${CASTORA_WERROR}
            -DCASTORA_JSON_INCLUDE_DIR=${CMAKE_BINARY_DIR}/json-include
        BUILD_ALWAYS ON
        INSTALL_COMMAND ""
        BUILD_BYPRODUCTS ${CMAKE_BINARY_DIR}/${arch}/build/castora)
    list(APPEND castora_slices ${CMAKE_BINARY_DIR}/${arch}/build/castora)
endforeach()

add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/castora
    COMMAND ${CASTORA_LIPO} -create -output ${CMAKE_BINARY_DIR}/castora ${castora_slices}
    DEPENDS ${castora_slices}
    COMMENT "Joining ${castora_universal_architectures} into the universal castora"
    VERBATIM)
add_custom_target(castora_universal ALL DEPENDS ${CMAKE_BINARY_DIR}/castora)
foreach(arch IN LISTS castora_universal_architectures)
    add_dependencies(castora_universal castora_${arch})
endforeach()

# bin/castora is the universal binary; everything else comes from the arm64 build's install.
castora_add_release_archive(${CMAKE_BINARY_DIR}/arm64/build ${CMAKE_BINARY_DIR}/castora)
add_dependencies(castora_release_archive castora_universal)
