// Data that ships inside the launcher executable.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

enum class ResourceId { Font = 101, Logo = 103 };

class IResourceProvider {
 public:
  virtual ~IResourceProvider() = default;
  // The resource's bytes, which live as long as the provider; nothing when it is missing.
  virtual std::optional<std::span<const unsigned char>> Find(ResourceId id) const = 0;
};

// The font and logo linked into the executable at build time.
class EmbeddedResources final : public IResourceProvider {
 public:
  std::optional<std::span<const unsigned char>> Find(ResourceId id) const override;
};
