#pragma once

#include <map>
#include <vector>

#include <QSet>
#include <QString>

// One attempt to link a platform account through Vek: from the request for
// Vek's login URL, through the browser's callback, to the code exchange and
// the identity inspection.
struct PendingIntegrationLogin {
	enum class Status {
		LoggingIn,   // waiting for the browser's callback
		Authorizing, // the callback came; exchanging its code
	};

	quint64 attemptId = 0;
	QString platform;     // upper case
	QString requestState; // sent to Vek with the login-URL request; echoed by the exchange
	QString loginState;   // "state" of Vek's login URL; empty while the attempt is not listed
	Status status = Status::LoggingIn;
	// Its code went to Vek, from the listener or as a redirect: Vek takes a
	// code once, so a repeat starts no second exchange.
	bool exchanging = false;
	// Accounts logged out while the attempt ran: it links none of them.
	QSet<QString> refusedUpids;

	// Listed: shown as pending, and its callback or redirect is taken.
	bool isListed() const { return !loginState.isEmpty(); }
};

// The integration logins in progress, one record per attempt.
class IntegrationLogins {
public:
	// A new attempt, not listed yet; its id.
	quint64 start(const QString &platform, const QString &requestState);
	// Lists the attempt under Vek's login state. An attempt listed under the
	// same state before is no longer listed.
	void list(quint64 attemptId, const QString &loginState);
	// The listed attempt with this login state, if any.
	PendingIntegrationLogin *listed(const QString &loginState);
	// Every listed attempt, in ascending order of login state.
	std::vector<const PendingIntegrationLogin *> listedAttempts() const;
	int listedCount() const;

	// Forgets the attempt.
	void finish(quint64 attemptId);
	// Cancels the platform's attempts: superseded by a newer login for the
	// platform or ended by the listener's time-out, they are forgotten at
	// once, and whatever they still receive finds them gone and changes
	// nothing. An attempt that waited for its callback gets none any more,
	// so keeping it until then would keep it for good.
	void cancelPlatform(const QString &platform);
	// Cancels every attempt.
	void cancelAll();
	// The account was logged out: no attempt under way may link it. Which
	// account an attempt links is known only once its identity comes.
	void refuseAccount(const QString &upid);
	bool refuses(quint64 attemptId, const QString &upid) const;

	// Started and neither finished nor cancelled.
	bool isLive(quint64 attemptId) const;
	// Something still needs the callback listener: a live attempt.
	bool hasPendingWork() const;
	size_t attemptCount() const { return attempts.size(); }

private:
	template<typename Predicate> void cancelWhere(Predicate predicate);

	std::map<quint64, PendingIntegrationLogin> attempts;
	quint64 nextAttemptId = 1;
};
