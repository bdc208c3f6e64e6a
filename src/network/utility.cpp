#include "network/utility.h"

#include <curl/curl.h>

#include "network/download.h"
#include "network/transfer.h"
#include "shell/log.h"

namespace {

constexpr long kFetchTimeoutSeconds = 20;

struct FetchBody {
  std::string text;
  bool too_large = false;
};

size_t AppendToBody(char* data, size_t size, size_t count, void* user) {
  auto& body = *static_cast<FetchBody*>(user);
  const size_t bytes = size * count;
  if (bytes > kMaxFetchBodySize - body.text.size()) {
    body.too_large = true;
    return 0;  // anything but `bytes` ends the transfer with a write error
  }
  body.text.append(data, bytes);
  return bytes;
}

}  // namespace

std::string Fetch(const std::string& url) {
  const Logger logger = CreateLogger("utility(Fetch())");
  FetchBody body;

  CURL* handle = curl_easy_init();
  if (handle == nullptr) return {};

  char error_buffer[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error_buffer);
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, kFetchTimeoutSeconds);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, AppendToBody);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &body);
  ApplyTrustSettings(handle);

  SetProxyIfNeeded(handle, url);

  const CURLcode result = curl_easy_perform(handle);
  if (result != CURLE_OK) {
    LogTransferError(*logger, result, error_buffer);
    if (body.too_large) {
      logger->error("Response of {} is larger than {} bytes; not read", url, kMaxFetchBodySize);
    }
    curl_easy_cleanup(handle);
    return {};
  }

  long status = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(handle);
  if (status != 200) return {};
  return std::move(body.text);
}
