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
