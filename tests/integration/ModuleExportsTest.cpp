// The module file as OBS sees it before loading it: its C entry points.

#include <dlfcn.h>

#include <cstdint>
#include <fstream>
#include <string>

#include <obs-config.h>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include "BuildConfig.h"

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
	// The libobs API of the headers the module was built with, whichever they are.
	EXPECT_EQ(version(), uint32_t(LIBOBS_API_VER));
}

// What OBS shows for the module: the exported name and description, and OBS
// 32's plugin manager's manifest, made from the same project settings.
TEST(ModuleExports, NameAndManifestAgree)
{
	void *library = dlopen(ZORVA_MODULE_FILE, RTLD_NOW | RTLD_LOCAL);
	ASSERT_NE(library, nullptr) << dlerror();
	auto name = reinterpret_cast<const char *(*)(void)>(dlsym(library, "obs_module_name"));
	auto description = reinterpret_cast<const char *(*)(void)>(dlsym(library, "obs_module_description"));
	ASSERT_NE(name, nullptr);
	ASSERT_NE(description, nullptr);

	std::ifstream file(ZORVA_MANIFEST_FILE);
	const nlohmann::json manifest = nlohmann::json::parse(file, nullptr, false);
	ASSERT_TRUE(manifest.is_object()) << ZORVA_MANIFEST_FILE;
	EXPECT_EQ(manifest.value("id", ""), "vorn-zorva");
	EXPECT_EQ(manifest.value("display_name", ""), std::string(name()));
	EXPECT_EQ(manifest.value("description", ""), std::string(description()));
	EXPECT_EQ(manifest.value("version", ""), ZORVA_VERSION);
	EXPECT_FALSE(std::string(description()).empty());
}
