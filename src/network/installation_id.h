// New installation identifiers for the analytics records.
#pragma once

#include <string>

// A new GUID as 36 upper-case hexadecimal characters in groups 8-4-4-4-12, without braces;
// empty text (and an error line in the log) when none can be made.
std::string CreateInstallationId();
