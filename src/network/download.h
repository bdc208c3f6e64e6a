// Streaming a release-server resource into a file with a published percentage, and the proxy
// discovery that runs before every release-server transfer.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

// A transfer that receives no new byte for longer than this, counted from its start (so the
// connection and the wait for the first byte count too), is abandoned.
inline constexpr int64_t kDownloadStallLimitUs = 30'000'000;

class Sha256;

// The progress function's per-transfer record: one per Download call, on its stack.
struct DownloadProgress {
  CURL* handle = nullptr;       // queried for the transfer's elapsed time
  int64_t last_total_time = 0;  // microseconds, at the previous progress call
  int64_t last_received = 0;    // bytes, at the previous progress call
  int64_t stalled_time = 0;     // microseconds since the received count last grew
  std::atomic<int32_t>* percent = nullptr;  // the caller's target
};

// libcurl's transfer-information callback: `record` is the transfer's DownloadProgress.
using ProgressFunction = curl_xferinfo_callback;

// Publishes received / expected * 100 (single precision, truncated) into record->percent with a
// sequentially consistent store while the size is known (expected != 0), and leaves it alone
// otherwise. Returns 0 to go on; 28 (CURLE_OPERATION_TIMEDOUT) once the stall limit is passed,
// which makes libcurl end the transfer with CURLE_ABORTED_BY_CALLBACK (42, "Callback aborted");
// or the non-zero result of the elapsed-time query when that fails.
int OnDownloadProgress(void* record, curl_off_t expected, curl_off_t received,
                       curl_off_t upload_expected, curl_off_t uploaded);

// GETs `url` (UTF-8) into the file `destination` (created or truncated), calling `progress`
// (every caller passes OnDownloadProgress) with a DownloadProgress that publishes into
// `percent`. `percent` belongs to the caller and is never reset here: it changes only while a
// transfer of known size runs. Blocks until the transfer ends (no overall timeout; the stall rule
// bounds it); call it from a background task. Runs proxy discovery first (SetProxyIfNeeded).
// Only http:// and https:// URLs are transferred; certificates are always verified
// (ApplyTrustSettings).
// True for a transfer that succeeds with HTTP status 200. Otherwise false, and the file stays
// with whatever arrived (the server's error body after a non-200 status, a partial body after a
// failed transfer): removing it is the caller's business. Not logged: a destination that cannot
// be opened (no request is sent then) and a non-200 status. A failed transfer is logged with the
// transfer-error lines through the logger "download(Download())".
// With `digest`, every byte written to the file is also added to it (a signed release's check).
bool Download(const std::string& url, const std::string& destination, ProgressFunction progress,
              std::atomic<int32_t>* percent, Sha256* digest = nullptr);

// Looks up the proxy the system would use for `url` and sets it on `handle` (CURLOPT_PROXY, the
// text unchanged), or leaves the handle without one. Logs each step through the logger
// "download(SetProxyIfNeeded())". With SkipAutoProxy set it only logs that it skips, and the
// handle keeps libcurl's own default proxy behaviour. Never fails the transfer: a lookup error or
// a rejected proxy leaves the transfer going direct. The facts come from
// GetProxySettingsSource() (platform/proxy_settings.h); nothing is cached between calls.
void SetProxyIfNeeded(CURL* handle, const std::string& url);

// The choice among several proxies in a ";"-separated list: the list is split as a stream splits
// delimited lines (an empty piece at the front or between separators counts, a trailing
// separator adds none), pieces containing ".local" (case-sensitive) are dropped, and the first
// piece kept wins; empty when none is kept.
//   "a.local:80;b:80" -> "b:80"    ";b:80" -> ""    "a:80;" -> "a:80"    "A.LOCAL:80;b" -> "A.LOCAL:80"
std::string ChooseProxy(std::string_view proxy_list);
