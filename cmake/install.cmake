# What `cmake --install` puts under the prefix: the public headers
# (include/qrxos), the static library, the programs, and the CMake package
# (lib/cmake/qrxos) that find_package(qrxos CONFIG) reads. Windows builds
# export qrxos::os with the system libraries it links; the host build
# exports the format engines as qrxos::format.
include(CMakePackageConfigHelpers)

set(QRXOS_PACKAGE_DIR lib/cmake/qrxos)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/os/include/ DESTINATION include/qrxos FILES_MATCHING PATTERN "*.h")
if(WIN32)
  install(TARGETS os EXPORT qrxosTargets ARCHIVE DESTINATION lib)
  install(TARGETS dirwarden qrxpkg RUNTIME DESTINATION bin)
else()
  install(TARGETS qrxpkg_posix EXPORT qrxosTargets ARCHIVE DESTINATION lib)
  install(TARGETS qrxpkg RUNTIME DESTINATION bin)
endif()
install(EXPORT qrxosTargets NAMESPACE qrxos:: DESTINATION ${QRXOS_PACKAGE_DIR})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/qrxosConfig.cmake.in
  ${PROJECT_BINARY_DIR}/qrxosConfig.cmake INSTALL_DESTINATION ${QRXOS_PACKAGE_DIR})
# The major version carries the stored formats and the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/qrxosConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/qrxosConfig.cmake ${PROJECT_BINARY_DIR}/qrxosConfigVersion.cmake
  DESTINATION ${QRXOS_PACKAGE_DIR})
