# The Debian package of the plugin, made with CPack from a build configured
# for the system layout (scripts/package builds one in each packaged-OBS root,
# where that distribution's libobs and Qt are):
#
#   obs-vorn-zorva_<version>-<revision>_<arch>.deb         the plugin and its data
#   obs-vorn-zorva-dbgsym_<version>-<revision>_<arch>.deb  its debug symbols
#   vorn-zorva-<version>-source.tar.gz                     the tree it was built from
#
# Builds for different distributions differ in their Debian revision
# (scripts/package: 1+<suite>), so that no two different files share a name.
#
# CPack rather than Debian's own tools: the package holds what
# `cmake --install` puts in the system layout and nothing else, so the install
# rules stay the one description of it, and dpkg-shlibdeps still gives the
# dependencies on the libraries the plugin links.
if(NOT ZORVA_INSTALL_LAYOUT STREQUAL "system")
  if(ZORVA_PORTABLE)
    message(FATAL_ERROR "the portable build is packaged for the system layout: configure it with -DCMAKE_INSTALL_PREFIX=/usr")
  endif()
  return()
endif()
# Distributions build OBS without obs-browser: there the docks show only with
# the plugin's own panel host, which the package carries beside the module.
# dpkg-shlibdeps gives its dependencies on Qt WebEngine.
if(NOT TARGET vorn-zorva-panels AND ZORVA_PORTABLE)
  message(FATAL_ERROR "the portable build carries the panel host: install qt6-webengine-dev")
elseif(NOT TARGET vorn-zorva-panels)
  message(WARNING "Qt WebEngine 6 was not found: a package built now has no browser panel host of its own, and "
    "in an OBS without obs-browser its docks stay empty (install qt6-webengine-dev)")
endif()

# OBS refuses a module built against a newer libobs than its own: the package
# asks for at least the libobs API that the headers it was built with declare.
get_target_property(libobs_includes OBS::libobs INTERFACE_INCLUDE_DIRECTORIES)
find_file(libobs_config obs-config.h PATHS ${libobs_includes} NO_DEFAULT_PATH NO_CACHE)
if(NOT libobs_config)
  message(FATAL_ERROR "obs-config.h not found in libobs's include folders (${libobs_includes})")
endif()
file(STRINGS "${libobs_config}" libobs_api REGEX "^#define LIBOBS_API_(MAJOR|MINOR)_VER +[0-9]+")
string(REGEX REPLACE ".*MAJOR_VER +([0-9]+).*MINOR_VER +([0-9]+).*" "\\1.\\2" ZORVA_LIBOBS_API "${libobs_api}")
message(STATUS "The package asks for OBS ${ZORVA_LIBOBS_API} or later, the libobs API it is built against")

# The portable build, made against the oldest libobs, Qt, glibc and g++ it
# serves (scripts/obs-root portable): its dependencies are written here by
# hand, so that Debian's OBS packages and OBS's own obs-studio package, which
# carries libobs itself, both satisfy them. Each symbol version floor below
# has its package floor in the Depends, and the test symbol_floors checks
# that the binaries need no newer symbols. Qt WebEngine is only recommended:
# the panel host is loaded only where OBS has no obs-browser. Beside the
# package, an archive of the user plugin folder's layout.
macro(zorva_portable_package)
  set(ZORVA_SYMBOL_FLOORS GLIBC_2.34 GLIBCXX_3.4.29 CXXABI_1.3.9 Qt_6.4)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "obs-studio (>= ${ZORVA_LIBOBS_API}), libc6 (>= 2.34), libgcc-s1 (>= 3.0), \
libstdc++6 (>= 11), libqt6core6 (>= 6.4) | libqt6core6t64, libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), \
libqt6network6 (>= 6.4)")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6webenginewidgets6 (>= 6.4), libqt6quick6 (>= 6.4)")

  set(binaries $<TARGET_FILE:vorn-zorva>)
  if(TARGET vorn-zorva-panels)
    list(APPEND binaries $<TARGET_FILE:vorn-zorva-panels>)
  endif()
  enable_testing()
  add_test(NAME symbol_floors COMMAND "${CMAKE_COMMAND}" "-DFILES=${binaries}" "-DFLOORS=${ZORVA_SYMBOL_FLOORS}"
    -P "${PROJECT_SOURCE_DIR}/tests/cmake/CheckSymbolFloors.cmake")
  set_tests_properties(symbol_floors PROPERTIES LABELS packaging)

  # cmake --build <build> --target user-folder-archive: vorn-zorva/ as it
  # goes into ~/.config/obs-studio/plugins, with the licence.
  zorva_install_plugin(vorn-zorva LAYOUT user COMPONENT user-folder)
  install(FILES LICENSE DESTINATION vorn-zorva COMPONENT user-folder EXCLUDE_FROM_ALL)
  set(ZORVA_USER_FOLDER_ARCHIVE "vorn-zorva-${PROJECT_VERSION}-x86_64-linux-gnu.tar.xz")
  add_custom_target(user-folder-archive
    COMMAND "${CMAKE_COMMAND}" -E rm -rf user-folder "${ZORVA_USER_FOLDER_ARCHIVE}"
    COMMAND "${CMAKE_COMMAND}" --install . --component user-folder --prefix user-folder --strip
    COMMAND tar -C user-folder --sort=name --owner=0 --group=0 --numeric-owner -cJf "${ZORVA_USER_FOLDER_ARCHIVE}"
      vorn-zorva
    WORKING_DIRECTORY "${PROJECT_BINARY_DIR}" VERBATIM)
  add_dependencies(user-folder-archive vorn-zorva)
endmacro()

set(ZORVA_PACKAGE_MAINTAINER "Vorn Zorva maintainers <zorva@vorn.example>" CACHE STRING
  "Maintainer of the Debian package: name <address>")
set(ZORVA_PACKAGE_HOMEPAGE "${ZORVA_SITE_URL}" CACHE STRING "Homepage of the Debian package")
set(ZORVA_PACKAGE_REVISION "1" CACHE STRING "Debian revision of the package, one per target distribution")
set(ZORVA_PACKAGE_VERSION "${PROJECT_VERSION}-${ZORVA_PACKAGE_REVISION}")

# Debian's conventions for the package's documentation folder: the copyright
# file in DEP-5 form, naming the holder and the licence, and a changelog,
# compressed. The date is SOURCE_DATE_EPOCH's when it is set.
set(doc_folder "${CMAKE_INSTALL_DATAROOTDIR}/doc/obs-vorn-zorva")
configure_file(cmake/debian/copyright.in debian/copyright @ONLY)
string(TIMESTAMP ZORVA_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(cmake/debian/changelog.in debian/changelog.Debian @ONLY)
execute_process(COMMAND gzip -9n -c "${PROJECT_BINARY_DIR}/debian/changelog.Debian"
  OUTPUT_FILE "${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz" COMMAND_ERROR_IS_FATAL ANY)
install(FILES "${PROJECT_BINARY_DIR}/debian/copyright" "${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz"
  DESTINATION "${doc_folder}")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME obs-vorn-zorva)
set(CPACK_PACKAGE_VENDOR "Vorn")
set(CPACK_PACKAGE_CONTACT "${ZORVA_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "OBS Studio plugin: ${ZORVA_DISPLAY_NAME}")
set(CPACK_PACKAGE_DESCRIPTION "${PROJECT_DESCRIPTION}.\nLicence: GPL-2.0-or-later.")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_DEBIAN_PACKAGE_RELEASE "${ZORVA_PACKAGE_REVISION}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${ZORVA_PACKAGE_HOMEPAGE}")
if(ZORVA_PORTABLE)
  zorva_portable_package()
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "obs-studio (>= ${ZORVA_LIBOBS_API})")
endif()
set(CPACK_DEBIAN_PACKAGE_ENHANCES obs-studio)
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
# CPack names the debug package's file .ddeb, as Ubuntu does; scripts/obs-root
# gives it Debian's .deb.

set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_PACKAGE_FILE_NAME "vorn-zorva-${PROJECT_VERSION}-source")
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/node_modules/" "/Testing/" "/packages/")
include(CPack)
