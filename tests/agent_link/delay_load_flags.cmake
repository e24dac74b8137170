cmake_minimum_required(VERSION 3.25)
# The link options that vornplug takes in an MSVC build delay-load both agent libraries (checked without MSVC).
include(${SOURCE_DIR}/cmake/VornAgentLibraries.cmake)
foreach(option /DELAYLOAD:vornint.dll /DELAYLOAD:vorn.dll delayimp.lib)
    if(NOT option IN_LIST VORN_MSVC_DELAYLOAD_OPTIONS)
        message(FATAL_ERROR "VORN_MSVC_DELAYLOAD_OPTIONS lacks ${option}: ${VORN_MSVC_DELAYLOAD_OPTIONS}")
    endif()
endforeach()
