#include "platform/desktop.h"

#include <spawn.h>
#include <sys/wait.h>

#include <mutex>

#include "base/log.h"

extern char** environ;

namespace pindle::desktop {
namespace {

std::mutex gMutex;  // guards gOpener
std::function<bool(const std::string&)> gOpener;

bool openWithXdgOpen(const std::string& url) {
    const char* argv[] = {"xdg-open", url.c_str(), nullptr};
    pid_t pid = 0;
    int status =
        posix_spawnp(&pid, "xdg-open", nullptr, nullptr, const_cast<char* const*>(argv), environ);
    if (status != 0) {
        PINDLE_LOG_WARNING("desktop", "cannot start xdg-open for %s (error %d)", url.c_str(),
                           status);
        return false;
    }
    int exitStatus = 0;
    waitpid(pid, &exitStatus, 0);
    return WIFEXITED(exitStatus) && WEXITSTATUS(exitStatus) == 0;
}

}  // namespace

bool openURL(const std::string& url) {
    std::function<bool(const std::string&)> opener;
    {
        std::lock_guard lock(gMutex);
        opener = gOpener;
    }
    return opener ? opener(url) : openWithXdgOpen(url);
}

void setURLOpener(std::function<bool(const std::string&)> opener) {
    std::lock_guard lock(gMutex);
    gOpener = std::move(opener);
}

}  // namespace pindle::desktop
