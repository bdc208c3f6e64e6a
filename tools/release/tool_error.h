// The release tool's one error: a message for the person who ran it. Every command turns it into
// "zelk-release: <message>" on standard error and exit code 1.
#pragma once

#include <stdexcept>
#include <string>

class ToolError : public std::runtime_error {
 public:
  explicit ToolError(const std::string& message) : std::runtime_error(message) {}
};
