# The agent's libraries, vornint.dll and vorn.dll, are bound at first use and never at load time: vornplug.dll
# loads without them, and agent_link/agent_library.cpp finds each in the places it allows before the first call.
#
# MSVC: the plug-in links the import libraries and delay-loads both DLLs through delayimp.lib.
# MinGW: the plug-in links a delay import library per DLL, made by binutils' dlltool from the DLL's export list.
# The agent ships its DLLs with import libraries for MSVC only; here the list is derived at build time from the
# stand-in DLLs, which export exactly what the plug-in's own headers declare (with the agent's own DLL, gendef
# writes the same list). No checked-in list of decorated names can drift from the headers that way.

# Link options of vornplug in an MSVC build: both DLLs delay-loaded, through the helper library.
set(VORN_MSVC_DELAYLOAD_OPTIONS /DELAYLOAD:vornint.dll /DELAYLOAD:vorn.dll delayimp.lib)

# vorn_delay_import(TARGET): the INTERFACE library TARGET_delayed, which the product links to call TARGET's DLL
# without importing it at load time.
function(vorn_delay_import target)
    add_library(${target}_delayed INTERFACE)
    if(NOT MINGW)
        target_link_libraries(${target}_delayed INTERFACE ${target})
        return()
    endif()
    set(def ${CMAKE_ARCHIVE_OUTPUT_DIRECTORY}/${target}.def)
    set(lib ${CMAKE_ARCHIVE_OUTPUT_DIRECTORY}/lib${target}_delay.a)
    target_link_options(${target} PRIVATE -Wl,--output-def,${def})
    # Made in its own folder under its bare name: dlltool names the library's delay-import descriptor after the
    # name it is given (__DELAY_IMPORT_DESCRIPTOR_lib<target>_delay_a), and agent_link/agent_library.cpp finds the
    # descriptor by that name to check a library against it.
    add_custom_command(OUTPUT ${lib}
        COMMAND ${CMAKE_DLLTOOL} --input-def ${def} --output-delaylib lib${target}_delay.a
                --dllname $<TARGET_FILE_NAME:${target}>
        WORKING_DIRECTORY ${CMAKE_ARCHIVE_OUTPUT_DIRECTORY}
        DEPENDS ${target} VERBATIM)
    add_custom_target(${target}_delay_library DEPENDS ${lib})
    target_link_libraries(${target}_delayed INTERFACE ${lib})
    add_dependencies(${target}_delayed ${target}_delay_library)
endfunction()
