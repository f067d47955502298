# Shared compile settings and helpers for every target of the project.

add_library(quiro_warnings INTERFACE)
# -Wshadow and the two virtual checks catch the mistakes reviewers kept finding by eye: a member
# hidden by a local, an override that overloads instead, a base destroyed without its derived part.
target_compile_options(quiro_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Woverloaded-virtual
                                                -Wnon-virtual-dtor)
if(QUIRO_WARNINGS_AS_ERRORS)
    target_compile_options(quiro_warnings INTERFACE -Werror)
endif()

if(QUIRO_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

# quiro_add_library(NAME SOURCES ... DEPENDS ...)
# One static library per subsystem folder; DEPENDS names only what that subsystem builds on.
function(quiro_add_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPENDS} PRIVATE quiro_warnings)
endfunction()

# quiro_add_test(NAME SOURCES ... DEPENDS ... [LABELS ...] [TIMEOUT seconds])
# One QtTest executable; ctest runs it with HOME and XDG_CONFIG_HOME in a private temporary folder.
function(quiro_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPENDS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} quiro_testsupport Qt6::Test quiro_warnings)
    add_test(NAME ${name} COMMAND ${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}")
endfunction()
