#include "device/sysex_link.h"

#include <iostream>
#include <optional>

#include "platform/text_format.h"

namespace zandrel {

bool IsEpPortName(std::string_view name) {
  std::string upper(name);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper.find("EP-") != std::string::npos || upper.find("KO II") != std::string::npos;
}

CEPSysExLink::CEPSysExLink() : CEPSysExLink(CurrentMidiSystem()) {}

CEPSysExLink::CEPSysExLink(MidiSystem* midi) : midi_(midi) {}

CEPSysExLink::~CEPSysExLink() { CloseLink(); }

namespace {

// The index of the last name that passes the port-name test.
std::optional<size_t> LastEpPort(const std::vector<std::string>& names) {
  std::optional<size_t> found;
  for (size_t i = 0; i < names.size(); ++i) {
    if (IsEpPortName(names[i])) found = i;
  }
  return found;
}

}  // namespace

bool CEPSysExLink::OpenLink() {
  if (IsOpen()) return true;
  if (!midi_) return false;
  const std::optional<size_t> input = LastEpPort(midi_->InputNames());
  const std::optional<size_t> output = LastEpPort(midi_->OutputNames());
  if (!input || !output) return false;

  closing_.store(false);
  out_ = midi_->OpenOutput(*output);
  if (!out_) return false;
  in_ = midi_->OpenInput(*input, [this](std::span<const uint8_t> message) { MidiInProc(message); });
  if (!in_) {
    out_->Close();
    out_.reset();
    return false;
  }
  ResetSilence();

  // The identity reply sets the device byte and the SKU text; it normally
  // comes within milliseconds, so the wait ends as soon as it is there.
  std::unique_lock lock(mutex_);
  const uint32_t before = identityCount_;
  lock.unlock();
  out_->Send(kIdentityRequest);
  lock.lock();
  if (const std::chrono::nanoseconds limit = Scaled(kIdentityWaitMs); limit.count() > 0) {
    arrived_.wait_for(lock, limit, [&] { return identityCount_ != before; });
  }
  return true;
}

void CEPSysExLink::CloseLink() {
  closing_.exchange(true);
  if (in_) {
    in_->Close();  // waits until no input callback runs
    in_.reset();
  }
  if (out_) {
    out_->Close();
    out_.reset();
  }
  ResetSilence();
  closing_.exchange(false);
}

std::chrono::nanoseconds CEPSysExLink::Scaled(int limitMs) const {
  const double ns = static_cast<double>(limitMs) * timeScale_ * 1e6;
  return std::chrono::nanoseconds(ns > 0 ? static_cast<int64_t>(ns) : 0);
}

uint16_t CEPSysExLink::SendRequest(std::span<const uint8_t> payload) {
  const uint16_t sequence = sequence_.fetch_add(1) & kSequenceMask;
  const std::vector<uint8_t> frame = BuildRequestFrame(sequence, deviceByte_.load(), payload);
  {
    // Registered before the frame leaves: a reply that comes back before the
    // caller starts waiting is kept.
    std::lock_guard lock(mutex_);
    awaited_ = sequence;
    replyReady_ = false;
    sendFailed_ = false;
  }
  bool sent = false;
  if (out_) {
    if (frame.size() > out_->MaxMessageBytes()) {
      PrintErr(Format("[Error] Request of %zu bytes exceeds the MIDI port's limit of %zu bytes; not sent.",
                      frame.size(), out_->MaxMessageBytes()));
    } else {
      sent = out_->Send(frame);
      // A port that takes no message of a size it carries has lost its device.
      if (!sent) portGone_.store(true);
    }
  }
  if (!sent) {
    std::lock_guard lock(mutex_);
    if (awaited_ == sequence) sendFailed_ = true;
  }
  return sequence;
}

std::string CEPSysExLink::FailureReason() const {
  if (portGone_.load()) return "the MIDI port is gone (the device was unplugged or its port closed)";
  if (unanswered_.load() > 0) return "the device stopped answering";
  return {};
}

bool CEPSysExLink::WaitReply(uint16_t sequence, EPReply& reply, int limitMs) {
  lastWaitLimitMs_ = limitMs;
  std::unique_lock lock(mutex_);
  const auto present = [&] { return replyReady_ && pendingReply_.sequence == sequence; };
  if (!present()) {
    const bool neverSent = sendFailed_ && awaited_ == sequence;
    const bool giveUp = operationDepth_ > 0 && (portGone_.load() || unanswered_.load() >= kUnansweredBeforeGivingUp);
    if (neverSent || giveUp) return false;
    const std::chrono::nanoseconds limit = Scaled(limitMs);
    // A limit of nothing (a time scale of 0) waits for nothing, not even
    // for a wake-up that could only say the limit has passed.
    if (limit.count() <= 0 || !arrived_.wait_until(lock, std::chrono::steady_clock::now() + limit, present)) {
      if (operationDepth_ > 0) unanswered_.fetch_add(1);
      return false;
    }
  }
  reply = pendingReply_;
  return true;
}

void CEPSysExLink::MidiInProc(std::span<const uint8_t> message) {
  if (closing_.load() || message.empty()) return;
  // Only system-exclusive messages concern the link; a message longer than
  // the device ever sends is damaged or foreign.
  if (message[0] != 0xF0 || message.size() > kMaxIncomingBytes) return;
  ParseIncoming(message);
}

void CEPSysExLink::ParseIncoming(std::span<const uint8_t> message) {
  if (auto identity = ParseIdentityReply(message)) {
    deviceByte_.store(identity->deviceByte);
    {
      std::lock_guard lock(mutex_);
      if (identity->sku) sku_ = *identity->sku;
      ++identityCount_;
      unanswered_.store(0);
    }
    arrived_.notify_all();
    return;
  }
  std::optional<EPReply> reply = ParseReplyFrame(message);
  if (!reply) return;
  {
    std::lock_guard lock(mutex_);
    unanswered_.store(0);
    if (awaited_ != -1 && awaited_ == reply->sequence) {
      pendingReply_ = *reply;
      replyReady_ = true;
    }
  }
  arrived_.notify_all();
  DispatchEvent(reply->payload);
}

void CEPSysExLink::DispatchEvent(std::span<const uint8_t> payload) {
  const std::optional<DeviceEventMessage> message = ParseDeviceEvent(payload);
  if (!message) return;
  if (const std::string line = DeviceEventConsoleLine(*message); !line.empty()) PrintOut(line);
  std::lock_guard lock(eventMutex_);
  if (eventCallback_) eventCallback_(message->event);
}

void CEPSysExLink::SetEventCallback(EventCallback callback) {
  std::lock_guard lock(eventMutex_);
  eventCallback_ = std::move(callback);
}

std::string CEPSysExLink::Sku() const {
  std::lock_guard lock(mutex_);
  return sku_;
}

void CEPSysExLink::SetConsole(std::ostream* out, std::ostream* err) {
  std::lock_guard lock(consoleMutex_);
  outStream_ = out;
  errStream_ = err;
}

void CEPSysExLink::Print(bool toError, std::string_view text, bool lineBreak) {
  // Lines come from the owner's thread and the MIDI input thread alike.
  std::lock_guard lock(consoleMutex_);
  std::ostream& stream = toError ? (errStream_ ? *errStream_ : std::cerr) : (outStream_ ? *outStream_ : std::cout);
  stream << text;
  if (lineBreak) stream << '\n';
  stream.flush();
}

void CEPSysExLink::PrintOut(std::string_view line) { Print(false, line); }

void CEPSysExLink::PrintErr(std::string_view line) { Print(true, line); }

void CEPSysExLink::PrintOutInline(std::string_view text) { Print(false, text, false); }

std::optional<EPReply> CEPSysExLink::Exchange(std::span<const uint8_t> payload, int limitMs) {
  const uint16_t sequence = SendRequest(payload);
  EPReply reply;
  if (!WaitReply(sequence, reply, limitMs)) return std::nullopt;
  return reply;
}

void CEPSysExLink::ResetSilence() {
  std::lock_guard lock(mutex_);
  unanswered_.store(0);
  portGone_.store(false);
}

CEPSysExLink::OperationScope::OperationScope(CEPSysExLink& link) : link_(link) {
  if (link_.operationDepth_++ == 0) link_.ResetSilence();
}

CEPSysExLink::OperationScope::~OperationScope() { --link_.operationDepth_; }

}  // namespace zandrel
