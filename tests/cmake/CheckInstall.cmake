# Installs the build into a fresh prefix and checks the plugin layout it was
# configured for (LAYOUT user or system, LIBDIR the library folder).
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}" RESULT_VARIABLE result
  OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
# With PANEL_HOST set, the plugin's own panel host lies in vorn-zorva/ beside
# the module, where the module looks for it.
set(expected_files vorn-zorva/bin/64bit/vorn-zorva.so vorn-zorva/data/locale/en-US.ini vorn-zorva/data/manifest.json)
set(plugin_folder vorn-zorva/bin/64bit)
if(LAYOUT STREQUAL "system")
  set(expected_files ${LIBDIR}/obs-plugins/vorn-zorva.so share/obs/obs-plugins/vorn-zorva/locale/en-US.ini
    share/obs/obs-plugins/vorn-zorva/manifest.json share/doc/obs-vorn-zorva/copyright
    share/doc/obs-vorn-zorva/changelog.Debian.gz)
  set(plugin_folder ${LIBDIR}/obs-plugins)
endif()
if(PANEL_HOST)
  list(APPEND expected_files ${plugin_folder}/vorn-zorva/vorn-zorva-panels.so)
endif()
foreach(expected IN LISTS expected_files)
  if(NOT EXISTS "${PREFIX}/${expected}")
    message(FATAL_ERROR "missing after install: ${expected}")
  endif()
endforeach()
file(GLOB_RECURSE installed RELATIVE "${PREFIX}" "${PREFIX}/*")
list(SORT installed)
list(SORT expected_files)
if(NOT installed STREQUAL expected_files)
  message(FATAL_ERROR "unexpected install content: ${installed}")
endif()
message(STATUS "install layout ok")
