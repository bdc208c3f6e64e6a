#include "server.h"

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "bulk_body.h"
#include "local_ca.h"
#include "network/release_signature.h"
#include "record_store.h"
#include "stop_signal.h"
#include "tool_error.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxBulkBodySize = 16 * 1024 * 1024;

bool IsInside(const fs::path& root, const fs::path& path) {
  auto r = root.begin();
  auto p = path.begin();
  for (; r != root.end(); ++r, ++p) {
    if (p == path.end() || *r != *p) return false;
  }
  return true;
}

std::string ReadApiKeyFile(const fs::path& file) {
  std::ifstream stream(file);
  std::string key;
  std::getline(stream, key);
  return key;
}

// The key given, or the environment's, or the one this data folder made for itself.
std::string ChooseApiKey(const ServeOptions& options) {
  if (options.api_key) return *options.api_key;
  if (const char* key = std::getenv("ZELK_ANALYTICS_API_KEY"); key != nullptr && *key != '\0') {
    return key;
  }
  const fs::path file = options.data_folder / "api_key";
  if (fs::exists(file)) return ReadApiKeyFile(file);
  unsigned char random[24];
  if (RAND_bytes(random, sizeof random) != 1) throw ToolError("cannot make an API key");
  std::string key = EncodeBase64(std::string_view(reinterpret_cast<char*>(random), sizeof random));
  for (char& c : key) {
    if (c == '+' || c == '/') c = 'x';
  }
  const int descriptor = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (descriptor < 0) throw ToolError("cannot create " + file.string());
  const std::string line = key + "\n";
  const bool written = write(descriptor, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  close(descriptor);
  if (!written) throw ToolError("cannot write " + file.string());
  return key;
}

bool SameKey(const std::string& given, const std::string& expected) {
  return given.size() == expected.size() &&
         CRYPTO_memcmp(given.data(), expected.data(), given.size()) == 0;
}

std::string UrlHost(const std::string& address) {
  return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}

void Answer(httplib::Response& response, int status, const std::string& json) {
  response.status = status;
  response.set_content(json, "application/json");
}

std::string JsonError(const std::string& text) {
  return nlohmann::json{{"errors", true}, {"error", text}}.dump();
}

}  // namespace

bool IsLoopbackAddress(const std::string& address) {
  if (address == "localhost" || address == "::1") return true;
  in_addr ipv4{};
  return inet_pton(AF_INET, address.c_str(), &ipv4) == 1 && (ntohl(ipv4.s_addr) >> 24) == 127;
}

std::optional<fs::path> ResolveReleaseFile(const fs::path& canonical_root,
                                           const std::string& request_path) {
  if (request_path.empty() || request_path.front() != '/' ||
      request_path.find('\0') != std::string::npos) {
    return std::nullopt;
  }
  fs::path relative;
  size_t start = 1;
  while (start <= request_path.size()) {
    size_t end = request_path.find('/', start);
    if (end == std::string::npos) end = request_path.size();
    const std::string segment = request_path.substr(start, end - start);
    if (segment == "." || segment == "..") return std::nullopt;
    if (!segment.empty()) relative /= segment;
    start = end + 1;
  }
  if (relative.empty() || relative.filename().string().ends_with(".partial")) return std::nullopt;
  std::error_code error;
  const fs::path file = fs::canonical(canonical_root / relative, error);
  if (error || !IsInside(canonical_root, file) || !fs::is_regular_file(file, error)) {
    return std::nullopt;
  }
  return file;
}

int Serve(const ServeOptions& options, std::ostream& out) {
  if (!IsLoopbackAddress(options.address)) {
    throw ToolError("refusing to listen on " + options.address +
                    ": the release server listens on loopback addresses only");
  }
  if (options.port < 0 || options.port > 65535) throw ToolError("no such port");
  std::error_code error;
  const fs::path root = fs::canonical(options.release_folder, error);
  if (error || !fs::is_directory(root)) {
    throw ToolError("no release folder at " + options.release_folder.string());
  }
  fs::create_directories(options.data_folder);
  if (options.certificate.has_value() != options.certificate_key.has_value()) {
    throw ToolError("give both --cert and --cert-key, or neither");
  }
  std::optional<ServerTls> local_tls;
  if (!options.certificate) local_tls = EnsureLocalTls(options.data_folder, options.address);
  const fs::path certificate = options.certificate ? *options.certificate : local_tls->server_certificate;
  const fs::path certificate_key = options.certificate_key ? *options.certificate_key : local_tls->server_key;
  const std::string api_key = ChooseApiKey(options);
  if (api_key.empty()) throw ToolError("the API key is empty; the launcher would send none");

  RecordStore store(options.data_folder / "analytics.sqlite3");

  BlockStopSignals();
  httplib::SSLServer server(certificate.c_str(), certificate_key.c_str());
  if (!server.is_valid()) {
    throw ToolError("cannot use the certificate " + certificate.string() + " with its key " +
                    certificate_key.string());
  }
  server.set_payload_max_length(kMaxBulkBodySize);
  server.set_keep_alive_timeout(2);
  server.set_read_timeout(10);
  server.set_write_timeout(10);

  std::mutex out_mutex;
  server.set_logger([&](const httplib::Request& request, const httplib::Response& response) {
    std::lock_guard lock(out_mutex);
    out << UtcNowText() << ' ' << request.method << ' ' << request.path << ' ' << response.status
        << std::endl;
  });

  server.Get(R"(/.*)", [&](const httplib::Request& request, httplib::Response& response) {
    const std::optional<fs::path> file = ResolveReleaseFile(root, request.path);
    auto stream = file ? std::make_shared<std::ifstream>(*file, std::ios::binary) : nullptr;
    if (!stream || !*stream) {
      response.status = 404;
      response.set_content("Not found\n", "text/plain");
      return;
    }
    const auto size = static_cast<size_t>(fs::file_size(*file, error));
    if (error) {
      response.status = 404;
      return;
    }
    const char* type = file->extension() == ".txt" ? "text/plain" : "application/octet-stream";
    response.status = 200;
    response.set_content_provider(
        size, type, [stream](size_t offset, size_t length, httplib::DataSink& sink) {
          std::vector<char> buffer(std::min<size_t>(length, 64 * 1024));
          stream->seekg(static_cast<std::streamoff>(offset));
          stream->read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
          const std::streamsize read = stream->gcount();
          if (read <= 0) return false;  // the file shrank under us: end the answer short
          return sink.write(buffer.data(), static_cast<size_t>(read));
        });
  });

  server.Post(kAnalyticsBulkPath, [&](const httplib::Request& request, httplib::Response& response) {
    if (!SameKey(request.get_header_value("ApiKey"), api_key)) {
      Answer(response, 401, JsonError("wrong or missing ApiKey"));
      return;
    }
    std::string problem;
    const auto records = SplitBulkBody(request.body, problem);
    if (!records) {
      Answer(response, 400, JsonError("not newline-delimited JSON objects: " + problem));
      return;
    }
    // Committed before the answer: a 201 means the records are on disk.
    if (!store.StoreUpload(*records, UtcNowText())) {
      Answer(response, 500, JsonError("the records could not be stored"));
      return;
    }
    Answer(response, 201, nlohmann::json{{"errors", false}, {"stored", records->size()}}.dump());
  });

  const int port = options.port == 0 ? server.bind_to_any_port(options.address.c_str())
                                     : (server.bind_to_port(options.address.c_str(), options.port)
                                            ? options.port
                                            : -1);
  if (port <= 0) {
    throw ToolError("cannot listen on " + options.address + ":" + std::to_string(options.port));
  }
  const std::string url = "https://" + UrlHost(options.address) + ":" + std::to_string(port);
  {
    std::lock_guard lock(out_mutex);
    out << "Serving " << root.string() << " at " << url << "; analytics records go to "
        << (options.data_folder / "analytics.sqlite3").string() << "\n";
    out << "Point the launcher at this server with:\n";
    if (local_tls) out << "CURL_CA_BUNDLE=" << fs::absolute(local_tls->ca_certificate).string() << "\n";
    out << "ZELK_RELEASE_SERVER_URL=" << url << "\n";
    out << "ZELK_ANALYTICS_PROXY_URL=" << url << "\n";
    out << "ZELK_ANALYTICS_API_KEY=" << api_key << std::endl;
  }

  std::atomic<bool> listen_ended{false};
  int stop_signal = 0;
  {
    StopSignalWatch watch([&] {
      // A signal that comes before the server runs must still stop it.
      while (!server.is_running() && !listen_ended.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      server.stop();
    });
    // Returns once stopped and every request in progress has been answered.
    server.listen_after_bind();
    listen_ended.store(true);
    stop_signal = watch.signal();
  }
  std::lock_guard lock(out_mutex);
  out << "Stopped" << (stop_signal != 0 ? " on " + std::string(strsignal(stop_signal)) : "")
      << "; " << store.ReadAll().size() << " analytics records stored" << std::endl;
  return 0;
}
