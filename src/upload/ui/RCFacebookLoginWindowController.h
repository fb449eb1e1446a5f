#pragma once

#include <QPointer>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <string>

class QWebEngineProfile;
class QWebEngineView;

namespace pindle::ui {

// Facebook's sign-in page in a web view. The window stays hidden while Facebook signs the
// user in by itself, and shows only when the page asks for the user's credentials ("login.php"
// in its address). Every page that finishes loading is searched for "access_token" in its
// address's fragment; once found, authenticated is called with it and the window closes.
//
// The web view's cookies live under storage, so a Facebook sign-in stays valid between runs.
class RCFacebookLoginWindowController : public QWidget {
    Q_OBJECT

public:
    using Authenticated = std::function<void(const std::string& facebookToken)>;

    RCFacebookLoginWindowController(const std::filesystem::path& storage,
                                    Authenticated authenticated);
    ~RCFacebookLoginWindowController() override;

    // Loads the authorisation address without showing the window.
    void promptForAuthentication();

    QWebEngineView* webView() const { return webView_; }

private:
    void pageLoaded(bool ok);

    Authenticated authenticated_;
    QWebEngineProfile* profile_ = nullptr;
    QWebEngineView* webView_ = nullptr;
};

}  // namespace pindle::ui
