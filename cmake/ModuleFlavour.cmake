# zorva_add_endpoints(<target> [<definition>...])
#
# The endpoints unit (values/ServiceEndpoints.cpp) as an object library,
# compiled with the given ZORVA_* definitions; without any, with the
# deployment's endpoints. No layer library holds it: each program chooses its
# endpoints by linking one of these.
function(zorva_add_endpoints target)
  add_library(${target} OBJECT "${PROJECT_SOURCE_DIR}/src/values/ServiceEndpoints.cpp")
  set_target_properties(${target} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_compile_definitions(${target} PRIVATE ${ARGN})
  target_link_libraries(${target} PRIVATE zorva_values zorva_generated zorva_warnings)
endfunction()

# zorva_add_module_flavour(<target> OUTPUT_NAME <name> [DIRECTORY <dir>] [PANEL_HOST]
#                          [ENDPOINTS <definition>...])
#
# A module file: the entry points, the endpoints compiled with the given ZORVA_*
# definitions (loopback services for end-to-end tests and the development
# host; none for the shipped module), and the layers. With PANEL_HOST, the
# plugin's own browser panel host lies beside it in the build tree too, where
# the module looks for it (a link in vorn-zorva/, as installed).
function(zorva_add_module_flavour target)
  cmake_parse_arguments(FLAVOUR "PANEL_HOST" "OUTPUT_NAME;DIRECTORY" "ENDPOINTS" ${ARGN})
  zorva_add_endpoints(${target}_endpoints ${FLAVOUR_ENDPOINTS})
  add_library(${target} MODULE "${PROJECT_SOURCE_DIR}/src/plugin/ModuleEntry.cpp")
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME "${FLAVOUR_OUTPUT_NAME}"
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  if(FLAVOUR_DIRECTORY)
    set_target_properties(${target} PROPERTIES LIBRARY_OUTPUT_DIRECTORY "${FLAVOUR_DIRECTORY}")
  endif()
  target_link_libraries(${target} PRIVATE ${target}_endpoints zorva_plugin zorva_generated zorva_warnings)
  if(FLAVOUR_PANEL_HOST AND TARGET vorn-zorva-panels)
    add_dependencies(${target} vorn-zorva-panels)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND "${CMAKE_COMMAND}" -E make_directory "$<TARGET_FILE_DIR:${target}>/vorn-zorva"
      COMMAND "${CMAKE_COMMAND}" -E create_symlink "$<TARGET_FILE:vorn-zorva-panels>"
        "$<TARGET_FILE_DIR:${target}>/vorn-zorva/$<TARGET_FILE_NAME:vorn-zorva-panels>"
      VERBATIM)
  endif()
  if(ZORVA_SANITIZE)
    # libobs unloads modules at shutdown; keep the code mapped so that reports
    # made at exit still name the module's frames.
    target_link_options(${target} PRIVATE -Wl,-z,nodelete)
  endif()
endfunction()

# zorva_install_plugin(<module target> LAYOUT user|system [COMPONENT <name>])
#
# The install rules of one module file, its panel host and its data, in one
# of OBS's two plugin layouts. "user": <prefix>/vorn-zorva/bin/64bit and
# <prefix>/vorn-zorva/data, the layout of OBS's user plugin folder. "system":
# <prefix>/<libdir>/obs-plugins/vorn-zorva.so and
# <prefix>/share/obs/obs-plugins/vorn-zorva/, where a distribution's OBS
# loads plugins from. The panel host goes to a folder of its own beside the
# module, never a file OBS scans for modules. With COMPONENT, the rules run
# only when that component is asked for.
function(zorva_install_plugin target)
  cmake_parse_arguments(PLUGIN "" "LAYOUT;COMPONENT" "" ${ARGN})
  if(PLUGIN_LAYOUT STREQUAL "system")
    set(plugin_destination "${CMAKE_INSTALL_LIBDIR}/obs-plugins")
    set(data_destination "${CMAKE_INSTALL_DATAROOTDIR}/obs/obs-plugins/vorn-zorva")
  elseif(PLUGIN_LAYOUT STREQUAL "user")
    set(plugin_destination vorn-zorva/bin/64bit)
    set(data_destination vorn-zorva/data)
  else()
    message(FATAL_ERROR "the install layout must be user or system, not '${PLUGIN_LAYOUT}'")
  endif()
  set(component "")
  if(PLUGIN_COMPONENT)
    set(component COMPONENT "${PLUGIN_COMPONENT}" EXCLUDE_FROM_ALL)
  endif()
  install(TARGETS ${target} LIBRARY DESTINATION "${plugin_destination}" ${component})
  if(TARGET vorn-zorva-panels)
    install(TARGETS vorn-zorva-panels LIBRARY DESTINATION "${plugin_destination}/vorn-zorva" ${component})
  endif()
  install(DIRECTORY "${PROJECT_SOURCE_DIR}/data/" DESTINATION "${data_destination}" ${component} PATTERN "*.in" EXCLUDE)
  install(FILES "${PROJECT_BINARY_DIR}/generated/manifest.json" DESTINATION "${data_destination}" ${component})
endfunction()
