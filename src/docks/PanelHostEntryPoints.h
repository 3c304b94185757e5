#pragma once

// The plugin's own browser panel host (src/panelhost): a library installed
// beside the module, in the folder PanelHostLibrary names, which the module
// loads only when OBS offers no obs-browser panels. These are the functions
// the module finds in it by name.

struct QCef;

extern "C" {

// A new panel host for the docks. Its pages keep cookies, local storage and
// their cache under storagePath (null or empty: in memory only). Null when
// the process has no Qt application on this thread.
__attribute__((visibility("default"))) QCef *vorn_zorva_panel_host_create(const char *storagePath);
// The module lets go of its panels: the profile goes with the last page.
__attribute__((visibility("default"))) void vorn_zorva_panel_host_release(void);
}

using PanelHostCreate = decltype(&vorn_zorva_panel_host_create);
using PanelHostRelease = decltype(&vorn_zorva_panel_host_release);

constexpr char kPanelHostCreateName[] = "vorn_zorva_panel_host_create";
constexpr char kPanelHostReleaseName[] = "vorn_zorva_panel_host_release";
