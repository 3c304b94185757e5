#pragma once

#include "values/Json.h"

#include <QJsonObject>
#include <QJsonValue>

// Qt-facing code uses Qt's JSON classes, the wire side nlohmann's; values
// cross between the two as compact JSON text.

// An undefined value becomes null.
json toNlohmann(const QJsonValue &value);
json toNlohmann(const QJsonObject &object);

// Anything that is not an object gives an empty object.
QJsonObject toQJsonObject(const json &value);
