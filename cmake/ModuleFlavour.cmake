# zorva_add_module_flavour(<target> OUTPUT_NAME <name> DIRECTORY <dir> ENDPOINTS <definition>...)
#
# The module once more with other endpoints (loopback services for end-to-end
# tests and the development host). Only the endpoints unit is compiled again,
# with the given ZORVA_* definitions; everything else is the shipped core.
function(zorva_add_module_flavour target)
  cmake_parse_arguments(FLAVOUR "" "OUTPUT_NAME;DIRECTORY" "ENDPOINTS" ${ARGN})
  add_library(${target} MODULE "${PROJECT_SOURCE_DIR}/src/plugin/ModuleEntry.cpp"
    "${PROJECT_SOURCE_DIR}/src/values/ServiceEndpoints.cpp")
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME "${FLAVOUR_OUTPUT_NAME}"
    LIBRARY_OUTPUT_DIRECTORY "${FLAVOUR_DIRECTORY}" CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_include_directories(${target} PRIVATE "${PROJECT_SOURCE_DIR}/src" "${CMAKE_BINARY_DIR}/generated")
  target_compile_definitions(${target} PRIVATE ${FLAVOUR_ENDPOINTS})
  target_link_libraries(${target} PRIVATE zorva_core zorva_warnings)
  if(ZORVA_SANITIZE)
    target_link_options(${target} PRIVATE -Wl,-z,nodelete)
  endif()
endfunction()
