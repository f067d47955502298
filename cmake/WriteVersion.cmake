# Writes the program's version and the commit it was built from to OUTPUT, touching the file only
# when they change, so a build after a new commit recompiles one file and nothing else.
# Run with -DSOURCE_DIR=… -DOUTPUT=… -DVERSION=….
execute_process(COMMAND git -C "${SOURCE_DIR}" describe --always --dirty --abbrev=12
                OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
if(failed OR commit STREQUAL "")
    set(commit "unknown")
endif()
set(content "#pragma once\n#define QUIRO_VERSION \"${VERSION}\"\n#define QUIRO_COMMIT \"${commit}\"\n")
if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" previous)
endif()
if(NOT previous STREQUAL content)
    file(WRITE "${OUTPUT}" "${content}")
endif()
