// The release server and analytics service of a real-launcher test, on one HTTPS server on
// 127.0.0.1 with a test CA: it serves the two release manifests and any extra files, and accepts
// the analytics bulk upload with 201, keeping its bodies. Environment() points the launcher at it.
//
// The manifests may be changed at any time, also while the launcher runs.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "support/https_server.h"
#include "support/test_ca.h"

class ReleaseServer {
 public:
  static constexpr const char* kLauncherManifestPath = "/core/LauncherRelease.txt";
  static constexpr const char* kZelkManifestPath = "/core/ZelkRelease.txt";
  static constexpr const char* kAnalyticsPath = "/analytics/v1/indices/zelklauncher-session/_bulk";
  // The launcher's own version: a launcher manifest naming it leaves the launcher as it is.
  static constexpr const char* kLauncherVersion = "5";

  // Starts serving the launcher manifest "5\n<base>/files/ZelkLauncher.exe\n" and the
  // application manifest "<zelk_version>\n<base>/files/Zelk.zip\n".
  explicit ReleaseServer(const std::string& zelk_version = "1.0.0");
  ~ReleaseServer();

  // GET `path` answers with the file's bytes as they are at request time (status 200); paths
  // that are neither a manifest nor served answer 404.
  void ServeFile(const std::string& path, std::filesystem::path file);
  // GET `path` is answered by `handler`, which may misbehave on purpose (stall, send part of a
  // body, drop the connection); it wins over a file served at the same path.
  void ServeHandler(const std::string& path, httplib::Server::Handler handler);
  // base_url() + path
  std::string Url(const std::string& path) const { return base_url() + path; }

  // The whole manifest texts, served from the next request on.
  void SetLauncherManifest(std::string text);
  void SetZelkManifest(std::string text);

  // "https://127.0.0.1:<port>"
  std::string base_url() const { return https_.base_url(); }
  const std::filesystem::path& ca_file() const { return ca_.ca_file(); }
  // ZELK_RELEASE_SERVER_URL, ZELK_ANALYTICS_PROXY_URL (both this server), CURL_CA_BUNDLE (the test
  // CA), ZELK_ANALYTICS_API_KEY ("test-key").
  std::map<std::string, std::string> Environment() const;

  // Bodies of the analytics uploads received so far, in order.
  std::vector<std::string> AnalyticsBodies() const;
  // Every request received so far (method, path, headers, body).
  std::vector<RecordedRequest> requests() const { return https_.requests(); }
  // How many GET requests for `path` arrived.
  size_t CountRequests(const std::string& path) const;

 private:
  TestCa ca_;
  HttpsServer https_;
  mutable std::mutex mutex_;
  std::string launcher_manifest_;
  std::string zelk_manifest_;
  std::vector<std::string> analytics_bodies_;
  std::map<std::string, std::filesystem::path> files_;
  std::map<std::string, httplib::Server::Handler> handlers_;
};
