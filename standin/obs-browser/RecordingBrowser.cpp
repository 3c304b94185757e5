// The test flavour of the obs-browser stand-in: a libobs module named
// "obs-browser" whose panels record every call instead of rendering.

#include "BrowserJournal.h"
#include "docks/BrowserPanel.h"

#include <QApplication>
#include <QLabel>
#include <QThread>
#include <QVBoxLayout>

#include <obs-module.h>

OBS_DECLARE_MODULE()

namespace {

BrowserJournal journal;

void record(int panel, const char *operation, std::string argument = {})
{
	// obs-browser's panels are widgets: OBS's UI thread is the only one that may use them.
	if (qApp && QThread::currentThread() != qApp->thread())
		++journal.callsOffUiThread;
	journal.calls.push_back({panel, operation, std::move(argument)});
}

class RecordingPanel : public QCefWidget {
public:
	RecordingPanel(QWidget *parent, int panelNumber, const std::string &url)
		: QCefWidget(parent), number(panelNumber), page(new QLabel(this))
	{
		record(number, "create_widget", url);
		// Shows the page address, so a person running the host sees where it points.
		page->setWordWrap(true);
		page->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
		page->setTextInteractionFlags(Qt::TextSelectableByMouse);
		page->setAlignment(Qt::AlignTop | Qt::AlignLeft);
		auto *layout = new QVBoxLayout(this);
		layout->addWidget(page);
		showUrl(url);
	}
	~RecordingPanel() override { record(number, "destroyed"); }

	void setURL(const std::string &url) override
	{
		record(number, "setURL", url);
		showUrl(url);
	}
	void setStartupScript(const std::string &script) override { record(number, "setStartupScript", script); }
	void allowAllPopups(bool allow) override { record(number, "allowAllPopups", allow ? "true" : "false"); }
	void closeBrowser() override { record(number, "closeBrowser"); }
	void reloadPage() override { record(number, "reloadPage"); }
	bool zoomPage(int direction) override
	{
		record(number, "zoomPage", std::to_string(direction));
		return true;
	}
	void executeJavaScript(const std::string &script) override { record(number, "executeJavaScript", script); }

private:
	void showUrl(const std::string &url)
	{
		page->setText(QStringLiteral("Recording browser panel %1\n\n%2")
				      .arg(number)
				      .arg(QString::fromStdString(url)));
	}

	int number;
	QLabel *page;
};

class RecordingCef : public QCef {
public:
	RecordingCef() { record(-1, "obs_browser_create_qcef"); }
	~RecordingCef() override { record(-1, "~QCef"); }

	bool init_browser(void) override
	{
		record(-1, "init_browser");
		journal.initialized = true;
		return true;
	}
	bool initialized(void) override
	{
		record(-1, "initialized");
		return journal.initialized;
	}
	bool wait_for_browser_init(void) override
	{
		record(-1, "wait_for_browser_init");
		return journal.initialized;
	}
	QCefWidget *create_widget(QWidget *parent, const std::string &url, QCefCookieManager *) override
	{
		if (journal.createWidgetFails) {
			record(-1, "create_widget failed", url);
			return nullptr;
		}
		auto *panel = new RecordingPanel(parent, int(journal.panels.size()), url);
		journal.panels.emplace_back(panel);
		return panel;
	}
	QCefCookieManager *create_cookie_manager(const std::string &storage_path, bool) override
	{
		record(-1, "create_cookie_manager", storage_path);
		return nullptr;
	}
	BPtr<char> get_cookie_path(const std::string &storage_path) override
	{
		record(-1, "get_cookie_path", storage_path);
		return BPtr<char>(bstrdup(storage_path.c_str()));
	}
	void add_popup_whitelist_url(const std::string &url, QObject *) override
	{
		record(-1, "add_popup_whitelist_url", url);
	}
	void add_force_popup_url(const std::string &url, QObject *) override { record(-1, "add_force_popup_url", url); }
};

} // namespace

bool obs_module_load(void)
{
	return true;
}

MODULE_EXPORT QCef *obs_browser_create_qcef(void)
{
	return new RecordingCef();
}

MODULE_EXPORT BrowserJournal *standin_browser_journal(void)
{
	return &journal;
}
