# Installation, start-up linking and the update package the update service serves.
include(GNUInstallDirs)

# castora is started once per launch and starts FFmpeg; its own start-up should cost no more than
# starting any process. On Linux the dynamic loader maps and relocates every shared library on
# each start (libstdc++ alone doubled the start-up time), so castora is linked statically there,
# with unused sections left out. macOS keeps its libraries in the shared cache, where this is
# neither needed nor offered; sanitized and fuzzing builds bring their own runtimes, and
# valgrind's memcheck needs the dynamic allocator, so .ci/valgrind turns the option off.
option(CASTORA_STATIC_LINK "Link castora statically on Linux (start-up as cheap as /bin/true)" ON)
if(CASTORA_STATIC_LINK AND NOT APPLE AND NOT CASTORA_SANITIZE AND NOT CASTORA_FUZZ
   AND CMAKE_CXX_COMPILER_ID MATCHES "^(GNU|Clang)$")
    target_compile_options(castora_core PRIVATE -ffunction-sections -fdata-sections)
    target_link_options(castora PRIVATE -static -Wl,--gc-sections)
endif()

install(TARGETS castora RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/castora.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/completions/castora.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME castora)
install(FILES ${PROJECT_SOURCE_DIR}/completions/_castora
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/site-functions)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The package name must match what the updater downloads:
# brevalo-studio-update-<version>-<platform>-<architecture>.tar.gz, with "macos" and
# "universal" for the shipped build (arm64 and x86_64 in one binary).
if(APPLE)
    set(castora_package_platform macos)
    set(castora_sorted_architectures ${CMAKE_OSX_ARCHITECTURES})
    list(SORT castora_sorted_architectures)
    if(castora_sorted_architectures STREQUAL "arm64;x86_64")
        set(castora_package_architecture universal)
    elseif(CMAKE_OSX_ARCHITECTURES)
        string(REPLACE ";" "-" castora_package_architecture "${CMAKE_OSX_ARCHITECTURES}")
    else()
        set(castora_package_architecture ${CMAKE_SYSTEM_PROCESSOR})
    endif()
else()
    string(TOLOWER "${CMAKE_SYSTEM_NAME}" castora_package_platform)
    set(castora_package_architecture ${CMAKE_SYSTEM_PROCESSOR})
endif()
string(TOLOWER "${castora_package_architecture}" castora_package_architecture)

set(CPACK_GENERATOR TGZ)
set(CPACK_PACKAGE_NAME brevalo-studio-update)
set(CPACK_PACKAGE_VENDOR Brevalo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Brevalo Castora Native, a lightweight live-streaming launcher")
set(CPACK_PACKAGE_FILE_NAME
    "brevalo-studio-update-${PROJECT_VERSION}-${castora_package_platform}-${castora_package_architecture}")
# Unpacking puts everything under one directory named like the archive, never loose in the
# directory the package was downloaded to.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
# The update service announces the archive's SHA-256; CPack writes it beside the archive.
set(CPACK_PACKAGE_CHECKSUM SHA256)
include(CPack)
