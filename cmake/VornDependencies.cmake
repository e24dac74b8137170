# Third-party libraries that scripts/setup built for MinGW into VORN_DEPS_DIR/mingw.
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
