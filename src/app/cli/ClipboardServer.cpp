#include "app/cli/ClipboardServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QTimer>

#include <chrono>
#include <csignal>
#include <cstdlib>

#include "editor/ui/GIFClipboard.h"

namespace pindle::cli {
namespace {

constexpr const char* kReady = "ready\n";
// How long the caller waits for the serving process to own the clipboard.
constexpr int kStartTimeoutMs = 15000;

void removeServedFile(const std::filesystem::path& gif) {
    std::error_code error;
    std::filesystem::remove(gif, error);
    // The folder was made for this file alone.
    std::filesystem::remove(gif.parent_path(), error);
}

}  // namespace

std::string copyGIFToClipboard(const std::filesystem::path& gif) {
    if (std::getenv("DISPLAY") == nullptr) {
        removeServedFile(gif);
        return "no X display (DISPLAY is not set) to hold the clipboard";
    }
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) {
        removeServedFile(gif);
        return "cannot start the clipboard process";
    }
    // Everything the child needs is made before fork: between fork and exec it only calls
    // functions that are safe there.
    std::string self = "/proc/self/exe";
    std::string name = "pindle-capture";
    std::string verb = kServeClipboardVerb;
    std::string file = gif.string();
    char* childArgs[] = {name.data(), verb.data(), file.data(), nullptr};
    pid_t child = fork();
    if (child == 0) {
        setsid();
        dup2(ready[1], STDOUT_FILENO);
        int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, STDIN_FILENO);
            dup2(null, STDERR_FILENO);
        }
        execv(self.c_str(), childArgs);
        _exit(127);
    }
    close(ready[1]);
    if (child < 0) {
        close(ready[0]);
        removeServedFile(gif);
        return "cannot start the clipboard process";
    }
    pollfd wait{ready[0], POLLIN, 0};
    char answer[16] = {};
    ssize_t got = 0;
    if (poll(&wait, 1, kStartTimeoutMs) == 1) {
        got = read(ready[0], answer, sizeof answer - 1);
    }
    close(ready[0]);
    if (got <= 0 || std::string(answer) != kReady) {
        kill(child, SIGTERM);
        waitpid(child, nullptr, 0);
        removeServedFile(gif);
        return "the clipboard could not be taken on display " + std::string(std::getenv("DISPLAY"));
    }
    return {};
}

int runClipboardServer(int argc, char** argv, const std::filesystem::path& gif) {
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    QMimeData* data = ui::makeGIFMimeData(gif);
    if (data == nullptr) {
        removeServedFile(gif);
        return 1;
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setMimeData(data, QClipboard::Clipboard);
    if (!clipboard->ownsClipboard()) {
        removeServedFile(gif);
        return 1;
    }
    QObject::connect(clipboard, &QClipboard::changed, &app, [clipboard](QClipboard::Mode mode) {
        if (mode == QClipboard::Clipboard && !clipboard->ownsClipboard()) {
            QGuiApplication::quit();
        }
    });
    QTimer::singleShot(std::chrono::minutes(kClipboardServeMinutes), &app, &QGuiApplication::quit);
    // The caller waits for this line; nothing else is written here.
    if (write(STDOUT_FILENO, kReady, std::char_traits<char>::length(kReady)) < 0) {
        removeServedFile(gif);
        return 1;
    }
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    int status = QGuiApplication::exec();
    removeServedFile(gif);
    return status;
}

}  // namespace pindle::cli
