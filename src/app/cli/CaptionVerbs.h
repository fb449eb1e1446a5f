#pragma once

#include "app/cli/CommandLine.h"

namespace pindle::cli {

// `caption ITEM add|list|remove|move`: the captions of a library recording.
Verb captionVerb();
// `watermark set FILE | unset | show`: the watermark of every export.
Verb watermarkVerb();
// `frame (ITEM|MOVIE) --at S --to FILE.png`: one output frame with its captions and
// watermark, as the export shows it at S seconds of the output.
Verb frameVerb();

}  // namespace pindle::cli
