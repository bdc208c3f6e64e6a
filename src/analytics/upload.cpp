// The bulk upload: one HTTPS POST of newline-delimited records to
// <base>/analytics/v1/indices/<index>/_bulk, tried once with a 3-second limit.
#include <curl/curl.h>

#include <cstdlib>

#include "analytics/analytics_manager.h"
#include "network/transfer.h"

namespace {

constexpr long kTimeoutSeconds = 3;

// The variable's value when it is set, whatever its content; otherwise the fallback.
std::string EnvironmentOr(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : fallback;
}

size_t AppendResponse(char* data, size_t size, size_t count, void* response) {
  static_cast<std::string*>(response)->append(data, size * count);
  return size * count;
}

}  // namespace

std::string SerializeBulkBody(const std::vector<nlohmann::json>& records) {
  std::string body;
  for (const auto& record : records) {
    // A system error text in a legacy encoding must not cost the report: replace, never throw.
    body += record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    body += '\n';
  }
  return body;
}

void AnalyticsManager::SendRecords() {
  if (!PostBulk(SerializeBulkBody(records_))) logger_->error("Could not send analytics data!");
}

bool AnalyticsManager::PostBulk(const std::string& body) {
  CURL* curl = curl_easy_init();
  if (curl == nullptr) return false;

  const std::string base = EnvironmentOr("ZELK_ANALYTICS_PROXY_URL", ZELK_DEFAULT_ANALYTICS_BASE_URL);
  const std::string api_key = EnvironmentOr("ZELK_ANALYTICS_API_KEY", ZELK_DEFAULT_ANALYTICS_API_KEY);
  // An empty key leaves "ApiKey: " with nothing after the colon, which libcurl does not send.
  const std::string api_key_header = "ApiKey: " + api_key;
  // Plain concatenation: a base ending in "/" gives a doubled slash.
  const std::string url = base + "/analytics/v1/indices/" + index_name_ + "/_bulk";

  curl_slist* headers = nullptr;
  for (const char* header : {"Accept: application/json", "Content-Type: application/json",
                             "charset: utf-8", api_key_header.c_str()}) {
    if (curl_slist* appended = curl_slist_append(headers, header)) {
      headers = appended;
    } else {
      curl_slist_free_all(headers);
      curl_easy_cleanup(curl);
      return false;
    }
  }

  char error_buffer[CURL_ERROR_SIZE] = {};
  std::string response;
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_buffer);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, kTimeoutSeconds);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendResponse);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
  // The system's trust store, or CURL_CA_BUNDLE; HTTP and HTTPS only. No proxy discovery here.
  CURLcode result = ApplyTrustSettings(curl);

  bool accepted = false;
  if (result == CURLE_OK) result = curl_easy_perform(curl);
  if (result != CURLE_OK) {
    LogTransferError(*logger_, result, error_buffer);
  } else {
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    accepted = status == 200 || status == 201;
    if (!accepted) logger_->error("Unexpected response: {}", response);
  }
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return accepted;
}
