#include "network/download.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "network/release_signature.h"
#include "network/transfer.h"
#include "platform/proxy_settings.h"
#include "shell/log.h"
#include "shell/options.h"

namespace {

size_t WriteToFile(char* data, size_t size, size_t count, void* user) {
  // A short count (a full disk) makes libcurl end the transfer with its write error.
  return std::fwrite(data, 1, size * count, static_cast<std::FILE*>(user));
}

struct HashingFile {
  std::FILE* file;
  Sha256* digest;
};

// WriteToFile, and the written bytes go into the digest.
size_t WriteToFileHashing(char* data, size_t size, size_t count, void* user) {
  auto& target = *static_cast<HashingFile*>(user);
  const size_t written = std::fwrite(data, 1, size * count, target.file);
  target.digest->Add(data, written);
  return written;
}

}  // namespace

int OnDownloadProgress(void* record, curl_off_t expected, curl_off_t received, curl_off_t,
                       curl_off_t) {
  auto& progress = *static_cast<DownloadProgress*>(record);
  curl_off_t elapsed = 0;
  if (const CURLcode result = curl_easy_getinfo(progress.handle, CURLINFO_TOTAL_TIME_T, &elapsed);
      result != CURLE_OK) {
    return result;
  }

  const int64_t growth = received - progress.last_received;
  const int64_t time_passed = elapsed - progress.last_total_time;
  progress.last_received = received;
  progress.last_total_time = elapsed;

  if (expected != 0 && progress.percent != nullptr) {
    const float percent = static_cast<float>(received) / static_cast<float>(expected) * 100.0f;
    // Clamped only so that the conversion is defined; 99.9 % reads 99.
    progress.percent->store(static_cast<int32_t>(std::clamp(percent, 0.0f, 100.0f)),
                            std::memory_order_seq_cst);
  }

  if (growth == 0) {
    progress.stalled_time += time_passed;
    if (progress.stalled_time > kDownloadStallLimitUs) return CURLE_OPERATION_TIMEDOUT;
  } else {
    progress.stalled_time = 0;
  }
  return 0;
}

bool Download(const std::string& url, const std::string& destination, ProgressFunction progress,
              std::atomic<int32_t>* percent, Sha256* digest) {
  const Logger logger = CreateLogger("download(Download())");

  CURL* handle = curl_easy_init();
  if (handle == nullptr) return false;

  DownloadProgress record{handle, 0, 0, 0, percent};

  std::FILE* file = std::fopen(destination.c_str(), "wb");
  if (file == nullptr) {
    curl_easy_cleanup(handle);
    return false;
  }

  char error_buffer[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error_buffer);
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  HashingFile hashing_file{file, digest};
  if (digest == nullptr) {
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, WriteToFile);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, file);
  } else {
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, WriteToFileHashing);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &hashing_file);
  }
  curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, progress);
  curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &record);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  ApplyTrustSettings(handle);

  SetProxyIfNeeded(handle, url);

  bool succeeded = false;
  const CURLcode result = curl_easy_perform(handle);
  if (result != CURLE_OK) {
    LogTransferError(*logger, result, error_buffer);
  } else {
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    succeeded = status == 200;
  }

  curl_easy_cleanup(handle);
  std::fclose(file);
  return succeeded;
}

std::string ChooseProxy(std::string_view proxy_list) {
  // std::getline's splitting: each ";" ends a piece; what follows the last one is a piece only
  // when it is not empty.
  size_t start = 0;
  while (start < proxy_list.size()) {
    const size_t end = std::min(proxy_list.find(';', start), proxy_list.size());
    const std::string_view piece = proxy_list.substr(start, end - start);
    if (piece.find(".local") == std::string_view::npos) return std::string(piece);
    start = end + 1;
  }
  return {};
}

void SetProxyIfNeeded(CURL* handle, const std::string& url) {
  const Logger logger = CreateLogger("download(SetProxyIfNeeded())");
  if (SkipAutoProxy) {
    logger->info("Skipping auto proxy checking due to command line argument");
    return;
  }

  std::string error;
  const std::unique_ptr<ProxyLookup> lookup = GetProxySettingsSource().Open(error);
  if (lookup == nullptr) {
    logger->error("Failed to use WinHttpOpen. Skipping proxy step. Error: {}", error);
    return;
  }

  ProxySettings settings;
  bool query = false;
  std::optional<std::string> script_url;
  if (lookup->ReadUserSettings(url, settings, error)) {
    script_url = settings.script_url;
    query = script_url.has_value() || settings.auto_detect;
  } else {
    logger->error("Failed to check for IE proxy configuration. Error: {}", error);
    settings = ProxySettings{};  // no static proxy is known
    query = true;
  }

  std::string proxy;
  if (query) {
    const AutoProxyAnswer answer = lookup->QueryProxyForUrl(url, script_url);
    if (answer.succeeded && answer.proxy.has_value()) {
      proxy = *answer.proxy;
      logger->info("Proxy auto-detected: {}", proxy);
    } else if (answer.succeeded) {
      logger->error("Received a NULL proxy back from the Windows API when auto-detecting");
    }
  }

  if (proxy.empty()) {
    logger->info("Proxy auto-detection failed. Checking IE settings for proxy information");
    if (settings.proxy.has_value()) proxy = *settings.proxy;
  }

  if (!proxy.empty() && proxy.find(';') != std::string::npos) {
    logger->info("Multiple proxies found. Attempting to choose one");
    proxy = ChooseProxy(proxy);
  } else {
    logger->info("Did not find multiple proxies");
  }

  if (proxy.empty()) {
    logger->info("No proxy was found");
    return;
  }
  logger->info("Proxy was found and set");
  if (const CURLcode result = curl_easy_setopt(handle, CURLOPT_PROXY, proxy.c_str());
      result != CURLE_OK) {
    logger->error("Failed to set proxy for proxy: {}. Reason: {}\n", proxy,
                  curl_easy_strerror(result));
    // An empty proxy text makes libcurl go direct (a null one would bring back its environment
    // defaults, which may name the very proxy that was rejected).
    curl_easy_setopt(handle, CURLOPT_PROXY, "");
  }
}
