// Small blocking requests to the release server.
#pragma once

#include <cstddef>
#include <string>

// Fetch never keeps more than this many body bytes: a larger response is abandoned.
inline constexpr size_t kMaxFetchBodySize = 1024 * 1024;

// GETs `url` (UTF-8) into memory and returns the body when the transfer succeeds with HTTP
// status 200; empty text otherwise, so an empty body and a failure look the same. Blocks for up
// to 20 seconds (connection included); call it from a background task. Runs proxy discovery
// first (SetProxyIfNeeded). Redirects are not followed; only http:// and https:// URLs are
// fetched, with certificates always verified (ApplyTrustSettings). A transfer failure is logged with the
// transfer-error lines through the logger "utility(Fetch())"; a non-200 status is not logged. A
// body over kMaxFetchBodySize aborts the transfer (a failure, logged) and gives empty text.
std::string Fetch(const std::string& url);
