#include "support/release_server.h"

ReleaseServer::ReleaseServer(const std::string& zelk_version) : https_(ca_.Issue()) {
  https_.server().Get(kLauncherManifestPath, [this](const httplib::Request&, httplib::Response& response) {
    std::lock_guard lock(mutex_);
    response.set_content(launcher_manifest_, "text/plain");
  });
  https_.server().Get(kZelkManifestPath, [this](const httplib::Request&, httplib::Response& response) {
    std::lock_guard lock(mutex_);
    response.set_content(zelk_manifest_, "text/plain");
  });
  https_.server().Post(kAnalyticsPath, [this](const httplib::Request& request, httplib::Response& response) {
    {
      std::lock_guard lock(mutex_);
      analytics_bodies_.push_back(request.body);
    }
    response.status = 201;
    response.set_content(R"({"errors":false,"items":[]})", "application/json");
  });
  https_.server().Get(R"(/.*)", [this](const httplib::Request& request, httplib::Response& response) {
    std::filesystem::path file;
    httplib::Server::Handler handler;
    {
      std::lock_guard lock(mutex_);
      if (const auto custom = handlers_.find(request.path); custom != handlers_.end()) {
        handler = custom->second;
      }
    }
    if (handler) {
      handler(request, response);
      return;
    }
    {
      std::lock_guard lock(mutex_);
      const auto it = files_.find(request.path);
      if (it == files_.end()) {
        response.status = 404;
        return;
      }
      file = it->second;
    }
    response.set_content(ReadFile(file), "application/octet-stream");
  });
  https_.Start();
  launcher_manifest_ = std::string(kLauncherVersion) + "\n" + base_url() + "/files/ZelkLauncher.exe\n";
  zelk_manifest_ = zelk_version + "\n" + base_url() + "/files/Zelk.zip\n";
}

// Handlers may still run until the server has stopped; they use the members below.
ReleaseServer::~ReleaseServer() { https_.Stop(); }

void ReleaseServer::ServeFile(const std::string& path, std::filesystem::path file) {
  std::lock_guard lock(mutex_);
  files_[path] = std::move(file);
}

void ReleaseServer::ServeHandler(const std::string& path, httplib::Server::Handler handler) {
  std::lock_guard lock(mutex_);
  handlers_[path] = std::move(handler);
}

void ReleaseServer::SetLauncherManifest(std::string text) {
  std::lock_guard lock(mutex_);
  launcher_manifest_ = std::move(text);
}

void ReleaseServer::SetZelkManifest(std::string text) {
  std::lock_guard lock(mutex_);
  zelk_manifest_ = std::move(text);
}

std::map<std::string, std::string> ReleaseServer::Environment() const {
  return {{"ZELK_RELEASE_SERVER_URL", base_url()},
          {"ZELK_ANALYTICS_PROXY_URL", base_url()},
          {"CURL_CA_BUNDLE", ca_file().string()},
          {"ZELK_ANALYTICS_API_KEY", "test-key"}};
}

std::vector<std::string> ReleaseServer::AnalyticsBodies() const {
  std::lock_guard lock(mutex_);
  return analytics_bodies_;
}

size_t ReleaseServer::CountRequests(const std::string& path) const {
  size_t count = 0;
  for (const auto& request : https_.requests()) {
    if (request.method == "GET" && request.path == path) ++count;
  }
  return count;
}
