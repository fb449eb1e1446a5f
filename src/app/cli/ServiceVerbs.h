#pragma once

#include <string>
#include <vector>

#include "app/cli/CommandLine.h"

// The command-line verbs that talk to the online service.
namespace pindle::cli {

// `login --email E`: signs in with the password read from standard input (without echo on a
// terminal), stores the token and the profile.
Verb loginVerb();
// `logout`: forgets the account.
Verb logoutVerb();
// `upload FILE ...`: sends the file as the upload window would and prints the GIF's page.
Verb uploadVerb();

int runLogin(const std::vector<std::string>& args);
int runLogout(const std::vector<std::string>& args);
int runUpload(const std::vector<std::string>& args);

}  // namespace pindle::cli
