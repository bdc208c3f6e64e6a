// The choice among the proxies of a ";"-separated list, against the splitting of std::getline
// that it follows.
#include <sstream>
#include <string>

#include "fuzz_check.h"
#include "network/download.h"

namespace {

std::string ChooseProxyByGetline(const std::string& list) {
  std::istringstream stream(list);
  std::string piece;
  while (std::getline(stream, piece, ';')) {
    if (piece.find(".local") == std::string::npos) return piece;
  }
  return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string list(reinterpret_cast<const char*>(data), size);
  const std::string chosen = ChooseProxy(list);
  FUZZ_CHECK(chosen == ChooseProxyByGetline(list));
  FUZZ_CHECK(chosen.find(';') == std::string::npos);
  FUZZ_CHECK(chosen.find(".local") == std::string::npos);
  FUZZ_CHECK(list.find(chosen) != std::string::npos);
  return 0;
}
