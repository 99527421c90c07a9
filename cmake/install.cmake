# Installation: library with SONAME, header, pkg-config file, CMake package,
# and (when built) the Request Manager with the runtime files of an installation root.
install(TARGETS qlmc32 qlmc32_static EXPORT qlmc32Targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/qlmc32.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

configure_file(${PROJECT_SOURCE_DIR}/cmake/qlmc32.pc.in ${PROJECT_BINARY_DIR}/qlmc32.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/qlmc32.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

include(CMakePackageConfigHelpers)
install(EXPORT qlmc32Targets NAMESPACE qlmc32:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qlmc32)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/qlmc32Config.cmake.in
  ${PROJECT_BINARY_DIR}/qlmc32Config.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qlmc32)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/qlmc32ConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/qlmc32Config.cmake ${PROJECT_BINARY_DIR}/qlmc32ConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qlmc32)

# The installation root <prefix>/share/quillmar (QLM_ROOTDIR points at it):
# bin/qlmrqmgr, shared/errortxt.fil, quillmar.ini; the server makes data/ itself.
set(QLM_INSTALL_ROOT ${CMAKE_INSTALL_DATADIR}/quillmar)
if(TARGET qlmrqmgr)
  install(TARGETS qlmrqmgr RUNTIME DESTINATION ${QLM_INSTALL_ROOT}/bin)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/data/errortxt.fil DESTINATION ${QLM_INSTALL_ROOT}/shared)
install(FILES ${PROJECT_SOURCE_DIR}/data/quillmar.ini DESTINATION ${QLM_INSTALL_ROOT})
