// What every transfer of the launcher shares, the release-server transfers and the analytics
// upload alike: the trust settings and the two log lines written when a transfer fails.
#pragma once

#include <curl/curl.h>
#include <spdlog/logger.h>

// Certificate and host-name verification stay at libcurl's defaults (both on) for every
// transfer. A set, non-empty CURL_CA_BUNDLE environment variable names the CA file to trust
// instead of the system store (CURLOPT_CAINFO); libcurl itself ignores that variable. The
// transfer may only speak HTTP or HTTPS: a URL taken from a manifest cannot make the launcher
// read a local file (file://) or talk another protocol. Call it on each new handle before the
// transfer; the result is the first failure of setting an option, else CURLE_OK.
CURLcode ApplyTrustSettings(CURL* handle);

// The transfer-error log lines, at error level:
//   "libcurl result code: (<code>)"
//   the error buffer's text with a line break added unless it ends with one, or, when the buffer
//   is empty, curl_easy_strerror(code) followed by a line break.
// `error_buffer` is the CURL_ERROR_SIZE buffer registered with CURLOPT_ERRORBUFFER (may be null).
void LogTransferError(spdlog::logger& logger, CURLcode code, const char* error_buffer);
