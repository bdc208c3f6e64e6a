// `zelk-release serve`: the release server and the analytics service of a launcher, on one HTTPS
// port of a loopback address.
//
//   GET  /<path>   the file <release folder>/<path>: 200 with its bytes and Content-Length, 404
//                  for anything else (a folder, a missing file, a path leading out of the folder,
//                  a file still being written)
//   POST /analytics/v1/indices/zelklauncher-session/_bulk
//                  the launcher's report: 401 unless the ApiKey header is the server's key, 400
//                  unless the body is newline-delimited JSON objects, else 201 once every record
//                  is committed to <data folder>/analytics.sqlite3
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

inline constexpr const char* kAnalyticsBulkPath = "/analytics/v1/indices/zelklauncher-session/_bulk";

struct ServeOptions {
  std::filesystem::path release_folder;
  std::filesystem::path data_folder;
  std::string address = "127.0.0.1";  // a loopback address or "localhost"
  int port = 0;                       // 0: any free port
  std::optional<std::string> api_key; // else ZELK_ANALYTICS_API_KEY, else <data>/api_key (made once)
  std::optional<std::filesystem::path> certificate;  // with certificate_key; else a local CA
  std::optional<std::filesystem::path> certificate_key;
};

// True for 127.0.0.0/8, ::1 and "localhost".
bool IsLoopbackAddress(const std::string& address);

// The file a GET of `request_path` (already percent-decoded) answers with: inside
// `canonical_root` after every link is resolved, a regular file, not a ".partial" one.
std::optional<std::filesystem::path> ResolveReleaseFile(const std::filesystem::path& canonical_root,
                                                        const std::string& request_path);

// Serves until SIGINT or SIGTERM, then finishes the requests in progress and returns 0. Writes
// the values for the launcher's environment to `out` once it listens:
//   CURL_CA_BUNDLE=...            (only with the local CA)
//   ZELK_RELEASE_SERVER_URL=https://127.0.0.1:<port>
//   ZELK_ANALYTICS_PROXY_URL=https://127.0.0.1:<port>
//   ZELK_ANALYTICS_API_KEY=...
// and one line per request after that. Throws ToolError when it cannot start.
int Serve(const ServeOptions& options, std::ostream& out);
