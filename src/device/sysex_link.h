// CEPSysExLink: the transport between the editor and one EP device, and the
// device's command set and file transfers on top of it.
//
// The link finds the device's MIDI input and output ports by name
// (IsEpPortName), opens them, sends framed requests and hands each reply to
// the one caller waiting for it; unsolicited device messages become event
// callbacks. Two threads use it:
//  - the owner's thread (the user-interface thread) opens, closes, sends and
//    waits; only one request is outstanding at a time, a new SendRequest()
//    replaces the awaited one;
//  - the MIDI input thread parses every incoming message and runs the event
//    callback.
// After CloseLink() returns no input callback runs any more, so the link may
// be destroyed. A class deriving from the link whose event callback reaches
// its own members must close the link in its own destructor, before those
// members go.
//
// Diagnostics are console lines beginning with a bracketed tag ("[Error] ",
// "[Info] ", "[Success] ", "[Warning] ", "[Async Event] "), written to the
// link's output and error streams (standard output and standard error unless
// SetConsole() chose others); they never reach the log pane.
//
// Every wait has a nominal limit in milliseconds (kReplyLimitMs and so on)
// that is multiplied by the link's time scale, so tests can run timeouts in
// milliseconds. Every request waits its own full limit, so one lost reply
// costs one request, not the rest of its operation. Within one operation
// (OperationScope; each command opens one) the waits fail at once only when
// the device is plainly gone: the output port refused a request, or two
// consecutive requests went unanswered with nothing received in between.
// Anything from the device ends that state; so does the next operation. A
// device that stops answering thus costs two limits per operation, not one
// per request.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device/device_protocol.h"
#include "device/device_transfers.h"
#include "device/sysex_format.h"
#include "platform/midi_port.h"

namespace zandrel {

// The port-name test: upper-cased (ASCII letters only), the name contains
// "EP-" or "KO II" anywhere.
bool IsEpPortName(std::string_view name);

class CEPSysExLink {
 public:
  // Nominal time limits, milliseconds.
  static constexpr int kReplyLimitMs = 5000;       // every command by default
  static constexpr int kSelectLimitMs = 500;       // kCmdSoundSelect
  static constexpr int kProjectEndLimitMs = 15000; // end marker of a project upload
  static constexpr int kIdentityWaitMs = 200;      // identity reply when opening
  // Consecutive unanswered requests, with nothing received in between, after
  // which the rest of the operation fails at once.
  static constexpr int kUnansweredBeforeGivingUp = 2;
  // The longest message taken from the device: the device's messages are
  // sized for receive buffers of this many bytes. Longer ones are dropped.
  static constexpr size_t kMaxIncomingBytes = 65536;

  // Receives each device event on the MIDI input thread.
  using EventCallback = std::function<void(const EPDeviceEvent& event)>;

  // Uses the process's current MIDI system (platform/midi_port.h).
  CEPSysExLink();
  // Uses |midi| (not owned; nullptr: the link never opens).
  explicit CEPSysExLink(MidiSystem* midi);
  ~CEPSysExLink();
  CEPSysExLink(const CEPSysExLink&) = delete;
  CEPSysExLink& operator=(const CEPSysExLink&) = delete;

  // ---- Transport ----

  // Finds the device's ports (the last matching input and the last matching
  // output), opens them and sends the identity request, waiting up to
  // kIdentityWaitMs for the answer. True also when both are open already.
  bool OpenLink();
  // Closes whatever is open; no input callback runs after it returns.
  void CloseLink();
  // Both ports open.
  bool IsOpen() const { return in_ && out_; }
  // Why the current operation's requests fail, in words for the log: the
  // output port refused a request (the device is gone), or requests went
  // unanswered; empty when neither happened.
  std::string FailureReason() const;

  // Frames |payload| with the next sequence number, registers that number as
  // awaited and transmits. A frame the output port cannot carry is not sent
  // (and said so on the error stream); the wait for it then fails at once, as
  // it does when the port refuses the frame or the link is closed.
  uint16_t SendRequest(std::span<const uint8_t> payload);
  // True when the reply numbered |sequence| arrived within |limitMs| (scaled).
  // A reply that arrived before the wait began is returned at once.
  bool WaitReply(uint16_t sequence, EPReply& reply, int limitMs);

  // Classifies and dispatches one incoming message (MIDI input thread):
  // identity replies set the device byte and the SKU text, awaited replies
  // wake the waiter, and the payload of every accepted message is looked at
  // as a device event (replies included).
  void ParseIncoming(std::span<const uint8_t> message);

  // Installs the event callback (empty: none). When this returns, an earlier
  // callback is no longer running and will not be called again. The callback
  // must not call SetEventCallback() itself.
  void SetEventCallback(EventCallback callback);

  // Empty until an identity reply of 12 bytes or more arrived.
  std::string Sku() const;
  // 0 until an identity reply arrived; written into every request.
  uint8_t DeviceByte() const { return deviceByte_.load(); }
  // 512 until an init exchange told the device's own.
  uint32_t MaxMessageSize() const { return maxMessageSize_; }

  // Where console lines go (not owned; nullptr restores the standard stream).
  void SetConsole(std::ostream* out, std::ostream* err);
  // Multiplies every time limit (1 = the nominal limits).
  void SetTimeScale(double scale) { timeScale_ = scale < 0 ? 0 : scale; }
  double TimeScale() const { return timeScale_; }
  // The nominal limit the latest WaitReply() was given.
  int LastWaitLimitMs() const { return lastWaitLimitMs_; }

  // ---- Job control (any thread) ----
  // A job that runs the link on a worker thread is stopped with
  // RequestCancel(). The reads (ReadFile, ReadPreview, DownloadProjectTar,
  // ListDirectory, GetMetadataPages) test the flag before each request and,
  // once it is set, send nothing more and return what they have. Uploads,
  // metadata writes, deletion and file information never test it: the device
  // knows no abort message, and a transfer stopped halfway would leave it
  // waiting for the rest.
  void RequestCancel() { cancel_.store(true); }
  void ClearCancel() { cancel_.store(false); }
  bool CancelRequested() const { return cancel_.load(); }
  // Bytes gathered so far by the running read, and how many it expects (0:
  // not known yet).
  struct JobProgress {
    uint64_t done = 0;
    uint64_t expected = 0;
  };
  JobProgress Progress() const { return {progressDone_.load(), progressExpected_.load()}; }
  void ResetProgress() { SetProgress(0, 0); }

  // Marks the requests of one operation (see the file comment). Scopes nest;
  // the outermost one counts. Owner's thread only.
  class OperationScope {
   public:
    explicit OperationScope(CEPSysExLink& link);
    ~OperationScope();
    OperationScope(const OperationScope&) = delete;
    OperationScope& operator=(const OperationScope&) = delete;

   private:
    CEPSysExLink& link_;
  };

  // ---- Commands ----
  // Those marked "needs the ports" fail at once, without sending, unless the
  // link is open.

  // kCmdInit: learns the device's maximum message size.
  bool InitDevice();
  // kCmdList, page by page; the entries gathered until a page with fewer than
  // 3 bytes, a missing reply or an error status (bounded by kMaxListPages and
  // kMaxListEntries). A page without an entry does not end the listing; a
  // file listed twice is kept once.
  std::vector<EPFileEntry> ListDirectory(uint16_t directoryId);
  // kCmdFileInfo. An entry with id 0 unless the device sent a record;
  // |status| tells a missing file from a missing answer.
  EPFileEntry GetFileInfo(uint16_t fileId, EPFileInfoStatus* status = nullptr);
  // kCmdDelete. Needs the ports.
  bool DeleteFile(uint16_t fileId);
  // kCmdSoundSelect: whether a reply came. Needs the ports.
  bool NotifySoundSelected(uint16_t fileId);
  // kCmdMetadata read, page by page; empty on failure (bounded by
  // kMaxMetadataPages and kMaxMetadataBytes).
  std::string GetMetadataPages(uint16_t fileId);
  // kCmdMetadata set: one message up to 256 bytes, paged beyond (at most
  // kMaxMetadataSetBytes). Needs the ports.
  bool SetMetadata(uint16_t fileId, std::string_view text);
  // Whether the directory's metadata announces more free space than
  // |requiredBytes|. Needs the ports.
  bool CheckFreeSpace(uint32_t requiredBytes, uint16_t directoryId);
  // The id of the root's directory "projects"; 65535 when there is none.
  uint16_t FindProjectsDirectory();

  // ---- Transfers (device_transfers.h has the bytes) ----
  // Each is one operation; progress goes to the output stream as "\r" lines.

  // The file's bytes, page by page until |expectedSize| bytes are there (the
  // last page whole, so possibly more); what came before a missing reply, an
  // error status or a page without data; empty when the read could not
  // start or |expectedSize| is above kMaxDownloadBytes.
  std::vector<uint8_t> ReadFile(uint16_t fileId, uint32_t expectedSize);
  // The device's waveform preview of a sound file (PlanPreview), as the
  // device sends it; empty when the preview could not start.
  std::vector<uint8_t> ReadPreview(uint16_t fileId, uint32_t fileSize, int channels);
  // The project's archive, exactly as long as the device announced, or
  // shorter when the download stopped (said so on the error stream, and in
  // |complete| when given).
  std::vector<uint8_t> DownloadProjectTar(uint16_t projectId, bool* complete = nullptr);
  // Sends a sound file into slot |slotId| of directory |parentId|: the init
  // with |name| and |initJson|, the chunks (|progress| after each), the end
  // marker. True when the device acknowledged the end marker. Needs the
  // ports.
  bool UploadFile(std::span<const uint8_t> data, std::string_view name, uint16_t parentId, uint16_t slotId,
                  std::string_view initJson, const UploadProgress& progress = {});
  // Sends a project archive to replace project |targetId|; the device
  // unpacks it before acknowledging the end marker. Needs the ports.
  bool UploadProjectArchive(std::span<const uint8_t> data, std::string_view name, uint16_t parentId,
                            uint16_t targetId);

 protected:
  // One console line (a line feed is added and the stream flushed).
  void PrintOut(std::string_view line);
  void PrintErr(std::string_view line);
  // Text without a line feed (progress lines that "\r" rewrites), flushed.
  void PrintOutInline(std::string_view text);
  void SetProgress(uint64_t done, uint64_t expected) {
    progressExpected_.store(expected);
    progressDone_.store(done);
  }
  // Sends |payload| and waits up to |limitMs|; the reply, or nothing.
  std::optional<EPReply> Exchange(std::span<const uint8_t> payload, int limitMs);

 private:
  void MidiInProc(std::span<const uint8_t> message);
  void DispatchEvent(std::span<const uint8_t> payload);
  void Print(bool toError, std::string_view text, bool lineBreak = true);
  // The init, the chunks and the end marker of an upload; the end marker is
  // awaited |endLimitMs|. |progress| is for sound uploads only.
  bool SendUpload(std::span<const uint8_t> data, const std::vector<uint8_t>& init, int endLimitMs,
                  const UploadProgress* progress, bool project);
  // Appends the data of pages 0, 1, ... (from payload byte 2) to |out| until
  // it holds |wanted| bytes, a reply is missing or reports an error, or a
  // page brings no data.
  void ReadPages(std::vector<uint8_t>& out, size_t wanted, uint16_t fileId);
  std::chrono::nanoseconds Scaled(int limitMs) const;
  // Forgets unanswered requests and a refused send.
  void ResetSilence();

  MidiSystem* midi_;
  std::unique_ptr<MidiInPort> in_;
  std::unique_ptr<MidiOutPort> out_;

  std::atomic<uint8_t> deviceByte_{0};
  uint32_t maxMessageSize_ = kDefaultMaxMessageSize;
  std::atomic<uint16_t> sequence_{0};
  std::atomic<bool> closing_{false};
  // Requests in a row whose wait ran out with nothing received meanwhile;
  // cleared by any message from the device, by the start of the next
  // operation and by opening or closing.
  std::atomic<int> unanswered_{0};
  // The output port refused a request (the device is gone); cleared like
  // |unanswered_|.
  std::atomic<bool> portGone_{false};
  int operationDepth_ = 0;
  std::atomic<bool> cancel_{false};
  std::atomic<uint64_t> progressDone_{0};
  std::atomic<uint64_t> progressExpected_{0};
  double timeScale_ = 1.0;
  int lastWaitLimitMs_ = 0;

  // The pending-reply slot and the identity state.
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  EPReply pendingReply_;
  bool replyReady_ = false;
  int32_t awaited_ = -1;     // -1: nothing awaited
  bool sendFailed_ = false;  // the awaited request never left
  uint32_t identityCount_ = 0;
  std::string sku_;

  // Held while the event callback runs, so that replacing it waits for it.
  std::mutex eventMutex_;
  EventCallback eventCallback_;

  std::mutex consoleMutex_;
  std::ostream* outStream_ = nullptr;
  std::ostream* errStream_ = nullptr;
};

}  // namespace zandrel
