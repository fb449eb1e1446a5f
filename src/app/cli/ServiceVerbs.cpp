#include "app/cli/ServiceVerbs.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>

#include "app/cli/CommandLine.h"
#include "base/dispatch.h"
#include "base/log.h"
#include "library/RCUtilities.h"
#include "service/RCPINDLEAPIHelper.h"
#include "service/RCShareLinks.h"
#include "settings/RCUserSettings.h"

namespace pindle::cli {
namespace {

// The transport holds each request to its own time limits; this only bounds the wait.
constexpr auto kLongestWait = std::chrono::hours(12);
// The most of a reply quoted in an error.
constexpr size_t kQuotedReplyBytes = 200;

struct ServiceReply {
    std::optional<nlohmann::json> response;
    std::optional<HTTPError> error;
};

// Runs call and pumps the main queue until its completion has run.
ServiceReply waitFor(const std::function<void(ResponseCompletion)>& call) {
    ServiceReply reply;
    bool done = false;
    call([&](const std::optional<nlohmann::json>& response, const std::optional<HTTPError>& error) {
        reply.response = response;
        reply.error = error;
        done = true;
    });
    dispatch::runUntil([&] { return done; }, kLongestWait);
    return reply;
}

// "data" -> key as a text; empty when absent or not a text.
std::string dataText(const std::optional<nlohmann::json>& response, const char* key) {
    if (!response || !response->contains("data") || !(*response)["data"].is_object()) {
        return {};
    }
    const nlohmann::json& data = (*response)["data"];
    auto value = data.find(key);
    return value != data.end() && value->is_string() ? value->get<std::string>() : std::string();
}

std::string readPassword() {
    bool terminal = isatty(STDIN_FILENO) != 0;
    termios saved{};
    if (terminal) {
        std::fprintf(stderr, "Password: ");
        std::fflush(stderr);
        tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string password;
    std::getline(std::cin, password);
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::fprintf(stderr, "\n");
    }
    if (!password.empty() && password.back() == '\r') {
        password.pop_back();
    }
    return password;
}

// A bar on standard error while the body goes out, when that is a terminal.
class ProgressBar {
public:
    ProgressBar() : enabled_(isatty(STDERR_FILENO) != 0) {}

    void show(float fraction) {
        if (!enabled_) {
            return;
        }
        constexpr int kWidth = 40;
        int filled = static_cast<int>(fraction * kWidth + 0.5f);
        int percent = static_cast<int>(fraction * 100 + 0.5f);
        if (percent == lastPercent_) {
            return;
        }
        lastPercent_ = percent;
        std::string bar(static_cast<size_t>(filled), '#');
        bar.resize(kWidth, '.');
        std::fprintf(stderr, "\rUploading [%s] %3d%%", bar.c_str(), percent);
        std::fflush(stderr);
    }
    void finish() {
        if (enabled_ && lastPercent_ >= 0) {
            std::fprintf(stderr, "\n");
        }
    }

private:
    bool enabled_;
    int lastPercent_ = -1;
};

// Text that came from the server, fit for the terminal: names, addresses and messages are
// printed without the control characters and escape sequences a server could put in them.
std::string fromServer(const std::string& text) {
    return log::printableText(text);
}

int usageError(const char* verb, const std::string& message) {
    std::fprintf(stderr, "pindle-capture %s: %s\n", verb, message.c_str());
    return 2;
}

}  // namespace

int runLogin(const std::vector<std::string>& args) {
    std::string email;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--email" && i + 1 < args.size()) {
            email = args[++i];
        } else if (args[i] == "--email") {
            return usageError("login", "--email needs a value");
        } else {
            return usageError("login", unexpectedArgument(args[i]));
        }
    }
    if (email.empty()) {
        return usageError("login", "give the account's e-mail address with --email");
    }
    std::string password = readPassword();
    if (password.empty()) {
        std::fprintf(stderr, "pindle-capture login: no password given\n");
        return 1;
    }

    RCUserSettings& settings = RCUserSettings::getCurrentInstance();
    RCPINDLEAPIHelper& service = RCPINDLEAPIHelper::getCurrentInstance();
    ServiceReply reply =
        waitFor([&](ResponseCompletion done) { service.loginWithEmail(email, password, done); });
    if (reply.error) {
        std::fprintf(stderr, "pindle-capture login: sign-in failed: %s\n",
                     fromServer(reply.error->localizedDescription).c_str());
        return 1;
    }
    std::string token = dataText(reply.response, "access_token");
    if (token.empty()) {
        std::fprintf(stderr, "pindle-capture login: the e-mail address or password is incorrect\n");
        return 1;
    }

    bool done = false;
    std::optional<std::string> failure;
    settings.pindleLoginWithAccessToken(
        token, [&] { done = true; },
        [&](const std::string& reason) {
            failure = reason;
            done = true;
        });
    dispatch::runUntil([&] { return done; }, kLongestWait);
    dispatch::drainMainQueue();
    if (failure || !done) {
        std::fprintf(stderr, "pindle-capture login: the profile could not be read: %s\n",
                     fromServer(failure.value_or("no reply")).c_str());
        return 1;
    }
    std::printf("Signed in as %s\n", fromServer(settings.pindleUsername().value_or("")).c_str());
    return 0;
}

int runLogout(const std::vector<std::string>& args) {
    if (!args.empty()) {
        return usageError("logout", unexpectedArgument(args[0]));
    }
    RCUserSettings& settings = RCUserSettings::getCurrentInstance();
    if (!settings.isLoggedIntoPINDLE()) {
        std::printf("Not signed in.\n");
        return 0;
    }
    settings.pindleLogout();
    dispatch::drainMainQueue();
    std::printf("Signed out.\n");
    return 0;
}

int runUpload(const std::vector<std::string>& args) {
    std::optional<std::filesystem::path> file;
    bool isClip = false;
    bool staffOptions = false;
    RCPINDLEMetadata metadata;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size()) {
                return false;
            }
            into = args[++i];
            return true;
        };
        std::string rating;
        bool ok = true;
        if (arg == "--clip") {
            isClip = true;
        } else if (arg == "--private") {
            metadata.isHidden = true;
            staffOptions = true;
        } else if (arg == "--tags") {
            ok = value(metadata.tags);
        } else if (arg == "--source") {
            ok = value(metadata.sourceURLString);
        } else if (arg == "--title") {
            ok = value(metadata.title);
        } else if (arg == "--description") {
            ok = value(metadata.videoDescription);
        } else if (arg == "--username") {
            ok = value(metadata.username);
            staffOptions = true;
        } else if (arg == "--channel") {
            ok = value(metadata.channelID);
            staffOptions = true;
        } else if (arg == "--rating") {
            ok = value(rating);
            if (ok && !RCPINDLEMetadata::ratingFromString(rating, metadata.rating)) {
                return usageError("upload",
                                  "unknown rating '" + rating + "' (unrated, g, pg, pg-13 or r)");
            }
            staffOptions = true;
        } else if (!arg.empty() && arg[0] != '-' && !file) {
            file = arg;
        } else {
            return usageError("upload", unexpectedArgument(arg));
        }
        if (!ok) {
            return usageError("upload", arg + " needs a value");
        }
    }
    if (!file) {
        return usageError("upload", "name the file to upload");
    }
    // A name too long, a loop of links or a folder that cannot be searched is reported
    // here, in one line, before anything is sent.
    auto cannotRead = [&](const std::string& reason) {
        std::fprintf(stderr, "pindle-capture upload: cannot read %s: %s\n", file->c_str(),
                     reason.c_str());
        return 1;
    };
    std::error_code status;
    *file = std::filesystem::absolute(*file, status);
    if (status) {
        return cannotRead(status.message());
    }
    bool regular = std::filesystem::is_regular_file(*file, status);
    if (status) {
        return cannotRead(status.message());
    }
    if (!regular) {
        return cannotRead("not a file");
    }
    if (!std::ifstream(*file, std::ios::binary)) {
        return cannotRead(std::strerror(errno));
    }

    RCUserSettings& settings = RCUserSettings::getCurrentInstance();
    RCPINDLEAPIHelper& service = RCPINDLEAPIHelper::getCurrentInstance();
    // The upload window offers rating, privacy, user name and channel to staff only, and
    // title and description for clips only.
    if (!(settings.isLoggedIntoPINDLE() && settings.isPINDLEStaff())) {
        if (staffOptions) {
            std::fprintf(stderr,
                         "pindle-capture upload: --rating, --private, --username and --channel "
                         "are for staff accounts; ignored\n");
        }
        metadata.rating = RCPINDLEMetadata::Rating::Unrated;
        metadata.isHidden = false;
        metadata.username.clear();
        metadata.channelID.clear();
    }
    if (isClip) {
        if (metadata.title.empty()) {
            metadata.title = RCUtilities::makeTempFileName();
        }
    } else {
        metadata.title.clear();
        metadata.videoDescription.clear();
    }

    ProgressBar bar;
    ServiceReply reply = waitFor([&](ResponseCompletion done) {
        service.uploadFileAtURL(
            *file, metadata, isClip, [&](float fraction) { bar.show(fraction); }, done);
    });
    bar.finish();
    if (reply.error) {
        std::fprintf(stderr, "pindle-capture upload: upload failed: %s\n",
                     fromServer(reply.error->localizedDescription).c_str());
        return 1;
    }
    std::string id = dataText(reply.response, "id");
    if (id.empty()) {
        std::string quoted = reply.response ? reply.response->dump() : "none";
        if (quoted.size() > kQuotedReplyBytes) {
            quoted = quoted.substr(0, kQuotedReplyBytes) + "...";
        }
        std::fprintf(stderr, "pindle-capture upload: unexpected reply: %s\n",
                     fromServer(quoted).c_str());
        return 1;
    }
    std::printf("%s\n",
                fromServer(RCPINDLEUtilities::gifPageURLForGIFID(id, service.endpoints())).c_str());
    return 0;
}

Verb loginVerb() {
    return {"login", "--email E",
            "Sign in to the service (password on standard input) and keep the account", runLogin};
}

Verb logoutVerb() {
    return {"logout", "", "Sign out of the service", runLogout};
}

Verb uploadVerb() {
    return {"upload",
            "FILE [--clip] [--tags T] [--source URL] [--title T] [--description D] "
            "[--rating unrated|g|pg|pg-13|r] [--private] [--username U] [--channel C]",
            "Upload a GIF (or with --clip a video clip) and print its page address", runUpload};
}

}  // namespace pindle::cli
