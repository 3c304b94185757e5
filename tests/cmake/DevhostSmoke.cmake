# Runs the development host for a moment: it must load the module, log its
# lines and exit cleanly.
file(REMOVE_RECURSE "${WORK_DIR}")
set(ENV{XDG_CONFIG_HOME} "${WORK_DIR}/xdg")
execute_process(COMMAND "${DEVHOST}" --config-dir "${WORK_DIR}/config" --quit-after 2
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output TIMEOUT 50)
message("${output}")
if(NOT result EQUAL 0)
  message(FATAL_ERROR "devhost exited with ${result}")
endif()
foreach(line "[vorn-zorva] Registered obs-websocket vendor 'vorn-zorva' request 'agentTools'."
             "[vorn-zorva] Event proxy listening on ws://127.0.0.1:44423" "[vorn-zorva] Loaded docks.")
  string(FIND "${output}" "${line}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "devhost did not log: ${line}")
  endif()
endforeach()
