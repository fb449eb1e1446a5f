#pragma once

#include <memory>

#include "platform/http.h"

namespace pindle::curl {

// The HTTP transport over libcurl: one easy handle per transfer, TLS verification on,
// redirections followed for plain reads only, each request's size and time limits held.
std::shared_ptr<http::Transport> makeTransport();

}  // namespace pindle::curl
