// The module file as OBS sees it before loading it: its C entry points.

#include <dlfcn.h>

#include <cstdint>

#include <obs-config.h>

#include <gtest/gtest.h>

TEST(ModuleExports, EntryPointsAndApiVersion)
{
	void *library = dlopen(ZORVA_MODULE_FILE, RTLD_NOW | RTLD_LOCAL);
	ASSERT_NE(library, nullptr) << dlerror();
	for (const char *name :
	     {"obs_module_load", "obs_module_post_load", "obs_module_unload", "obs_module_set_pointer",
	      "obs_module_ver", "obs_module_set_locale", "obs_module_free_locale", "obs_module_get_string"})
		EXPECT_NE(dlsym(library, name), nullptr) << name;
	auto version = reinterpret_cast<uint32_t (*)(void)>(dlsym(library, "obs_module_ver"));
	ASSERT_NE(version, nullptr);
	EXPECT_EQ(version(), uint32_t(LIBOBS_API_VER));
	EXPECT_EQ(version(), 0x1D000002u); // Debian's libobs 29.0.2 headers
}
