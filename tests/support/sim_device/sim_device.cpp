#include "support/sim_device/sim_device.h"

#include <algorithm>

namespace zandrel::test {

SimDevice::SimDevice(SimDeviceOptions options) : options_(std::move(options)), worker_([this] { Run(); }) {
  RegisterStandardCommands(*this);
}

SimDevice::~SimDevice() {
  if (memoryPorts_.fromHost) memoryPorts_.fromHost->Disconnect();
  {
    std::lock_guard lock(queueMutex_);
    stop_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

void SimDevice::Attach(SendFunction send) {
  std::lock_guard lock(queueMutex_);
  send_ = std::move(send);
}

void SimDevice::AttachTo(MemoryMidiSystem& midi, const std::string& portName) {
  memoryPorts_ = midi.AddDevice(portName);
  memoryPorts_.fromHost->Connect([this](std::span<const uint8_t> message) { Receive(message); });
  Attach([line = memoryPorts_.toHost](std::span<const uint8_t> message) { return line->Post(message); });
}

void SimDevice::UnplugPorts(bool unplugged) {
  if (memoryPorts_.toHost) memoryPorts_.toHost->SetUnplugged(unplugged);
  if (memoryPorts_.fromHost) memoryPorts_.fromHost->SetUnplugged(unplugged);
}

void SimDevice::Receive(std::span<const uint8_t> message) {
  {
    std::lock_guard lock(queueMutex_);
    inbox_.emplace_back(message.begin(), message.end());
  }
  changed_.notify_all();
}

void SimDevice::Schedule(Bytes message, std::chrono::milliseconds delay) {
  {
    std::lock_guard lock(queueMutex_);
    outbox_.emplace(Clock::now() + delay, std::move(message));
  }
  changed_.notify_all();
}

void SimDevice::Run() {
  std::unique_lock lock(queueMutex_);
  while (!stop_) {
    if (!inbox_.empty()) {
      Bytes message = std::move(inbox_.front());
      inbox_.erase(inbox_.begin());
      handling_ = true;
      lock.unlock();
      Handle(message);
      lock.lock();
      handling_ = false;
      changed_.notify_all();
      continue;
    }
    if (!outbox_.empty() && outbox_.begin()->first <= Clock::now()) {
      Bytes message = std::move(outbox_.begin()->second);
      outbox_.erase(outbox_.begin());
      SendFunction send = send_;
      handling_ = true;
      lock.unlock();
      if (send) send(message);
      lock.lock();
      handling_ = false;
      changed_.notify_all();
      continue;
    }
    if (outbox_.empty()) {
      changed_.wait(lock);
    } else {
      changed_.wait_until(lock, outbox_.begin()->first);
    }
  }
}

void SimDevice::SetHandler(uint8_t command, SimHandler handler) {
  std::lock_guard lock(stateMutex_);
  handlers_[command] = std::move(handler);
}

void SimDevice::InjectFault(SimFault fault) {
  std::lock_guard lock(stateMutex_);
  faults_.push_back(std::move(fault));
}

void SimDevice::ClearFaults() {
  std::lock_guard lock(stateMutex_);
  faults_.clear();
}

void SimDevice::SetUnplugged(bool unplugged) {
  std::lock_guard lock(stateMutex_);
  unplugged_ = unplugged;
}

std::optional<SimFault> SimDevice::TakeFault(int command) {
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->command != kSimAnyCommand && it->command != command) continue;
    if (it->skip > 0) {
      --it->skip;
      continue;
    }
    SimFault fault = *it;
    if (it->times > 0 && --it->times == 0) faults_.erase(it);
    return fault;
  }
  return std::nullopt;
}

void SimDevice::SendEvent(const Bytes& payload, std::optional<uint16_t> sequence) {
  const uint8_t flags = sequence ? static_cast<uint8_t>(0x20 | ((*sequence >> 7) & 0x1F)) : 0x00;
  Schedule(ReplyFrame(options_.deviceId, sequence.value_or(0), 0, payload, flags));
}

void SimDevice::SendRaw(const Bytes& message, std::chrono::milliseconds delay) { Schedule(message, delay); }

namespace {

bool IsIdentityRequest(const Bytes& m) {
  return m.size() >= 6 && m[0] == 0xF0 && m[1] == 0x7E && m[3] == 0x06 && m[4] == 0x01 && m.back() == 0xF7;
}

}  // namespace

void SimDevice::Handle(const Bytes& message) {
  if (IsIdentityRequest(message)) {
    {
      std::lock_guard lock(queueMutex_);
      ++identityRequests_;
    }
    bool answer;
    {
      std::lock_guard lock(stateMutex_);
      answer = options_.answerIdentity && !unplugged_;
    }
    if (answer) Schedule(IdentityReply());
    return;
  }

  const size_t n = message.size();
  const bool framed = n >= 10 && message[0] == 0xF0 && message[1] == 0x00 && message[2] == 0x20 &&
                      message[3] == 0x76 && message[5] == 0x40 && (message[6] & 0x60) == 0x60 &&
                      message[8] == 0x05 && message[n - 1] == 0xF7;
  if (!framed) {
    std::lock_guard lock(queueMutex_);
    ++framingErrors_;
    return;
  }
  SimRequest request;
  request.sequence = static_cast<uint16_t>(((message[6] & 0x1F) << 7) | (message[7] & 0x7F));
  request.deviceByte = message[4];
  request.payload = Unpack(std::span(message).subspan(9, n - 10));
  request.frame = message;
  {
    std::lock_guard lock(queueMutex_);
    if (lastSequence_ && request.sequence != 0 && request.sequence != ((*lastSequence_ + 1) & 0x0FFF)) {
      ++sequenceErrors_;
    }
    lastSequence_ = request.sequence;
    requests_.push_back(request);
  }

  std::optional<SimReply> reply;
  std::optional<SimFault> fault;
  {
    std::lock_guard lock(stateMutex_);
    if (unplugged_) return;
    fault = TakeFault(request.Command());
    if (fault && fault->kind == SimFaultKind::Unplug) {
      unplugged_ = true;
      return;
    }
    auto handler = handlers_.find(static_cast<uint8_t>(request.payload.empty() ? 0 : request.payload[0]));
    if (request.payload.empty() || handler == handlers_.end()) {
      reply = SimReply::Error(1);
    } else {
      reply = handler->second(request, state_);
    }
  }
  if (!reply) return;

  uint16_t sequence = request.sequence;
  std::optional<uint8_t> flags;
  std::chrono::milliseconds delay{0};
  int copies = 1;
  if (fault) {
    switch (fault->kind) {
      case SimFaultKind::NoReply: return;
      case SimFaultKind::LateReply: delay = fault->delay; break;
      case SimFaultKind::WrongSequence:
        sequence = static_cast<uint16_t>((sequence + fault->sequenceOffset) & 0x0FFF);
        break;
      case SimFaultKind::ReplyFlags: flags = fault->flags; break;
      case SimFaultKind::ErrorStatus: *reply = SimReply::Error(fault->status); break;
      case SimFaultKind::TruncatePayload: reply->payload.resize(std::min(reply->payload.size(), fault->size)); break;
      case SimFaultKind::ExtendPayload: reply->payload.insert(reply->payload.end(), fault->size, fault->fill); break;
      case SimFaultKind::ReplacePayload: *reply = SimReply::Ok(fault->bytes); break;
      case SimFaultKind::DuplicateReply: copies = 2; break;
      case SimFaultKind::EventBeforeReply: SendEvent(fault->bytes); break;
      case SimFaultKind::Unplug: return;
    }
  }
  const Bytes frame = ReplyFrame(options_.deviceId, sequence, reply->status, reply->payload, flags);
  for (int i = 0; i < copies; ++i) Schedule(frame, delay);
  for (const Bytes& event : reply->eventsAfter) {
    Schedule(ReplyFrame(options_.deviceId, 0, 0, event, uint8_t{0x00}), delay);
  }
}

std::vector<SimRequest> SimDevice::Requests() const {
  std::lock_guard lock(queueMutex_);
  return requests_;
}

bool SimDevice::WaitForRequests(size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock lock(queueMutex_);
  return changed_.wait_for(lock, limit, [&] { return requests_.size() >= count; });
}

bool SimDevice::WaitUntilIdle(std::chrono::milliseconds limit) const {
  std::unique_lock lock(queueMutex_);
  return changed_.wait_for(lock, limit, [&] { return inbox_.empty() && outbox_.empty() && !handling_; });
}

void SimDevice::ClearRequests() {
  std::lock_guard lock(queueMutex_);
  requests_.clear();
}

int SimDevice::IdentityRequests() const {
  std::lock_guard lock(queueMutex_);
  return identityRequests_;
}

int SimDevice::FramingErrors() const {
  std::lock_guard lock(queueMutex_);
  return framingErrors_;
}

int SimDevice::SequenceErrors() const {
  std::lock_guard lock(queueMutex_);
  return sequenceErrors_;
}

Bytes SimDevice::Pack(std::span<const uint8_t> payload) {
  Bytes out;
  for (size_t start = 0; start < payload.size(); start += 7) {
    const size_t end = std::min(payload.size(), start + 7);
    uint8_t high = 0;
    for (size_t i = start; i < end; ++i) high |= static_cast<uint8_t>((payload[i] >> 7) << (i - start));
    out.push_back(high);
    for (size_t i = start; i < end; ++i) out.push_back(payload[i] & 0x7F);
  }
  return out;
}

Bytes SimDevice::Unpack(std::span<const uint8_t> packed) {
  Bytes out;
  for (size_t start = 0; start < packed.size(); start += 8) {
    const uint8_t high = packed[start];
    for (size_t i = 1; i < 8 && start + i < packed.size(); ++i) {
      out.push_back(static_cast<uint8_t>(packed[start + i] | (((high >> (i - 1)) & 1) << 7)));
    }
  }
  return out;
}

Bytes SimDevice::ReplyFrame(uint8_t deviceByte, uint16_t sequence, uint8_t status, std::span<const uint8_t> payload,
                            std::optional<uint8_t> flags) {
  Bytes frame = {0xF0, 0x00, 0x20, 0x76, deviceByte, 0x00,
                 flags.value_or(static_cast<uint8_t>(0x20 | ((sequence >> 7) & 0x1F))),
                 static_cast<uint8_t>(sequence & 0x7F), 0x05, status};
  const Bytes packed = Pack(payload);
  frame.insert(frame.end(), packed.begin(), packed.end());
  frame.push_back(0xF7);
  return frame;
}

Bytes SimDevice::IdentityReply() const {
  if (!options_.identityReply.empty()) return options_.identityReply;
  return {0xF0, 0x7E, options_.deviceId, 0x06, 0x02, 0x00, 0x20, 0x76, 0x05,
          0x01, 0x07, 0x00, 0x01, 0x00, 0x00, 0x00, 0xF7};
}

}  // namespace zandrel::test
