#include "network/transfer.h"

#include <cstdlib>
#include <string>

CURLcode ApplyTrustSettings(CURL* handle) {
  CURLcode result = curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  const char* bundle = std::getenv("CURL_CA_BUNDLE");
  if (bundle != nullptr && *bundle != '\0') {
    const CURLcode bundle_result = curl_easy_setopt(handle, CURLOPT_CAINFO, bundle);
    if (result == CURLE_OK) result = bundle_result;
  }
  return result;
}

void LogTransferError(spdlog::logger& logger, CURLcode code, const char* error_buffer) {
  logger.error("libcurl result code: ({})", static_cast<int>(code));
  if (error_buffer != nullptr && *error_buffer != '\0') {
    std::string text = error_buffer;
    if (text.back() != '\n') text += '\n';
    logger.error("{}", text);
  } else {
    logger.error("{}\n", curl_easy_strerror(code));
  }
}
