cmake_minimum_required(VERSION 3.25)
# The plug-in's target delay-loads both agent libraries through the helper library when MSVC links it (checked
# without MSVC, on the options the target carries).
file(READ ${OPTIONS_FILE} options)
foreach(option /DELAYLOAD:vornint.dll /DELAYLOAD:vorn.dll delayimp.lib)
    string(FIND "${options}" "${option}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "vornplug's link options lack ${option}: ${options}")
    endif()
endforeach()
string(FIND "${options}" "$<$<CXX_COMPILER_ID:MSVC>:" at)
if(NOT at EQUAL 0)
    message(FATAL_ERROR "vornplug's delay-load options are not limited to MSVC: ${options}")
endif()
