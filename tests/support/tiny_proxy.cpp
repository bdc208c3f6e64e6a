#include "support/tiny_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fcntl.h>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {
sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = Loopback(port);
  const bool connected =
      connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}
}  // namespace

int FindFreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    throw std::runtime_error("no free port on 127.0.0.1");
  }
  close(fd);
  return ntohs(address.sin_port);
}

TinyProxy::TinyProxy() {
  for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
    port_ = FindFreePort();
    const auto config = folder_ / "tinyproxy.conf";
    // No ConnectPort line: CONNECT is allowed to every port, as the test servers use free ones.
    WriteFile(config, "Port " + std::to_string(port_) +
                          "\nListen 127.0.0.1\nTimeout 30\nLogLevel Connect\nMaxClients 20\n"
                          "Allow 127.0.0.1\n");
    const std::string log_file = (folder_ / "tinyproxy.log").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log_file.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const std::string config_path = config.string();
    const char* argv[] = {"tinyproxy", "-d", "-c", config_path.c_str(), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, "tinyproxy", &actions, nullptr,
                                     const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start tinyproxy (run scripts/setup)");

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      if (Accepts(port_)) {
        pid_ = pid;
        break;
      }
      if (waitpid(pid, nullptr, WNOHANG) == pid) break;  // lost the port to someone else
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (pid_ < 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  if (pid_ < 0) throw std::runtime_error("tinyproxy did not start: " + log());
}

TinyProxy::~TinyProxy() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
}

std::string TinyProxy::log() const {
  const auto file = folder_ / "tinyproxy.log";
  return std::filesystem::exists(file) ? ReadFile(file) : std::string();
}
