# Packs a release archive from a build tree's install; run by cmake/MacosUniversal.cmake:
#
#   cmake -D INSTALL_FROM=<build dir> [-D CONFIG=<config>] [-D BINARY=<castora>]
#         -D RELEASE_NAME=<name> -D OUTPUT_DIR=<dir> -P cmake/ReleaseArchive.cmake
#
# Writes OUTPUT_DIR/RELEASE_NAME.tar.gz, which unpacks into one directory RELEASE_NAME holding
# what `cmake --install` puts under its prefix (bin/castora, the manual page, the completions
# and the README). BINARY, when given, replaces bin/castora. The archive's SHA-256 is printed
# and written beside it as RELEASE_NAME.tar.gz.sha256, in the format `shasum -a 256 -c` reads.
cmake_minimum_required(VERSION 3.25)

foreach(required INSTALL_FROM RELEASE_NAME OUTPUT_DIR)
    if(NOT ${required})
        message(FATAL_ERROR "ReleaseArchive.cmake needs -D ${required}=...")
    endif()
endforeach()

set(stage_root ${OUTPUT_DIR}/release-stage)
set(stage ${stage_root}/${RELEASE_NAME})
set(archive_name ${RELEASE_NAME}.tar.gz)
set(archive ${OUTPUT_DIR}/${archive_name})

file(REMOVE_RECURSE ${stage_root})
set(config_args "")
if(CONFIG)
    set(config_args --config ${CONFIG})
endif()
execute_process(
    COMMAND ${CMAKE_COMMAND} --install ${INSTALL_FROM} ${config_args} --prefix ${stage}
    OUTPUT_QUIET
    COMMAND_ERROR_IS_FATAL ANY)
if(BINARY)
    # Copied, not stripped: stripping would break the code signature Apple silicon checks.
    file(COPY_FILE ${BINARY} ${stage}/bin/castora)
endif()

file(REMOVE ${archive} ${archive}.sha256)
execute_process(
    COMMAND ${CMAKE_COMMAND} -E tar czf ${archive} ${RELEASE_NAME}
    WORKING_DIRECTORY ${stage_root}
    COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE ${stage_root})

file(SHA256 ${archive} digest)
file(WRITE ${archive}.sha256 "${digest}  ${archive_name}\n")
message(STATUS "Release archive: ${archive}")
message(STATUS "SHA-256: ${digest}  ${archive_name}")
