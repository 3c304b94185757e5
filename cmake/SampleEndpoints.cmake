# The endpoints of the sample services (devhost/samples) on loopback, which
# the development flavour of the module carries. As an initial cache
# (cmake -C cmake/SampleEndpoints.cmake), a whole build takes them: the
# real-OBS tests build the plugin's Debian package so, to install it as a
# user does and watch its docks load their pages.
set(ZORVA_DEV_WEB_PORT 27700)
set(ZORVA_DEV_ACCOUNT_PORT 27701)
set(ZORVA_DEV_VEK_PORT 27702)
set(sample_web "http://127.0.0.1:${ZORVA_DEV_WEB_PORT}")
set(ZORVA_SAMPLE_ENDPOINTS
  "ZORVA_ACCOUNT_BASE_URL=http://127.0.0.1:${ZORVA_DEV_ACCOUNT_PORT}"
  "ZORVA_ACCOUNT_LOGIN_URL=http://127.0.0.1:${ZORVA_DEV_ACCOUNT_PORT}/login/"
  "ZORVA_ACCOUNT_REDIRECT_URL=${sample_web}/auth/redirect"
  "ZORVA_ACCOUNT_POST_LOGOUT_URL=${sample_web}/auth/logged-out"
  "ZORVA_VEK_API_BASE_URL=https://127.0.0.1:${ZORVA_DEV_VEK_PORT}/v2/vek"
  "ZORVA_WEB_APP_BASE_URL=${sample_web}/"
  "ZORVA_DOCK_PAGES_BASE_URL=${sample_web}/docks"
  "ZORVA_ICON_URL=${sample_web}/icon.svg"
  "ZORVA_AVATAR_URL=${sample_web}/avatar.svg"
  "ZORVA_SITE_URL=${sample_web}/")

# Run as an initial cache: each becomes the cache value of its variable.
if(CMAKE_SCRIPT_MODE_FILE OR NOT CMAKE_PROJECT_NAME)
  foreach(endpoint IN LISTS ZORVA_SAMPLE_ENDPOINTS)
    string(REGEX MATCH "^([A-Z_]+)=(.*)$" _ "${endpoint}")
    set(${CMAKE_MATCH_1} "${CMAKE_MATCH_2}" CACHE STRING "")
  endforeach()
endif()
