# Comments speak about the system itself: none cites rows, steps or parts of a
# design document, which a reader of the code does not have.
file(GLOB_RECURSE sources LIST_DIRECTORIES false
  "${SOURCE_DIR}/src/*" "${SOURCE_DIR}/standin/*" "${SOURCE_DIR}/devhost/*" "${SOURCE_DIR}/bench/*"
  "${SOURCE_DIR}/fuzz/*.cpp" "${SOURCE_DIR}/fuzz/*.h" "${SOURCE_DIR}/tests/*.cpp" "${SOURCE_DIR}/tests/*.h")
set(found "")
foreach(source IN LISTS sources)
  if(source MATCHES "/node_modules/|/corpus/")
    continue()
  endif()
  file(STRINGS "${source}" lines REGEX "(//|#|\\*).*(Row [0-9]+:|Part [0-9]+\\.[0-9]+|[Ss]tep [0-9]+:)")
  foreach(line IN LISTS lines)
    string(APPEND found "\n  ${source}: ${line}")
  endforeach()
endforeach()
if(found)
  message(FATAL_ERROR "comments citing document structure:${found}")
endif()
message(STATUS "comments ok")
