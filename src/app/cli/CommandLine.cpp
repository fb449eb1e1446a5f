#include "app/cli/CommandLine.h"

#include "app/cli/ExportVerb.h"

#include <cstdio>
#include <exception>
#include <string>

#include "app/cli/CaptionVerbs.h"
#include "app/cli/CaptureBackend.h"
#include "app/cli/LibraryVerbs.h"
#include "app/cli/RecordVerb.h"
#include "app/cli/RemoteVerbs.h"
#include "app/cli/ServiceVerbs.h"

namespace pindle::cli {
namespace {

// A message on one line: line breaks and other control characters become spaces.
std::string oneLine(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            c = ' ';
        }
    }
    return text;
}

}  // namespace

const std::vector<Verb>& verbs() {
    static const std::vector<Verb> all = {
        libraryVerb(),
        infoVerb(),
        deleteVerb(),
        {"record", "--region X,Y,W,H --seconds N [--capture-last-at S]... [--cursor] [--clicks]",
         "Capture a screen region (X,Y from the top-left of the primary display) for N seconds "
         "into the library, with a capture-last at each S; prints each new recording",
         runRecord},
        {"doctor", "",
         "Print the screen-capture backend and why it was chosen, the desktop portal's and "
         "PipeWire's versions and the displays",
         runDoctor},
        {"toggle", "",
         "Start or stop a capture in the running application (bind it to a key in the "
         "desktop's keyboard settings)",
         runToggle},
        {"capture-last", "", "Save the last seconds of the running application's capture",
         runCaptureLast},
        loginVerb(),
        logoutVerb(),
        uploadVerb(),
        {"export", kExportUsage,
         "Export a library recording or a movie as a GIF, MP4, JPEG or a batch of four files",
         runExportVerb},
        frameVerb(),
        captionVerb(),
        watermarkVerb(),
    };
    return all;
}

namespace {

// "NAME USAGE", or the name alone for a verb without arguments.
std::string synopsis(const Verb& verb) {
    return verb.usage.empty() ? verb.name : verb.name + " " + verb.usage;
}

}  // namespace

void printUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: pindle-capture [--version | --help]\n"
                 "       pindle-capture VERB [ARGS...]\n"
                 "       pindle-capture VERB --help\n\n"
                 "Without a verb the desktop application starts (it needs an X display).\n"
                 "\nVerbs:\n");
    for (const Verb& verb : verbs()) {
        std::fprintf(out, "  %s\n      %s\n", synopsis(verb).c_str(), verb.summary.c_str());
    }
}

std::string unexpectedArgument(const std::string& arg) {
    if (arg.size() > 1 && arg[0] == '-') {
        return "unknown option '" + arg + "'";
    }
    return "unexpected argument '" + arg + "'";
}

int runVerb(const std::vector<std::string>& args) {
    for (const Verb& verb : verbs()) {
        if (verb.name != args.at(0)) {
            continue;
        }
        if (args.size() == 2 && (args[1] == "--help" || args[1] == "-h")) {
            std::printf("Usage: pindle-capture %s\n\n%s\n", synopsis(verb).c_str(),
                        verb.summary.c_str());
            return 0;
        }
        // A failure a verb did not foresee (a std::filesystem::filesystem_error for a path
        // that cannot be examined, memory) ends it with a one-line report, not an abort.
        try {
            return verb.run(std::vector<std::string>(args.begin() + 1, args.end()));
        } catch (const std::exception& error) {
            std::fprintf(stderr, "pindle-capture %s: %s\n", verb.name.c_str(),
                         oneLine(error.what()).c_str());
        }
        return 1;
    }
    std::fprintf(stderr, "pindle-capture: unknown verb '%s'\n", args.at(0).c_str());
    printUsage(stderr);
    return 2;
}

}  // namespace pindle::cli
