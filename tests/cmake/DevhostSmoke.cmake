# Runs the development host for a moment: it must load the module, log its
# lines and exit cleanly. With PLUGIN_DIR, the module of an installed plugin
# folder instead of the development flavour (one built with the sample
# services' endpoints, as the portable build's archive): the host then runs
# until the chat and stream-manager pages have joined the event proxy with
# its token, through the plugin's own panel host.
file(REMOVE_RECURSE "${WORK_DIR}")
set(lines "[devhost] sample web application on 127.0.0.1:27700"
          "[vorn-zorva] Registered obs-websocket vendor 'vorn-zorva' request 'agentTools'."
          "[vorn-zorva] Event proxy listening on ws://127.0.0.1:44423" "[vorn-zorva] Loaded docks."
          # The seeded sample account connects to the sample Vek over TLS and signs in.
          "[vorn-zorva] Vek worker create platform=TWITCH upid=twitch-demo"
          "[devhost] sample Vek: twitch-demo signed in; streaming sample events")
if(PLUGIN_DIR)
  set(page_joined "[vorn-zorva] Event proxy accepted authenticated client")
  # The deadline only bounds a run that never sees the pages.
  set(run --plugin-folder "${PLUGIN_DIR}" --quit-on-line "${page_joined}" --times 2 --quit-after 240)
  list(APPEND lines "[devhost] module ${PLUGIN_DIR}/bin/64bit/vorn-zorva.so"
    "[vorn-zorva] Docks use the plugin's own browser panel host (Qt WebEngine)")
else()
  set(run --recording-browser --quit-after 3)
endif()
execute_process(COMMAND "${DEVHOST}" --home "${WORK_DIR}" ${run}
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output TIMEOUT 280)
message("${output}")
if(NOT result EQUAL 0)
  message(FATAL_ERROR "devhost exited with ${result}")
endif()
foreach(line IN LISTS lines)
  string(FIND "${output}" "${line}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "devhost did not log: ${line}")
  endif()
endforeach()
if(PLUGIN_DIR)
  string(REGEX MATCHALL "Event proxy accepted authenticated client" joined "${output}")
  list(LENGTH joined joined)
  if(joined LESS 2)
    message(FATAL_ERROR "the chat and stream-manager pages did not both join the event proxy (${joined})")
  endif()
endif()
