// A simulated EP device: the device's side of the system-exclusive protocol,
// for tests of the device link, the client, the transfers and the dialogs.
//
// Wiring: the device receives the host's messages through Receive() (from
// any thread) and sends its own through the function given to Attach().
// AttachTo() joins a MemoryMidiSystem as a device with an input and an output
// port of one name; sim_rtmidi.h joins real RtMidi ports (JACK) instead.
// Every message the device sends leaves from its own worker thread, never
// from inside Receive(), and requests are handled one at a time on that
// thread in arrival order.
//
// Protocol: the identity request is answered with a MIDI Universal Identity
// Reply. Requests (F0 00 20 76 <dev> 40 <6x> <seq> 05 <packed payload> F7)
// are checked (framing, and that each sequence number follows the previous
// one; 0 is always accepted, since every new link starts there), logged, and
// answered by the handler registered for the command code: reply frame
// F0 00 20 76 <dev> 00 <20 | seq >> 7> <seq & 7F> 05 <status> <packed> F7.
// The standard handlers (sim_commands.cpp) implement the command set over a
// SimFileSystem; tests replace or add handlers with SetHandler(). A command
// without a handler is answered with status 1, the simulator's choice, since
// what the real device does then is unknown.
//
// Faults are injected per request (InjectFault): each SimFault matches a
// command (or any), lets |skip| matching requests pass and then hits |times|
// of them.
//
// The packing here is written independently of the editor's code, so that a
// fault in one is not mirrored by the other.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/memory_midi.h"
#include "support/sim_device/sim_file_system.h"

namespace zandrel::test {

// Command codes as the device knows them.
inline constexpr uint8_t kSimCmdInit = 1;
inline constexpr uint8_t kSimCmdUpload = 2;
inline constexpr uint8_t kSimCmdRead = 3;
inline constexpr uint8_t kSimCmdList = 4;
inline constexpr uint8_t kSimCmdSelect = 5;
inline constexpr uint8_t kSimCmdDelete = 6;
inline constexpr uint8_t kSimCmdMetadata = 7;
inline constexpr uint8_t kSimCmdFileInfo = 11;
inline constexpr int kSimAnyCommand = -1;

using Bytes = std::vector<uint8_t>;

// One request as received.
struct SimRequest {
  uint16_t sequence = 0;
  uint8_t deviceByte = 0;  // request byte 4
  Bytes payload;           // unpacked
  Bytes frame;             // the whole message

  int Command() const { return payload.empty() ? -1 : payload[0]; }
};

// A handler's answer.
struct SimReply {
  uint8_t status = 0;
  Bytes payload;
  // Event payloads sent, unsolicited, right after the reply.
  std::vector<Bytes> eventsAfter;

  static SimReply Ok(Bytes payload = {}) { return {0, std::move(payload), {}}; }
  static SimReply Error(uint8_t status = 1) { return {status, {}, {}}; }
};

// What the standard handlers read and change.
struct SimState {
  SimFileSystem files = SimFileSystem::Standard();
  uint32_t maxMessageSize = 65536;  // told in the init reply
  size_t listEntriesPerPage = 8;
  size_t metadataPageBytes = 200;
  // Payload bytes 0-1 of listing and metadata pages: the editor skips them,
  // and what the device puts there is unknown. Their first byte is also read
  // as a device-event code, so tests may set one here.
  std::array<uint8_t, 2> pagePrefix{0, 0};
  bool eventOnDelete = true;  // a deletion is followed by event 0A <id LE>
  // A committed sound upload is followed by event 03 <id LE> <name> 00.
  bool eventOnUpload = false;
  size_t readPageBytes = 4096;  // data bytes per read page
  int lastSelected = -1;      // file id of the last select notice
  int selectCount = 0;

  // A metadata text being received in pieces.
  struct PagedMetadata {
    bool active = false;
    uint16_t file = 0;
    uint32_t length = 0;
    uint16_t nextPiece = 0;
    std::string text;
  } pagedMetadata;

  // The file, preview or project archive being read page by page.
  struct Read {
    bool active = false;
    Bytes bytes;
  } read;

  // An upload between its init and its end marker.
  struct Upload {
    bool active = false;
    uint8_t kind = 0;  // 5 sound, 2 project
    uint16_t target = 0;
    uint16_t parent = 0;
    uint32_t size = 0;
    std::string name;
    std::string json;  // a sound's init JSON
    uint16_t nextChunk = 0;
    Bytes data;
  } upload;
  int uploadsCommitted = 0;
};

class SimDevice;
// Answers one request; nothing = no reply. Called on the device's worker
// thread with the state locked.
using SimHandler = std::function<std::optional<SimReply>(const SimRequest&, SimState&)>;

enum class SimFaultKind {
  NoReply,           // the request goes unanswered
  LateReply,         // answered after |delay|
  WrongSequence,     // answered under the sequence number + |sequenceOffset|
  ReplyFlags,        // reply byte 6 is |flags| (0x20 cleared, 0x40 set, ...)
  ErrorStatus,       // status |status|, no payload
  TruncatePayload,   // only the first |size| payload bytes
  ExtendPayload,     // |size| bytes of |fill| appended to the payload
  ReplacePayload,    // payload |bytes| (status 0)
  DuplicateReply,    // the reply twice
  EventBeforeReply,  // the unsolicited event payload |bytes| first
  Unplug,            // no answer to this request or to anything after it
};

struct SimFault {
  SimFaultKind kind = SimFaultKind::NoReply;
  int command = kSimAnyCommand;
  int skip = 0;   // matching requests let through first
  int times = 1;  // matching requests hit; -1 = all of them
  std::chrono::milliseconds delay{0};
  int sequenceOffset = 1;
  uint8_t flags = 0;
  uint8_t status = 1;
  size_t size = 0;
  uint8_t fill = 0;
  Bytes bytes = {};
};

struct SimDeviceOptions {
  uint8_t deviceId = 0x00;  // byte 2 of the identity reply
  bool answerIdentity = true;
  // Empty: F0 7E <deviceId> 06 02 00 20 76 05 01 07 00 01 00 00 00 F7
  // (family 133, model 7: SKU TE133AS007).
  Bytes identityReply;
};

class SimDevice {
 public:
  using SendFunction = std::function<bool(std::span<const uint8_t> message)>;

  explicit SimDevice(SimDeviceOptions options = {});
  ~SimDevice();
  SimDevice(const SimDevice&) = delete;
  SimDevice& operator=(const SimDevice&) = delete;

  // ---- Wiring ----
  void Attach(SendFunction send);
  void Receive(std::span<const uint8_t> message);
  // Adds a device named |portName| to |midi| and attaches to its ports.
  void AttachTo(MemoryMidiSystem& midi, const std::string& portName = "EP-133");
  // The memory ports from AttachTo() vanish from the listings and refuse
  // messages (a cable pulled), or come back.
  void UnplugPorts(bool unplugged);

  // ---- State ----
  template <class F>
  auto WithState(F&& f) {
    std::lock_guard lock(stateMutex_);
    return f(state_);
  }
  void SetHandler(uint8_t command, SimHandler handler);

  // ---- Faults ----
  void InjectFault(SimFault fault);
  void ClearFaults();
  // Stops (or resumes) answering anything, the identity request included.
  void SetUnplugged(bool unplugged);

  // ---- Unsolicited messages ----
  // An event message: by default without a sequence number (flag 0x20
  // clear), which the editor reads as sequence number 0.
  void SendEvent(const Bytes& payload, std::optional<uint16_t> sequence = std::nullopt);
  void SendRaw(const Bytes& message, std::chrono::milliseconds delay = {});

  // ---- Inspection ----
  std::vector<SimRequest> Requests() const;
  // Waits (bounded) until at least |count| requests have arrived.
  bool WaitForRequests(size_t count, std::chrono::milliseconds limit) const;
  // Waits (bounded) until everything received is handled and sent.
  bool WaitUntilIdle(std::chrono::milliseconds limit) const;
  void ClearRequests();
  int IdentityRequests() const;
  int FramingErrors() const;
  int SequenceErrors() const;

  // ---- The bytes ----
  static Bytes Pack(std::span<const uint8_t> payload);
  static Bytes Unpack(std::span<const uint8_t> packed);
  // A reply or event frame; |flags| replaces byte 6 when given.
  static Bytes ReplyFrame(uint8_t deviceByte, uint16_t sequence, uint8_t status, std::span<const uint8_t> payload,
                          std::optional<uint8_t> flags = std::nullopt);
  Bytes IdentityReply() const;

 private:
  using Clock = std::chrono::steady_clock;
  void Run();
  void Handle(const Bytes& message);
  void Schedule(Bytes message, std::chrono::milliseconds delay = {});
  std::optional<SimFault> TakeFault(int command);

  const SimDeviceOptions options_;

  // Guards the state, the handlers, the faults and the unplugged flag.
  std::mutex stateMutex_;
  SimState state_;
  std::map<uint8_t, SimHandler> handlers_;
  std::vector<SimFault> faults_;
  bool unplugged_ = false;

  // Guards the queues, the log and the counters.
  mutable std::mutex queueMutex_;
  mutable std::condition_variable changed_;
  std::vector<Bytes> inbox_;
  std::multimap<Clock::time_point, Bytes> outbox_;
  bool handling_ = false;
  bool stop_ = false;
  SendFunction send_;
  std::vector<SimRequest> requests_;
  int identityRequests_ = 0;
  int framingErrors_ = 0;
  int sequenceErrors_ = 0;
  std::optional<uint16_t> lastSequence_;

  MemoryMidiDevicePorts memoryPorts_;
  std::thread worker_;  // last: starts after every other member exists
};

// The standard handlers of the command set (sim_commands.cpp).
void RegisterStandardCommands(SimDevice& device);

}  // namespace zandrel::test
