// The entry points OBS calls, exported under their C names.

#include "plugin/ModuleLifecycle.h"
#include "plugin/ModuleState.h"

#include "BuildConfig.h"

#include <obs-module.h>

extern "C" {

MODULE_EXPORT void obs_module_set_pointer(obs_module_t *module)
{
	moduleState().currentModule = module;
}

// The libobs API version of the headers the module was built against.
MODULE_EXPORT uint32_t obs_module_ver(void)
{
	return LIBOBS_API_VER;
}

MODULE_EXPORT void obs_module_set_locale(const char *locale)
{
	ModuleState &state = moduleState();
	if (state.localeLookup)
		text_lookup_destroy(state.localeLookup);
	state.localeLookup = obs_module_load_locale(state.currentModule, "en-US", locale);
}

MODULE_EXPORT void obs_module_free_locale(void)
{
	ModuleState &state = moduleState();
	text_lookup_destroy(state.localeLookup);
	state.localeLookup = nullptr;
}

MODULE_EXPORT bool obs_module_get_string(const char *key, const char **value)
{
	return text_lookup_getstr(moduleState().localeLookup, key, value);
}

// The name and description OBS shows for the module; OBS 32's plugin manager
// prefers those of data/manifest.json, made from the same project settings.
MODULE_EXPORT const char *obs_module_name(void)
{
	return ZORVA_DISPLAY_NAME;
}

MODULE_EXPORT const char *obs_module_description(void)
{
	return ZORVA_DESCRIPTION;
}

MODULE_EXPORT bool obs_module_load(void)
{
	return loadModule();
}

MODULE_EXPORT void obs_module_post_load(void)
{
	postLoadModule();
}

MODULE_EXPORT void obs_module_unload(void)
{
	unloadModule();
}
}
