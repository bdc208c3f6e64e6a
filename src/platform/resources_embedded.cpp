#include "platform/resources.h"

// Defined by embedded_resources.S, which includes the files with .incbin.
extern "C" const unsigned char zelk_resource_font_begin[], zelk_resource_font_end[];
extern "C" const unsigned char zelk_resource_logo_begin[], zelk_resource_logo_end[];

std::optional<std::span<const unsigned char>> EmbeddedResources::Find(ResourceId id) const {
  switch (id) {
    case ResourceId::Font:
      return std::span(zelk_resource_font_begin, zelk_resource_font_end);
    case ResourceId::Logo:
      return std::span(zelk_resource_logo_begin, zelk_resource_logo_end);
  }
  return std::nullopt;
}
