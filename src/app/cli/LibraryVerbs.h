#pragma once

#include "app/cli/CommandLine.h"

namespace pindle::cli {

// `library`: lists the recordings of the store, newest first, as the library window shows
// them.
Verb libraryVerb();
// `info MOVIE`: what a recording made from the movie would show, edited values included.
Verb infoVerb();
// `delete ITEM`: removes a library recording and its movie.
Verb deleteVerb();

}  // namespace pindle::cli
