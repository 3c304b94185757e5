#pragma once

#include <string>
#include <vector>

#include <QPointer>

// What the recording obs-browser stand-in was asked to do. The journal lives
// in obs-browser.so; hosts reach it through standin_browser_journal().
struct BrowserJournal {
	struct Call {
		int panel; // panel number in creation order, -1 for host calls
		std::string operation;
		std::string argument;
	};

	std::vector<Call> calls;
	std::vector<QPointer<QObject>> panels; // the panel widgets, in creation order
	bool initialized = false;              // what QCef::initialized reports
	bool createWidgetFails = false;        // create_widget hands back null
	int callsOffUiThread = 0;              // calls made on another thread than the application's

	std::vector<Call> callsOf(int panel) const
	{
		std::vector<Call> result;
		for (const Call &call : calls) {
			if (call.panel == panel)
				result.push_back(call);
		}
		return result;
	}
};

using BrowserJournalAccessor = BrowserJournal *(*)(void);
