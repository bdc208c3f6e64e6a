// Download throughput against the curl tool: a 512 MiB file from the local HTTPS server,
// fetched alternately by Download (progress function on, proxy discovery as in a real run) and by
// `curl -o`, five times each. Prints both medians and their ratio (target: Download at least 0.95
// of curl's throughput).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <vector>

#include "network/download.h"
#include "support/https_server.h"
#include "support/run_command.h"
#include "support/scoped_environment.h"
#include "support/temp_folder.h"
#include "support/test_ca.h"

namespace {

constexpr size_t kFileSize = 512ull * 1024 * 1024;
constexpr int kRounds = 5;

void WriteBigFile(const std::filesystem::path& path) {
  std::ofstream out(path, std::ios::binary);
  std::vector<uint64_t> block(1024 * 1024 / sizeof(uint64_t));
  uint64_t state = 0x9E3779B97F4A7C15ull;
  for (size_t written = 0; written < kFileSize; written += block.size() * sizeof(uint64_t)) {
    for (auto& word : block) {  // xorshift64: incompressible enough, and fast
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      word = state;
    }
    out.write(reinterpret_cast<const char*>(block.data()),
              static_cast<std::streamsize>(block.size() * sizeof(uint64_t)));
  }
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

template <typename F>
double Seconds(F&& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  ScopedEnvironment environment;
  for (const char* name : kProxyEnvironmentVariables) environment.Unset(name);

  TempFolder folder;
  const auto source = folder / "Zelk.zip";
  const auto destination = folder / "downloaded.zip";
  WriteBigFile(source);

  TestCa ca;
  environment.Set("CURL_CA_BUNDLE", ca.ca_file().string());
  HttpsServer server(ca.Issue());
  server.server().Get("/Zelk.zip", [&](const httplib::Request&, httplib::Response& response) {
    auto file = std::make_shared<std::ifstream>(source, std::ios::binary);
    auto buffer = std::make_shared<std::vector<char>>(256 * 1024);
    response.set_content_provider(
        kFileSize, "application/octet-stream",
        [file, buffer](size_t offset, size_t length, httplib::DataSink& sink) {
          file->seekg(static_cast<std::streamoff>(offset));
          file->read(buffer->data(),
                     static_cast<std::streamsize>(std::min(length, buffer->size())));
          return sink.write(buffer->data(), static_cast<size_t>(file->gcount()));
        });
  });
  server.Start();
  const std::string url = server.base_url() + "/Zelk.zip";

  std::vector<double> ours, theirs;
  for (int round = 0; round < kRounds; ++round) {
    std::atomic<int32_t> percent = 0;
    bool ok = false;
    ours.push_back(Seconds([&] {
      ok = Download(url, destination.string(), OnDownloadProgress, &percent);
    }));
    if (!ok || std::filesystem::file_size(destination) != kFileSize || percent != 100) {
      std::fprintf(stderr, "Download failed in round %d\n", round + 1);
      return 1;
    }
    CommandResult curl;
    theirs.push_back(Seconds([&] {
      curl = RunCommand({"curl", "-sS", "-o", destination.string(), url}, {}, 600);
    }));
    if (curl.exit_code != 0 || std::filesystem::file_size(destination) != kFileSize) {
      std::fprintf(stderr, "curl failed in round %d: %s\n", round + 1, curl.output.c_str());
      return 1;
    }
  }

  const double mib = static_cast<double>(kFileSize) / (1024 * 1024);
  const double ours_median = Median(ours), theirs_median = Median(theirs);
  std::printf("Download of 512 MiB over local HTTPS, median of %d: %.2f s (%.0f MiB/s)\n", kRounds,
              ours_median, mib / ours_median);
  std::printf("curl -o of the same file, median of %d:        %.2f s (%.0f MiB/s)\n", kRounds,
              theirs_median, mib / theirs_median);
  std::printf("throughput ratio Download / curl: %.3f (target >= 0.95)\n",
              theirs_median / ours_median);
  return 0;
}
