#pragma once

#include <memory>

#include "platform/http.h"

namespace pindle::curl {

// The HTTP transport over libcurl: one easy handle per transfer, TLS verification on,
// redirections followed, a connection that stays silent for a minute given up.
std::shared_ptr<http::Transport> makeTransport();

}  // namespace pindle::curl
