#include "integration/VekRestClient.h"

#include "websocket/Base64.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QUrl>

VekRestClient::VekRestClient(VekService vekService, QObject *parent) : QObject(parent), service(std::move(vekService))
{
}

VekRestClient::~VekRestClient() = default;

QNetworkAccessManager &VekRestClient::networkManager()
{
	if (!network)
		network = std::make_unique<QNetworkAccessManager>();
	return *network;
}

void VekRestClient::send(const nlohmann::json &payload, const std::string &token, QObject *requester)
{
	const std::string endpoint = stringMember(payload, "endpoint");
	const std::string method = QString::fromStdString(stringMember(payload, "method")).toUpper().toStdString();
	const std::string nonce = stringMember(payload, "nonce");
	if (endpoint.empty() || method.empty() || nonce.empty())
		return;

	QNetworkRequest request(QUrl(service.restBaseUrl + QString::fromStdString(endpoint), QUrl::TolerantMode));
	request.setRawHeader("Client-ID", VekService::clientId);
	request.setRawHeader("Authorization", QByteArray("Vek ") + QByteArray::fromStdString(token));
	request.setTransferTimeout(int(service.requestTimeout.count()));
	// Every account's requests share this client: a cookie Vek set on one
	// account's reply would go out with the others' requests. None is kept,
	// none is sent; each request stands on its account's token alone.
	request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
	request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);

	QByteArray body;
	if (auto bytes = payload.find("bytes"); bytes != payload.end() && bytes->is_string()) {
		body = QByteArray::fromStdString(base64Decode(bytes->get_ref<const std::string &>()));
		request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/octet-stream"));
	} else if (auto text = payload.find("json"); text != payload.end() && text->is_string()) {
		body = QByteArray::fromStdString(text->get_ref<const std::string &>());
		request.setHeader(QNetworkRequest::ContentTypeHeader,
				  QByteArrayLiteral("application/json; charset=utf-8"));
	}

	QNetworkAccessManager &manager = networkManager();
	QNetworkReply *reply = nullptr;
	if (method == "GET")
		reply = manager.get(request);
	else if (method == "POST")
		reply = manager.post(request, body);
	else if (method == "PUT")
		reply = manager.put(request, body);
	else if (method == "DELETE")
		reply = manager.deleteResource(request);
	if (!reply)
		return;
	// The pointer is cleared before `destroyed` is emitted, so the abort below
	// finishes the reply without a report.
	connect(reply, &QNetworkReply::finished, this, [this, reply, nonce, alive = QPointer<QObject>(requester)] {
		const QByteArray response = reply->readAll();
		reply->deleteLater();
		if (alive)
			Q_EMIT apiResponse(nonce, response.toStdString());
	});
	connect(requester, &QObject::destroyed, reply, &QNetworkReply::abort);
}
