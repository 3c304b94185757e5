#include "auth/IntegrationLogins.h"

#include <algorithm>

quint64 IntegrationLogins::start(const QString &platform, const QString &requestState)
{
	const quint64 id = nextAttemptId++;
	PendingIntegrationLogin &attempt = attempts[id];
	attempt.attemptId = id;
	attempt.platform = platform;
	attempt.requestState = requestState;
	return id;
}

void IntegrationLogins::list(quint64 attemptId, const QString &loginState)
{
	const auto found = attempts.find(attemptId);
	if (found == attempts.end())
		return;
	if (PendingIntegrationLogin *previous = listed(loginState))
		previous->loginState.clear();
	found->second.loginState = loginState;
}

PendingIntegrationLogin *IntegrationLogins::listed(const QString &loginState)
{
	if (loginState.isEmpty())
		return nullptr;
	for (auto &[id, attempt] : attempts) {
		if (attempt.loginState == loginState)
			return &attempt;
	}
	return nullptr;
}

std::vector<const PendingIntegrationLogin *> IntegrationLogins::listedAttempts() const
{
	std::vector<const PendingIntegrationLogin *> listedOnes;
	for (const auto &[id, attempt] : attempts) {
		if (attempt.isListed())
			listedOnes.push_back(&attempt);
	}
	std::sort(listedOnes.begin(), listedOnes.end(),
		  [](const PendingIntegrationLogin *a, const PendingIntegrationLogin *b) {
			  return a->loginState < b->loginState;
		  });
	return listedOnes;
}

int IntegrationLogins::listedCount() const
{
	return int(std::count_if(attempts.begin(), attempts.end(),
				 [](const auto &entry) { return entry.second.isListed(); }));
}

void IntegrationLogins::finish(quint64 attemptId)
{
	attempts.erase(attemptId);
}

template<typename Predicate> void IntegrationLogins::cancelWhere(Predicate predicate)
{
	for (auto it = attempts.begin(); it != attempts.end();) {
		if (predicate(it->second))
			it = attempts.erase(it);
		else
			++it;
	}
}

void IntegrationLogins::cancelPlatform(const QString &platform)
{
	cancelWhere([&platform](const PendingIntegrationLogin &attempt) { return attempt.platform == platform; });
}

void IntegrationLogins::cancelAll()
{
	cancelWhere([](const PendingIntegrationLogin &) { return true; });
}

void IntegrationLogins::refuseAccount(const QString &upid)
{
	for (auto &[id, attempt] : attempts)
		attempt.refusedUpids.insert(upid);
}

bool IntegrationLogins::refuses(quint64 attemptId, const QString &upid) const
{
	const auto found = attempts.find(attemptId);
	return found != attempts.end() && found->second.refusedUpids.contains(upid);
}

bool IntegrationLogins::isLive(quint64 attemptId) const
{
	return attempts.find(attemptId) != attempts.end();
}

bool IntegrationLogins::hasPendingWork() const
{
	return !attempts.empty();
}
