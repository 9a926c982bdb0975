// The desktop clipboard as the core reaches it.
//
// Copy and Paste exchange audio with other running editors through the
// desktop clipboard, as bytes under a private type. The app installs a host
// over the desktop's clipboard; tests install an in-memory one. Without a
// host there is no clipboard: nothing is offered and nothing can be set.
//
// Whatever another program put there arrives here unchecked: readers treat
// the bytes as hostile input. User-interface thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zandrel {

class ClipboardHost {
 public:
  virtual ~ClipboardHost() = default;
  // Whether the clipboard offers data of |type|.
  virtual bool HasData(std::string_view type) const = 0;
  // The bytes held under |type|; nothing when there are none or they cannot
  // be read.
  virtual std::optional<std::vector<uint8_t>> GetData(std::string_view type) const = 0;
  // Replaces the clipboard's contents with |bytes| under |type|; false when
  // the clipboard refused them.
  virtual bool SetData(std::string_view type, std::vector<uint8_t> bytes) = 0;
};

// The installed host, nullptr when there is none.
ClipboardHost* CurrentClipboardHost();
// Installs |host| (not owned, nullptr for none); returns the previous one.
ClipboardHost* SetClipboardHost(ClipboardHost* host);

// A clipboard that lives in this process.
class MemoryClipboard : public ClipboardHost {
 public:
  bool HasData(std::string_view type) const override { return held_ && type_ == type; }
  std::optional<std::vector<uint8_t>> GetData(std::string_view type) const override;
  bool SetData(std::string_view type, std::vector<uint8_t> bytes) override;

 private:
  bool held_ = false;
  std::string type_;
  std::vector<uint8_t> bytes_;
};

}  // namespace zandrel
