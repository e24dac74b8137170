# Shared settings for the project's targets.

# Product code: warning-free with -Wall -Wextra; no GCC extensions.
add_library(vorn_warnings INTERFACE)
if(MSVC)
    target_compile_options(vorn_warnings INTERFACE /W4 /permissive-)
else()
    target_compile_options(vorn_warnings INTERFACE -Wall -Wextra -Werror)
endif()

# Every Windows binary of ours carries its C and C++ runtime inside (no libgcc, libstdc++ or winpthread DLLs).
add_library(vorn_static_runtime INTERFACE)
if(MINGW)
    target_link_options(vorn_static_runtime INTERFACE -static -static-libgcc -static-libstdc++)
endif()
target_compile_definitions(vorn_static_runtime INTERFACE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
    _WIN32_WINNT=0x0601)

# vorn_add_test(NAME SOURCES ... [LIBS ...] [TIMEOUT seconds] [PROPERTIES ...]): a GoogleTest executable whose
# test cases are each a CTest test of their own (named Suite.Case, or Suite.Case/Row for a table's row), run under
# Wine and labelled NAME; PROPERTIES apply to every case. The cases are listed when ctest starts, not when the
# executable is built, so that a build runs no Wine. DISABLED_ cases are the children other cases start, not tests.
include(GoogleTest)
function(vorn_add_test name)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;PROPERTIES" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} deps::gmock vorn_test_main vorn_static_runtime)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 60)
    endif()
    # The first listing may set up the Wine prefix, which takes a while on a loaded machine.
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 180 TEST_FILTER "-*DISABLED_*"
        NO_PRETTY_VALUES EXTRA_ARGS --gtest_brief=1
        PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS ${name} PASS_REGULAR_EXPRESSION "vorn-test: every case run passed"
        FAIL_REGULAR_EXPRESSION "  FAILED  " ${T_PROPERTIES})
endfunction()

# vorn_wide_main(TARGET): the executable's entry point is wmain.
function(vorn_wide_main target)
    if(MINGW)
        target_link_options(${target} PRIVATE -municode)
    endif()
endfunction()
