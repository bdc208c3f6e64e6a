// A real HTTPS server on 127.0.0.1 with a certificate from a TestCa, for tests that talk to the
// release server or the analytics service. Tests register cpp-httplib handlers on server(); a
// handler may misbehave on purpose (sleep, stall, send a short body, drop the connection).
#pragma once

#include <httplib.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/test_ca.h"

struct RecordedRequest {
  std::string method;
  std::string path;
  std::vector<std::pair<std::string, std::string>> headers;  // in arrival order
  std::string body;
};

class HttpsServer {
 public:
  explicit HttpsServer(const ServerCertificate& certificate);
  ~HttpsServer();  // stops the server and waits for its thread

  // Register handlers before Start.
  httplib::Server& server() { return *server_; }
  // Serves `content` with status 200 for GET `path`.
  void ServeText(const std::string& path, std::string content);
  // Serves the file's bytes (read at request time) for GET `path`.
  void ServeFile(const std::string& path, std::filesystem::path file);

  // Binds a free port on 127.0.0.1 and starts serving on a thread of its own.
  void Start();
  void Stop();
  int port() const { return port_; }
  // "https://127.0.0.1:<port>"
  std::string base_url() const;

  // Every request that reached a handler, in order.
  std::vector<RecordedRequest> requests() const;
  size_t request_count() const;

 private:
  std::unique_ptr<httplib::SSLServer> server_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::vector<RecordedRequest> requests_;
  std::map<const httplib::Request*, size_t> in_flight_;
};
