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

# vorn_add_test(NAME SOURCES ... [LIBS ...]): a GoogleTest executable run as one CTest test under Wine.
function(vorn_add_test name)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} deps::gmock deps::gtest_main vorn_static_runtime)
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
endfunction()

# vorn_wide_main(TARGET): the executable's entry point is wmain.
function(vorn_wide_main target)
    if(MINGW)
        target_link_options(${target} PRIVATE -municode)
    endif()
endfunction()
