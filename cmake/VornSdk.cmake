# `cmake --install` lays out the SDK for host engineers:
#   bin/vornplug.dll                          the plug-in (no import library: hosts load it with LoadLibrary)
#   include/interfaces/, support/, service_host/host_interfaces.h
#                                             the interfaces, IDs and records a host compiles against, and
#                                             interfaces/plugin_library.h, the header-only loader and owners
#   lib/cmake/vornplug/                       the CMake package: vornplug::headers, vornplug::vornplug
# Nothing internal ships: no registry, log binding, lock, agent-library headers or stand-ins.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS vornplug RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} LIBRARY DESTINATION ${CMAKE_INSTALL_BINDIR})
if(MSVC)
    install(FILES $<TARGET_PDB_FILE:vornplug> DESTINATION ${CMAKE_INSTALL_BINDIR} OPTIONAL)
endif()

install(DIRECTORY ${PROJECT_SOURCE_DIR}/interfaces/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/interfaces
    FILES_MATCHING PATTERN "*.h")
# qv::StringT is part of the interfaces' signatures and records; fail_fast.h is what it includes.
install(FILES ${PROJECT_SOURCE_DIR}/support/strings/qv_string.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/support/strings)
install(FILES ${PROJECT_SOURCE_DIR}/support/fail_fast.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/support)
# The host's own side as the plug-in calls it (IHost, IComponentManager, ILoggerConfiguration) and the
# LoggerSettings record with its pinned offsets.
install(FILES ${PROJECT_SOURCE_DIR}/service_host/host_interfaces.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/service_host)

# Which C++ ABI the installed DLL speaks: a host must be built in the same one (see the README).
if(MSVC OR CMAKE_CXX_SIMULATE_ID STREQUAL "MSVC")
    set(VORNPLUG_ABI MSVC)
else()
    set(VORNPLUG_ABI GNU)
endif()

set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/vornplug)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/vornplugConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/vornplugConfig.cmake INSTALL_DESTINATION ${package_dir}
    PATH_VARS CMAKE_INSTALL_INCLUDEDIR CMAKE_INSTALL_BINDIR)
# x64 only: the version file also refuses a 32-bit consumer.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/vornplugConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vornplugConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/vornplugConfigVersion.cmake
    DESTINATION ${package_dir})
