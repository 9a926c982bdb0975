// The desktop clipboard (QClipboard) behind the core's ClipboardHost: bytes
// travel as QMimeData under their type, so another running editor sees them.
#pragma once

#include "platform/clipboard.h"

namespace zandrel {

class QtClipboardHost final : public ClipboardHost {
 public:
  bool HasData(std::string_view type) const override;
  std::optional<std::vector<uint8_t>> GetData(std::string_view type) const override;
  bool SetData(std::string_view type, std::vector<uint8_t> bytes) override;
};

}  // namespace zandrel
