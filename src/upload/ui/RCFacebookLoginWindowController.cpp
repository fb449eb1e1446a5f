#include "upload/ui/RCFacebookLoginWindowController.h"

#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>

#include "base/log.h"
#include "service/RCFacebookAuthHelper.h"
#include "upload/RCLoginSheetModel.h"

namespace pindle::ui {
namespace {

// The page is a sign-in form, not a document: nothing in it can be selected or dragged.
const char* const kNoSelectionOrDragging = R"(
(function() {
    function install() {
        var style = document.createElement('style');
        style.textContent = '* { -webkit-user-select: none; user-select: none; } ' +
            'input, textarea { -webkit-user-select: text; user-select: text; }';
        (document.head || document.documentElement).appendChild(style);
    }
    if (document.readyState === 'loading') {
        document.addEventListener('DOMContentLoaded', install);
    } else {
        install();
    }
    document.addEventListener('dragstart', function(e) { e.preventDefault(); }, true);
    document.addEventListener('drop', function(e) { e.preventDefault(); }, true);
    document.addEventListener('dragover', function(e) { e.preventDefault(); }, true);
})();
)";

}  // namespace

RCFacebookLoginWindowController::RCFacebookLoginWindowController(
    const std::filesystem::path& storage, Authenticated authenticated)
    : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint),
      authenticated_(std::move(authenticated)) {
    setObjectName("facebookLoginWindow");
    // Closing it once the token is found must not end the application.
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle("Log in with Facebook");
    resize(520, 560);

    profile_ = new QWebEngineProfile(QStringLiteral("facebook"), this);
    QString folder = QString::fromStdString(storage.string());
    profile_->setPersistentStoragePath(folder);
    profile_->setCachePath(folder + "/cache");
    QWebEngineScript script;
    script.setName("noSelectionOrDragging");
    script.setSourceCode(kNoSelectionOrDragging);
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setRunsOnSubFrames(true);
    profile_->scripts()->insert(script);

    webView_ = new QWebEngineView(this);
    webView_->setPage(new QWebEnginePage(profile_, webView_));
    webView_->setContextMenuPolicy(Qt::NoContextMenu);
    webView_->setAcceptDrops(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(webView_);
    connect(webView_, &QWebEngineView::loadFinished, this,
            &RCFacebookLoginWindowController::pageLoaded);
}

RCFacebookLoginWindowController::~RCFacebookLoginWindowController() {
    // The page must go before its profile.
    delete webView_;
    webView_ = nullptr;
}

void RCFacebookLoginWindowController::promptForAuthentication() {
    QString address = QString::fromStdString(RCFacebookAuthHelper::getFacebookLoginURL());
    webView_->load(QUrl(address, QUrl::TolerantMode));
}

void RCFacebookLoginWindowController::pageLoaded(bool) {
    std::string address = webView_->url().toString(QUrl::FullyEncoded).toStdString();
    RCFacebookPageAction action = facebookPageAction(address);
    if (action.showWindow) {
        PINDLE_LOG_INFO("signin", "Facebook asks for the user's credentials");
        show();
        raise();
        activateWindow();
        return;
    }
    if (action.token && authenticated_) {
        PINDLE_LOG_INFO("signin", "Facebook sign-in returned a token");
        close();
        authenticated_(*action.token);
    }
}

}  // namespace pindle::ui
