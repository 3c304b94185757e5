#pragma once

// The OBS front-end calls the module uses. Front-end API 30 added dock
// registration by id; against older headers the module declares those two
// functions itself, with the exact C signatures that the OBS loading the
// module provides.

#include <obs-frontend-api.h>

#if LIBOBS_API_MAJOR_VER < 30
extern "C" {
EXPORT bool obs_frontend_add_dock_by_id(const char *id, const char *title, void *widget);
EXPORT void obs_frontend_remove_dock(const char *id);
}
#endif
