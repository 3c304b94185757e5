# The pages' list of error codes (docs/host-api.md, "Error codes") names
# exactly the codes the module answers with (src/values/ErrorCodes.h).

# codes_in(<out> <text> <regex>): the code in each match of the regex, the
# code being the match's one run of capitals between quotes or backticks.
function(codes_in out text regex)
  string(REGEX MATCHALL "${regex}" matches "${text}")
  set(codes "")
  foreach(match IN LISTS matches)
    string(REGEX REPLACE ".*[\"`]([A-Z_]+)[\"`].*" "\\1" code "${match}")
    list(APPEND codes "${code}")
  endforeach()
  set(${out} "${codes}" PARENT_SCOPE)
endfunction()

file(READ "${SOURCE_DIR}/src/values/ErrorCodes.h" header)
codes_in(in_code "${header}" "constexpr char [A-Za-z]+\\[\\] = \"[A-Z_]+\"")

file(READ "${SOURCE_DIR}/docs/host-api.md" page)
string(FIND "${page}" "\n### Error codes\n" start)
if(start EQUAL -1)
  message(FATAL_ERROR "docs/host-api.md has no section \"Error codes\"")
endif()
string(SUBSTRING "${page}" ${start} -1 section)
string(SUBSTRING "${section}" 1 -1 section)
string(REGEX REPLACE "\n#.*" "" section "${section}") # up to the next heading
codes_in(in_docs "${section}" "\n\\| `[A-Z_]+` \\|")

if(NOT in_code OR NOT in_docs)
  message(FATAL_ERROR "no codes read: ${in_code} / ${in_docs}")
endif()
set(undocumented ${in_code})
list(REMOVE_ITEM undocumented ${in_docs})
set(unknown ${in_docs})
list(REMOVE_ITEM unknown ${in_code})
if(undocumented OR unknown)
  message(FATAL_ERROR "docs/host-api.md's error codes differ from ErrorCodes.h: "
    "not in the docs: ${undocumented}; not in the code: ${unknown}")
endif()
list(LENGTH in_code count)
message("${count} error codes, each in docs/host-api.md")
