#include "network/installation_id.h"

#include <cstdio>

#include "platform/guid.h"
#include "shell/log.h"

std::string CreateInstallationId() {
  Logger logger = CreateLogger("utility(CreateInstallationId())");
  Guid guid;
  if (!CreateGuid(guid)) {
    logger->error("Failed to create installation GUID");
    return {};
  }
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04hX-%04hX-%02X%02X-%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned>(guid.data1), guid.data2, guid.data3, guid.data4[0],
                guid.data4[1], guid.data4[2], guid.data4[3], guid.data4[4], guid.data4[5],
                guid.data4[6], guid.data4[7]);
  logger->debug("Generated GUID: {}", text);
  return text;
}
