#include "integration/VekRuntime.h"

#include "integration/VekConnectionWorker.h"
#include "obs/Log.h"

#include <unordered_set>

#include <QJsonObject>

VekRuntime::VekRuntime() : VekRuntime(VekService::fromEndpoints(ServiceEndpoints())) {}

VekRuntime::VekRuntime(VekService vekService, QObject *parent)
	: QObject(parent), service(std::move(vekService)), restClient(service, this)
{
	connect(&restClient, &VekRestClient::apiResponse, this, &VekRuntime::apiResponse);
}

VekRuntime::~VekRuntime()
{
	stop();
}

VekConnectionWorker *VekRuntime::worker(const std::string &upid) const
{
	const auto it = workers.find(upid);
	return it == workers.end() ? nullptr : it->second;
}

VekConnectionWorker *VekRuntime::createWorker(const std::string &platform, const std::string &token,
					      const std::string &upid, const std::string &username)
{
	auto *worker = new VekConnectionWorker(platform, token, upid, username, service, this);
	connect(worker, &VekConnectionWorker::rawEvent, this, &VekRuntime::rawEvent);
	// In this order: the pages hear of a logout before the account is dropped.
	connect(worker, &VekConnectionWorker::loggedOut, this, &VekRuntime::loggedOut);
	connect(worker, &VekConnectionWorker::loggedOut, this, &VekRuntime::integrationLoggedOut);
	return worker;
}

void VekRuntime::dismiss(VekConnectionWorker *worker)
{
	worker->retire();
	worker->deleteLater();
}

void VekRuntime::syncIntegrations(QJsonArray snapshot)
{
	std::unordered_set<std::string> seen;
	for (const QJsonValue &value : snapshot) {
		if (!value.isObject())
			continue;
		const QJsonObject entry = value.toObject();
		const std::string upid = entry.value(QStringLiteral("upid")).toString().toStdString();
		const std::string token = entry.value(QStringLiteral("token")).toString().toStdString();
		if (upid.empty() || token.empty())
			continue;
		seen.insert(upid);
		const std::string platform = entry.value(QStringLiteral("platform")).toString().toStdString();
		const std::string username = entry.value(QStringLiteral("username")).toString().toStdString();

		const auto found = workers.find(upid);
		if (found == workers.end()) {
			logInfo("Vek worker create platform=%s upid=%s", platform.c_str(), upid.c_str());
			VekConnectionWorker *worker = createWorker(platform, token, upid, username);
			workers.emplace(upid, worker);
			worker->openConnection();
			continue;
		}
		VekConnectionWorker *worker = found->second;
		const bool tokenChanged = worker->currentToken() != token;
		worker->setToken(token);
		worker->setUsername(username);
		if (tokenChanged) {
			worker->closeConnection();
			worker->openConnection();
		}
	}

	for (auto it = workers.begin(); it != workers.end();) {
		if (seen.count(it->first)) {
			++it;
			continue;
		}
		logInfo("Vek worker remove upid=%s", it->first.c_str());
		dismiss(it->second);
		it = workers.erase(it);
	}
}

void VekRuntime::handleProxyRequest(const std::string &upid, const nlohmann::json &payload)
{
	// The account's own token; an account without a worker gets nothing sent.
	if (VekConnectionWorker *target = worker(upid))
		restClient.send(payload, target->currentToken(), target);
}

void VekRuntime::handleProxyPassthrough(const std::string &upid, const nlohmann::json &payload)
{
	if (VekConnectionWorker *target = worker(upid))
		target->sendJson(payload);
}

void VekRuntime::stop()
{
	for (const auto &[upid, worker] : workers)
		dismiss(worker);
	workers.clear();
}
