// The network row that takes the stall limit to run out (30 s): a server that sends the archive's
// headers and then nothing. Apart from the other network rows so that it can carry the slow label.
#include <atomic>
#include <thread>

#include "fault_matrix.h"

namespace fault_matrix {
namespace {

using namespace std::chrono_literals;

class NetworkStallFaultTest : public FaultRowTest {
 protected:
  ~NetworkStallFaultTest() override { stop_ = true; }
  std::atomic<bool> stop_{false};
};

TEST_F(NetworkStallFaultTest, StalledArchiveServerFailsTheDownload) {
  Row("network: stalled server (archive headers, then nothing)", "");
  auto server = MakeServer();
  server->server().Get(kArchivePath, [this](const httplib::Request&, httplib::Response& response) {
    response.set_content_provider(
        100'000, "application/zip", [this](size_t, size_t, httplib::DataSink&) {
          for (int i = 0; i < 900 && !stop_; ++i) std::this_thread::sleep_for(100ms);
          return false;
        });
  });
  server->Start();
  PublishManifest("2.0.0", server->base_url() + kArchivePath);
  RunExpecting({"UpdateZelkStep", "UpdateFailed",
                "Update failed: Download of new version failed, try again later",
                "[download(Download())] [error] libcurl result code: (42)", 0, false, "1.0.0"});
  stop_ = true;
}

}  // namespace
}  // namespace fault_matrix
