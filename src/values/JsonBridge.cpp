#include "values/JsonBridge.h"

#include <QJsonArray>
#include <QJsonDocument>

json toNlohmann(const QJsonValue &value)
{
	if (value.isUndefined())
		return nullptr;
	// QJsonDocument holds only arrays and objects: carry the value in a
	// one-element array so that scalars cross as well.
	const QByteArray text = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
	json parsed = parseJson(std::string_view(text.constData(), size_t(text.size())));
	return parsed.is_array() && parsed.size() == 1 ? std::move(parsed[0]) : json();
}

json toNlohmann(const QJsonObject &object)
{
	const QByteArray text = QJsonDocument(object).toJson(QJsonDocument::Compact);
	json parsed = parseJson(std::string_view(text.constData(), size_t(text.size())));
	return parsed.is_object() ? std::move(parsed) : json::object();
}

QJsonObject toQJsonObject(const json &value)
{
	if (!value.is_object())
		return {};
	return QJsonDocument::fromJson(QByteArray::fromStdString(compactJson(value))).object();
}
