#include "support/https_server.h"

#include <stdexcept>

HttpsServer::HttpsServer(const ServerCertificate& certificate)
    : server_(std::make_unique<httplib::SSLServer>(certificate.certificate_file.c_str(),
                                                   certificate.key_file.c_str())) {
  if (!server_->is_valid()) throw std::runtime_error("HTTPS test server: invalid certificate");
  // A request is recorded when it arrives (so that a handler that never answers still counts);
  // its body, read only by the routing, is filled in once the handler has run.
  server_->set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
    RecordedRequest recorded{request.method, request.path, {}, {}};
    for (const auto& header : request.headers) recorded.headers.push_back(header);
    std::lock_guard lock(mutex_);
    in_flight_[&request] = requests_.size();
    requests_.push_back(std::move(recorded));
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server_->set_post_routing_handler([this](const httplib::Request& request, httplib::Response&) {
    std::lock_guard lock(mutex_);
    if (auto it = in_flight_.find(&request); it != in_flight_.end()) {
      requests_[it->second].body = request.body;
      in_flight_.erase(it);
    }
  });
}

HttpsServer::~HttpsServer() { Stop(); }

void HttpsServer::ServeText(const std::string& path, std::string content) {
  server_->Get(path, [content](const httplib::Request&, httplib::Response& response) {
    response.set_content(content, "text/plain");
  });
}

void HttpsServer::ServeFile(const std::string& path, std::filesystem::path file) {
  server_->Get(path, [file](const httplib::Request&, httplib::Response& response) {
    response.set_content(ReadFile(file), "application/octet-stream");
  });
}

void HttpsServer::Start() {
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("HTTPS test server: cannot bind");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void HttpsServer::Stop() {
  if (!thread_.joinable()) return;
  server_->stop();
  thread_.join();
}

std::string HttpsServer::base_url() const { return "https://127.0.0.1:" + std::to_string(port_); }

std::vector<RecordedRequest> HttpsServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

size_t HttpsServer::request_count() const {
  std::lock_guard lock(mutex_);
  return requests_.size();
}
