// Network faults: the release server down, dropping, answering with errors, redirecting,
// trickling, cutting bodies short, resetting the archive's connection part way, and refused
// TLS. A manifest fault ends at the self-update failure screen (or, for the application
// manifest, in a run without an update); an archive fault ends at the download failure screen
// with the installed application untouched.
#include <sys/socket.h>

#include <functional>
#include <thread>

#include "fault_matrix.h"

namespace fault_matrix {
namespace {

using namespace std::chrono_literals;

const Outcome kLauncherManifestUnavailable{"SelfUpdateStep", "UpdateFailed", "Update Failed!",
                                           "Update info for launcher not available", 0, false,
                                           "1.0.0"};
Outcome DownloadFailed(std::string log) {
  return {"UpdateZelkStep", "UpdateFailed",
          "Update failed: Download of new version failed, try again later", std::move(log), 0,
          false, "1.0.0"};
}

class NetworkFaultTest;

struct NetworkRow {
  std::string fault;
  // Sets the fault up; returns the launcher's extra environment.
  std::function<std::map<std::string, std::string>(NetworkFaultTest&)> setup;
  Outcome expected;
};

void PrintTo(const NetworkRow& row, std::ostream* out) { *out << row.fault; }

class NetworkFaultTest : public FaultRowTest, public testing::WithParamInterface<NetworkRow> {
 public:
  using FaultRowTest::MakeServer;
  using FaultRowTest::PackRelease;
  using LauncherTest::release_server;

  // A trusted server of this test that answers both manifests as the release server does and
  // GET `path` with `handler`; `reset` makes every connection end with a TCP reset.
  std::string StartFaultServer(const std::string& path, httplib::Server::Handler handler,
                               bool reset = false) {
    server_ = MakeServer();
    if (reset) {
      server_->server().set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        linger abort{1, 0};
        setsockopt(sock, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
      });
    }
    server_->server().Get(path, std::move(handler));
    server_->ServeText("/core/LauncherRelease.txt", "5\n");
    server_->ServeText("/core/ZelkRelease.txt", "1.0.0\n");
    server_->Start();
    return server_->base_url();
  }

  // The archive at `path` of a fault server, named by the release server's manifest.
  void PublishFaultyArchive(httplib::Server::Handler handler, bool reset = false) {
    const std::string base = StartFaultServer(kArchivePath, std::move(handler), reset);
    PublishManifest("2.0.0", base + kArchivePath);
  }

  std::map<std::string, std::string> ReleaseServerAt(const std::string& base) {
    return {{"ZELK_RELEASE_SERVER_URL", base}};
  }

  // A real release archive of which the server announces all but sends `fraction`, then ends
  // the connection (reset or closed).
  void ServeCutArchive(double fraction, bool reset) {
    const std::string content = ReadFile(PackRelease("2.0.0"));
    const size_t sent = static_cast<size_t>(content.size() * fraction);
    PublishFaultyArchive(
        [content, sent](const httplib::Request&, httplib::Response& response) {
          response.set_content_provider(
              content.size(), "application/zip",
              [content, sent](size_t offset, size_t, httplib::DataSink& sink) {
                if (offset >= sent) return false;
                sink.write(content.data() + offset, sent - offset);
                return true;
              });
        },
        reset);
  }

  std::unique_ptr<HttpsServer> server_;
};

// Body text sent in part: `announced` bytes promised, `text` sent, then the connection closes.
httplib::Server::Handler PartBody(std::string text, size_t announced) {
  return [text, announced](const httplib::Request&, httplib::Response& response) {
    response.set_content_provider(announced, "text/plain",
                                  [text](size_t offset, size_t, httplib::DataSink& sink) {
                                    if (offset >= text.size()) return false;
                                    sink.write(text.data() + offset, text.size() - offset);
                                    return true;
                                  });
  };
}

httplib::Server::Handler Status(int status) {
  return [status](const httplib::Request&, httplib::Response& response) {
    response.status = status;
    response.set_content("<html>error</html>", "text/html");
  };
}

const NetworkRow kRows[] = {
    {"server down",
     [](NetworkFaultTest& test) {
       auto server = test.MakeServer();
       server->Start();
       const std::string base = server->base_url();
       server->Stop();  // nothing listens on its port any more
       return test.ReleaseServerAt(base);
     },
     kLauncherManifestUnavailable},
    {"connection closed mid launcher manifest",
     [](NetworkFaultTest& test) {
       return test.ReleaseServerAt(
           test.StartFaultServer("/core/LauncherRelease.txt", PartBody("5\nhttps://127.", 400)));
     },
     kLauncherManifestUnavailable},
    {"connection closed mid application manifest",
     [](NetworkFaultTest& test) {
       return test.ReleaseServerAt(
           test.StartFaultServer("/core/ZelkRelease.txt", PartBody("2.0.0\nhttps://127.", 400)));
     },
     {"UpdateZelkStep", "CheckingForUpdate", "succeeded", "[utility(Fetch())] [error] libcurl result code: (18)",
      0, true, "1.0.0"}},
    {"launcher manifest answers 500",
     [](NetworkFaultTest& test) {
       return test.ReleaseServerAt(test.StartFaultServer("/core/LauncherRelease.txt", Status(500)));
     },
     kLauncherManifestUnavailable},
    {"archive answers 500",
     [](NetworkFaultTest& test) {
       test.PublishFaultyArchive(Status(500));
       return std::map<std::string, std::string>{};
     },
     DownloadFailed("Update failed Download of new version failed, try again later")},
    {"launcher manifest answers 301",
     [](NetworkFaultTest& test) {
       const std::string target = test.release_server.Url("/core/LauncherRelease.txt");
       return test.ReleaseServerAt(test.StartFaultServer(
           "/core/LauncherRelease.txt", [target](const httplib::Request&, httplib::Response& response) {
             response.set_redirect(target, 301);
           }));
     },
     kLauncherManifestUnavailable},
    {"archive answers 301",
     [](NetworkFaultTest& test) {
       test.release_server.ServeFile("/files/moved.zip", test.PackRelease("2.0.0"));
       const std::string target = test.release_server.Url("/files/moved.zip");
       test.PublishFaultyArchive([target](const httplib::Request&, httplib::Response& response) {
         response.set_redirect(target, 301);
       });
       return std::map<std::string, std::string>{};
     },
     DownloadFailed("Update failed Download of new version failed, try again later")},
    {"application manifest trickles one byte a second",
     [](NetworkFaultTest& test) {
       return test.ReleaseServerAt(test.StartFaultServer(
           "/core/ZelkRelease.txt", [](const httplib::Request&, httplib::Response& response) {
             static const std::string text = "1.0.0\n";
             response.set_content_provider(
                 text.size(), "text/plain", [](size_t offset, size_t, httplib::DataSink& sink) {
                   if (offset > 0) std::this_thread::sleep_for(1s);
                   sink.write(text.data() + offset, 1);
                   return true;
                 });
           }));
     },
     {"UpdateZelkStep", "CheckingForUpdate", "succeeded",
      "Checking versions. Current 1.0.0, available 1.0.0", 0, true, "1.0.0"}},
    {"archive body shorter than its Content-Length",
     [](NetworkFaultTest& test) {
       test.ServeCutArchive(0.6, false);
       return std::map<std::string, std::string>{};
     },
     DownloadFailed("libcurl result code: (18)")},
    {"archive connection reset at 10 %",
     [](NetworkFaultTest& test) {
       test.ServeCutArchive(0.10, true);
       return std::map<std::string, std::string>{};
     },
     DownloadFailed("download(Download())] [error] libcurl result code")},
    {"archive connection reset at 50 %",
     [](NetworkFaultTest& test) {
       test.ServeCutArchive(0.50, true);
       return std::map<std::string, std::string>{};
     },
     DownloadFailed("download(Download())] [error] libcurl result code")},
    {"archive connection reset at 99 %",
     [](NetworkFaultTest& test) {
       test.ServeCutArchive(0.99, true);
       return std::map<std::string, std::string>{};
     },
     DownloadFailed("download(Download())] [error] libcurl result code")},
    {"TLS certificate from an untrusted CA",
     [](NetworkFaultTest& test) {
       TestCa stranger;
       test.server_ = std::make_unique<HttpsServer>(stranger.Issue());
       test.server_->ServeText("/core/LauncherRelease.txt", "5\n");
       test.server_->Start();
       return test.ReleaseServerAt(test.server_->base_url());
     },
     {"SelfUpdateStep", "UpdateFailed", "Update Failed!", "libcurl result code: (60)", 0, false,
      "1.0.0"}},
    {"TLS certificate for another host name",
     [](NetworkFaultTest& test) {
       test.server_ = test.MakeServer({"DNS:releases.example.net"});
       test.server_->ServeText("/core/LauncherRelease.txt", "5\n");
       test.server_->Start();
       return test.ReleaseServerAt(test.server_->base_url());
     },
     {"SelfUpdateStep", "UpdateFailed", "Update Failed!", "libcurl result code: (60)", 0, false,
      "1.0.0"}},
};

TEST_P(NetworkFaultTest, Row) {
  const NetworkRow& row = GetParam();
  Row("network: " + row.fault, "");
  auto environment = row.setup(*this);
  RunExpecting(row.expected, environment);
  if (row.expected.step == "UpdateZelkStep" && !row.expected.launched) {
    EXPECT_TRUE(fs::exists(sandbox.application_folder() / "Zelk.exe")) << "the application is kept";
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, NetworkFaultTest, testing::ValuesIn(kRows));

}  // namespace
}  // namespace fault_matrix
