# Installation, in the layout of the Linux file-system conventions:
#   lib/libqlmc32.so.6.1.0 (SONAME libqlmc32.so.6), lib/libqlmc32.a, include/qlmc32.h,
#   lib/pkgconfig/qlmc32.pc, lib/cmake/qlmc32/   the library for programs
#   bin/qlm                                       the administration command
#   libexec/quillmar/qlmrqmgr                     the Request Manager (started by the library)
#   share/quillmar/                               the installation root (QLM_ROOTDIR points at
#       bin -> ../../libexec/quillmar             it): a link to the server's directory, the
#       shared/errortxt.fil, quillmar.ini         error texts and the settings; read-only
#   lib/systemd/user/qlmrqmgr.service             the Request Manager as a user service
#   share/bash-completion/completions/qlm, share/man/man{1,3}/, share/doc/qlmc32/
# Nothing under share/ is executable, and nothing is written under the prefix at run
# time: each user's data lives in their data home (docs/server.md).
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

set(QLM_INSTALL_ROOT ${CMAKE_INSTALL_DATADIR}/quillmar)
set(QLM_INSTALL_SERVER_DIR ${CMAKE_INSTALL_LIBEXECDIR}/quillmar)
install(FILES ${PROJECT_SOURCE_DIR}/data/errortxt.fil DESTINATION ${QLM_INSTALL_ROOT}/shared)
install(FILES ${PROJECT_SOURCE_DIR}/data/quillmar.ini DESTINATION ${QLM_INSTALL_ROOT})
if(TARGET qlmrqmgr)
  install(TARGETS qlmrqmgr RUNTIME DESTINATION ${QLM_INSTALL_SERVER_DIR})
  # <root>/bin, where the library starts the server from: a relative link, so that the
  # installation can be moved (DESTDIR, packages).
  file(RELATIVE_PATH QLM_BIN_LINK ${CMAKE_INSTALL_FULL_DATADIR}/quillmar ${CMAKE_INSTALL_FULL_LIBEXECDIR}/quillmar)
  install(CODE "
    set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${QLM_INSTALL_ROOT}/bin\")
    file(REMOVE_RECURSE \"\${link}\")
    file(CREATE_LINK \"${QLM_BIN_LINK}\" \"\${link}\" SYMBOLIC)
    message(STATUS \"Installing: \${link} -> ${QLM_BIN_LINK}\")")
  # The unit names the paths of the prefix installed to (cmake --install --prefix).
  install(CODE "
    set(QLM_FULL_ROOT \"\${CMAKE_INSTALL_PREFIX}/${QLM_INSTALL_ROOT}\")
    set(QLM_FULL_SERVER \"\${CMAKE_INSTALL_PREFIX}/${QLM_INSTALL_SERVER_DIR}/qlmrqmgr\")
    configure_file(\"${PROJECT_SOURCE_DIR}/data/qlmrqmgr.service.in\" \"${PROJECT_BINARY_DIR}/qlmrqmgr.service\" @ONLY)")
  install(FILES ${PROJECT_BINARY_DIR}/qlmrqmgr.service DESTINATION ${CMAKE_INSTALL_LIBDIR}/systemd/user)
endif()
if(TARGET qlm)
  install(TARGETS qlm RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/tools/qlm/qlm.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME qlm)
endif()
if(TARGET qlm_man)
  install(FILES ${PROJECT_BINARY_DIR}/man/qlm.1 ${PROJECT_BINARY_DIR}/man/qlmrqmgr.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_BINARY_DIR}/man/qlmc32.3 DESTINATION ${CMAKE_INSTALL_MANDIR}/man3)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
