#pragma once

#include "values/Json.h"

#include <string>

#include <QMetaType>

// Types carried by cross-thread signals; registered under these names at load.
Q_DECLARE_METATYPE(std::string)
Q_DECLARE_METATYPE(nlohmann::json)

inline void registerModuleMetaTypes()
{
	qRegisterMetaType<std::string>("std::string");
	qRegisterMetaType<nlohmann::json>("nlohmann::json");
}
