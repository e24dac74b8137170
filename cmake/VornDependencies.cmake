# Third-party libraries as the targets deps::jsoncpp, deps::gtest, deps::gtest_main and deps::gmock.
#
# MinGW builds take what scripts/setup built into VORN_DEPS_DIR/mingw. Other toolchains (the msvc-x64 preset)
# find the libraries' own CMake packages, for instance from vcpkg (vcpkg.json lists them): static libraries
# over the C runtime DLL that the plug-in shares with its host (the x64-windows-static-md triplet).
if(MINGW)
    set(VORN_DEPS_DIR "$ENV{VORN_DEPS_DIR}" CACHE PATH "where scripts/setup put the dependencies")
    if(NOT VORN_DEPS_DIR)
        set(VORN_DEPS_DIR /opt/vorn-deps CACHE PATH "" FORCE)
    endif()
    set(_deps ${VORN_DEPS_DIR}/mingw)
    if(NOT EXISTS ${_deps}/lib/libjsoncpp.a)
        message(FATAL_ERROR "dependencies not found in ${_deps}: run scripts/setup first")
    endif()

    foreach(lib jsoncpp gtest gtest_main gmock)
        add_library(deps::${lib} STATIC IMPORTED GLOBAL)
        set_target_properties(deps::${lib} PROPERTIES
            IMPORTED_LOCATION ${_deps}/lib/lib${lib}.a
            INTERFACE_INCLUDE_DIRECTORIES ${_deps}/include)
    endforeach()
    set_property(TARGET deps::gmock APPEND PROPERTY INTERFACE_LINK_LIBRARIES deps::gtest)
    set_property(TARGET deps::gtest_main APPEND PROPERTY INTERFACE_LINK_LIBRARIES deps::gtest)
    return()
endif()

find_package(jsoncpp CONFIG REQUIRED)
find_package(GTest CONFIG REQUIRED)

# jsoncpp's package names its target differently across versions and builds.
foreach(candidate JsonCpp::JsonCpp jsoncpp_static jsoncpp_lib)
    if(TARGET ${candidate})
        set(_jsoncpp ${candidate})
        break()
    endif()
endforeach()
if(NOT _jsoncpp)
    message(FATAL_ERROR "the jsoncpp package defines none of JsonCpp::JsonCpp, jsoncpp_static, jsoncpp_lib")
endif()

foreach(pair "jsoncpp=${_jsoncpp}" "gtest=GTest::gtest" "gtest_main=GTest::gtest_main" "gmock=GTest::gmock")
    string(REPLACE "=" ";" pair ${pair})
    list(GET pair 0 name)
    list(GET pair 1 target)
    add_library(deps::${name} INTERFACE IMPORTED GLOBAL)
    set_property(TARGET deps::${name} PROPERTY INTERFACE_LINK_LIBRARIES ${target})
endforeach()
