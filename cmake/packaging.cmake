# Installing qvxtool like any desktop program, and its Debian package
# (bash scripts/package.sh runs cpack).  Included at the very end of the
# top-level CMakeLists.txt, after every subdirectory, so that every target it
# installs is known; qvxctl is installed once it exists.  Only the programs
# and their data are installed: no tests, benchmarks or build tools.
include(GNUInstallDirs)

set(QVX_PACKAGING_SOURCE ${CMAKE_SOURCE_DIR}/packaging)
set(QVX_PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)
# The desktop entry's and AppStream component's id.
set(QVX_APP_ID org.qvxtool.qvxtool)
set(QVX_PACKAGE_MAINTAINER "The qvxtool developers <qvxtool@example.org>"
    CACHE STRING "Maintainer field of the Debian package (Name <address>)")
# Where the program looks for its manual when installed (program_folder.cpp):
# <prefix>/share/doc/qvxtool beside <prefix>/bin.
set(QVX_DOC_DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/qvxtool)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(QVX_HAS_QVXCTL OFF)
if(TARGET qvxctl)
  set(QVX_HAS_QVXCTL ON)
endif()

# Icons: the about box logo's mark, drawn at each size by a build tool.
qvx_build_tool(qvx_make_icon ${CMAKE_SOURCE_DIR}/tools/make_icon.cpp Qt6::Gui)
set(QVX_PACKAGE_FILES)
foreach(size 48 128 256)
  set(icon ${QVX_PACKAGING_OUT}/icons/${size}x${size}/qvxtool.png)
  add_custom_command(OUTPUT ${icon}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QVX_PACKAGING_OUT}/icons/${size}x${size}
    COMMAND qvx_make_icon ${size} ${icon}
    DEPENDS qvx_make_icon
    COMMENT "Drawing the ${size} pixel icon")
  list(APPEND QVX_PACKAGE_FILES ${icon})
  install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# Text files that carry the version, and their gzipped forms (manual pages and
# the changelog are installed compressed; -n keeps the package reproducible).
set(QVX_METAINFO_BINARIES "    <binary>qvxtool</binary>\n    <binary>qvxsim</binary>")
if(QVX_HAS_QVXCTL)
  string(APPEND QVX_METAINFO_BINARIES "\n    <binary>qvxctl</binary>")
endif()
configure_file(${QVX_PACKAGING_SOURCE}/${QVX_APP_ID}.metainfo.xml.in
  ${QVX_PACKAGING_OUT}/${QVX_APP_ID}.metainfo.xml @ONLY)
configure_file(${QVX_PACKAGING_SOURCE}/changelog.in ${QVX_PACKAGING_OUT}/changelog @ONLY)

find_program(QVX_GZIP gzip)
function(qvx_gzipped source out_var)
  get_filename_component(name ${source} NAME)
  set(plain ${QVX_PACKAGING_OUT}/gz/${name})
  configure_file(${source} ${plain} @ONLY)
  add_custom_command(OUTPUT ${plain}.gz
    COMMAND ${QVX_GZIP} -n -9 -f -k ${plain}
    DEPENDS ${plain}
    COMMENT "Compressing ${name}")
  set(${out_var} ${plain}.gz PARENT_SCOPE)
endfunction()

set(QVX_MAN_PAGES qvxtool.1 qvxsim.1)
if(QVX_HAS_QVXCTL)
  if(EXISTS ${QVX_PACKAGING_SOURCE}/man/qvxctl.1)
    list(APPEND QVX_MAN_PAGES qvxctl.1)
  else()
    message(WARNING "qvxctl is installed without a manual page: add packaging/man/qvxctl.1")
  endif()
endif()
if(QVX_GZIP)
  foreach(page ${QVX_MAN_PAGES})
    qvx_gzipped(${QVX_PACKAGING_SOURCE}/man/${page} gz)
    list(APPEND QVX_PACKAGE_FILES ${gz})
    install(FILES ${gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
  qvx_gzipped(${QVX_PACKAGING_OUT}/changelog gz)
  list(APPEND QVX_PACKAGE_FILES ${gz})
  install(FILES ${gz} DESTINATION ${QVX_DOC_DESTINATION})
endif()
add_custom_target(qvx_package_files ALL DEPENDS ${QVX_PACKAGE_FILES})
# Everything the package holds, so that scripts/package.sh builds only that.
add_custom_target(qvx_installed)
add_dependencies(qvx_installed qvxtool qvxsim qvx_manual qvx_package_files)
if(QVX_HAS_QVXCTL)
  add_dependencies(qvx_installed qvxctl)
endif()

# Resolve every symbol at start, so that the relocations can be read-only
# (Debian's hardening, as its own packages are linked).
if(NOT WIN32)
  foreach(program qvxtool qvxsim)
    target_link_options(${program} PRIVATE LINKER:-z,now)
  endforeach()
endif()
install(TARGETS qvxtool qvxsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(QVX_HAS_QVXCTL)
  install(TARGETS qvxctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${QVX_PACKAGING_SOURCE}/qvxtool.doc-base DESTINATION ${CMAKE_INSTALL_DATADIR}/doc-base
  RENAME qvxtool)
install(FILES ${QVX_PACKAGING_SOURCE}/${QVX_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${QVX_PACKAGING_OUT}/${QVX_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_BINARY_DIR}/bin/UsrMan.pdf ${CMAKE_SOURCE_DIR}/docs/qvxsim.md
  ${QVX_PACKAGING_SOURCE}/copyright DESTINATION ${QVX_DOC_DESTINATION})

# The Debian package: qvxtool_<version>_<arch>.deb in the build folder, its
# dependencies computed from the binaries by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qvxtool)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The qvxtool developers")
set(CPACK_PACKAGE_CONTACT ${QVX_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service tool for the QVX-24S meter gateway")
set(CPACK_PACKAGE_DESCRIPTION_FILE ${QVX_PACKAGING_SOURCE}/description.txt)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QVX_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
