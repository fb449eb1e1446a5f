#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace pindle::cli {

// A command-line verb: `pindle-capture <name> ARGS...`. It runs without a window, prints
// its report on standard output and returns the process exit status.
struct Verb {
    std::string name;
    std::string usage;    // arguments, as shown by --help
    std::string summary;  // one line
    std::function<int(const std::vector<std::string>& args)> run;
};

const std::vector<Verb>& verbs();

// Runs the verb named by args[0]; 2 with a usage line for an unknown verb.
int runVerb(const std::vector<std::string>& args);

void printUsage(std::FILE* out);

// What a verb says of an argument it does not take: "unknown option '--x'" for an option,
// "unexpected argument 'x'" otherwise.
std::string unexpectedArgument(const std::string& arg);

}  // namespace pindle::cli
