// zelk-release: publishes releases of the application and the launcher, serves them with the
// analytics service on a loopback address, and reports what the launchers sent.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "publish.h"
#include "record_store.h"
#include "report.h"
#include "server.h"
#include "signing.h"
#include "tool_error.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage = R"(Usage:
  zelk-release pack --app FOLDER --version V --release FOLDER --base-url URL [--key FILE]
      Archives the application folder (which must hold Zelk.exe) into the release folder and
      writes core/ZelkRelease.txt. With --key the manifest carries a signature line.
  zelk-release launcher --exe FILE --version V --release FOLDER --base-url URL [--key FILE]
      Places the launcher executable in the release folder and writes core/LauncherRelease.txt.
  zelk-release keygen --out PREFIX
      Makes an Ed25519 key pair: PREFIX.key (private, 0600) and PREFIX.pub (for the launcher's
      build: -DZELK_RELEASE_PUBLIC_KEY=<its content>).
  zelk-release serve --release FOLDER --data FOLDER [--address 127.0.0.1] [--port N]
                     [--api-key KEY] [--cert FILE --cert-key FILE]
      Serves the release folder over HTTPS and stores the launchers' analytics in the data
      folder, until SIGINT or SIGTERM. Without --cert a local CA is made in the data folder.
  zelk-release report --data FOLDER
      Prints the stored analytics records and a summary per step.
)";

using Options = std::map<std::string, std::string>;

// "--name value" or "--name=value" pairs; a name outside `allowed` or without a value is an
// error, as is a repeated one.
Options ParseOptions(const std::vector<std::string>& arguments, const std::vector<std::string>& allowed) {
  Options options;
  for (size_t i = 0; i < arguments.size(); ++i) {
    std::string name = arguments[i];
    std::optional<std::string> value;
    if (!name.starts_with("--")) throw ToolError("unexpected argument " + name);
    name.erase(0, 2);
    if (const size_t equals = name.find('='); equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    } else if (i + 1 < arguments.size()) {
      value = arguments[++i];
    }
    if (std::find(allowed.begin(), allowed.end(), name) == allowed.end()) {
      throw ToolError("unknown option --" + name);
    }
    if (!value) throw ToolError("--" + name + " needs a value");
    if (!options.emplace(name, *value).second) throw ToolError("--" + name + " given twice");
  }
  return options;
}

std::string Required(const Options& options, const std::string& name) {
  const auto it = options.find(name);
  if (it == options.end()) throw ToolError("missing --" + name);
  return it->second;
}

std::optional<std::string> Optional(const Options& options, const std::string& name) {
  const auto it = options.find(name);
  if (it == options.end()) return std::nullopt;
  return it->second;
}

PublishOptions ReadPublishOptions(const Options& options, const std::string& source_option) {
  PublishOptions publish;
  publish.source = Required(options, source_option);
  publish.version = Required(options, "version");
  publish.release_folder = Required(options, "release");
  publish.base_url = Required(options, "base-url");
  if (auto key = Optional(options, "key")) publish.private_key = *key;
  return publish;
}

void PrintPublished(const Published& published) {
  std::cout << "Wrote " << published.file.string() << "\n"
            << "Wrote " << published.manifest.string() << ":\n"
            << published.manifest_text;
}

int Run(const std::string& command, const std::vector<std::string>& arguments) {
  if (command == "pack") {
    const Options options = ParseOptions(arguments, {"app", "version", "release", "base-url", "key"});
    PrintPublished(PackApplication(ReadPublishOptions(options, "app")));
    return 0;
  }
  if (command == "launcher") {
    const Options options = ParseOptions(arguments, {"exe", "version", "release", "base-url", "key"});
    PrintPublished(PublishLauncher(ReadPublishOptions(options, "exe")));
    return 0;
  }
  if (command == "keygen") {
    const Options options = ParseOptions(arguments, {"out"});
    const KeyFiles keys = GenerateKeyPair(Required(options, "out"));
    std::cout << "Private key: " << keys.private_key.string() << " (keep it secret)\n"
              << "Public key:  " << keys.public_key.string() << "\n"
              << "Build a launcher that accepts only releases signed with it:\n"
              << "  cmake -DZELK_RELEASE_PUBLIC_KEY=" << keys.public_key_base64 << " ...\n";
    return 0;
  }
  if (command == "serve") {
    const Options options = ParseOptions(
        arguments, {"release", "data", "address", "port", "api-key", "cert", "cert-key"});
    ServeOptions serve;
    serve.release_folder = Required(options, "release");
    serve.data_folder = Required(options, "data");
    if (auto address = Optional(options, "address")) serve.address = *address;
    if (auto port = Optional(options, "port")) {
      size_t used = 0;
      try {
        serve.port = std::stoi(*port, &used);
      } catch (const std::exception&) {
        used = 0;
      }
      if (used != port->size()) throw ToolError("--port needs a number: " + *port);
    }
    serve.api_key = Optional(options, "api-key");
    if (auto file = Optional(options, "cert")) serve.certificate = *file;
    if (auto file = Optional(options, "cert-key")) serve.certificate_key = *file;
    return Serve(serve, std::cout);
  }
  if (command == "report") {
    const Options options = ParseOptions(arguments, {"data"});
    const fs::path database = fs::path(Required(options, "data")) / "analytics.sqlite3";
    if (!fs::exists(database)) {
      std::cout << "No analytics records stored yet (" << database.string() << " does not exist).\n";
      return 0;
    }
    RecordStore store(database);
    PrintReport(store.ReadAll(), std::cout);
    return 0;
  }
  throw ToolError("unknown command " + command);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "help") {
    std::cout << kUsage;
    return argc < 2 ? 2 : 0;
  }
  try {
    return Run(argv[1], std::vector<std::string>(argv + 2, argv + argc));
  } catch (const ToolError& error) {
    std::cerr << "zelk-release: " << error.what() << "\n";
    return 1;
  } catch (const std::exception& error) {
    std::cerr << "zelk-release: " << error.what() << "\n";
    return 1;
  }
}
