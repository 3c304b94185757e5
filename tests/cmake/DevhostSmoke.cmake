# Runs the development host for a moment: it must load the module, log its
# lines and exit cleanly.
file(REMOVE_RECURSE "${WORK_DIR}")
execute_process(COMMAND "${DEVHOST}" --home "${WORK_DIR}" --recording-browser --quit-after 3
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output TIMEOUT 50)
message("${output}")
if(NOT result EQUAL 0)
  message(FATAL_ERROR "devhost exited with ${result}")
endif()
foreach(line "[devhost] sample web application on 127.0.0.1:27700"
             "[vorn-zorva] Registered obs-websocket vendor 'vorn-zorva' request 'agentTools'."
             "[vorn-zorva] Event proxy listening on ws://127.0.0.1:44423" "[vorn-zorva] Loaded docks."
             # The seeded sample account connects to the sample Vek over TLS and signs in.
             "[vorn-zorva] Vek worker create platform=TWITCH upid=twitch-demo"
             "[devhost] sample Vek: twitch-demo signed in; streaming sample events")
  string(FIND "${output}" "${line}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "devhost did not log: ${line}")
  endif()
endforeach()
