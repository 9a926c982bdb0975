#include "platform/memory_midi.h"

namespace zandrel {

MemoryMidiLine::MemoryMidiLine(std::string name) : name_(std::move(name)), thread_([this] { Run(); }) {}

MemoryMidiLine::~MemoryMidiLine() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

bool MemoryMidiLine::Post(std::span<const uint8_t> message) {
  {
    std::lock_guard lock(mutex_);
    if (unplugged_ || message.size() > maxBytes_) return false;
    queue_.emplace_back(message.begin(), message.end());
  }
  wake_.notify_all();
  return true;
}

bool MemoryMidiLine::Connect(MidiInputCallback receiver) {
  std::lock_guard lock(mutex_);
  if (receiver_ || !receiver) return false;
  receiver_ = std::move(receiver);
  return true;
}

void MemoryMidiLine::Disconnect() {
  std::unique_lock lock(mutex_);
  // From inside the receiver the delivery cannot be waited for; the receiver
  // is simply not called again.
  if (std::this_thread::get_id() != deliveryThread_) idle_.wait(lock, [this] { return !delivering_; });
  receiver_ = nullptr;
}

bool MemoryMidiLine::Connected() const {
  std::lock_guard lock(mutex_);
  return static_cast<bool>(receiver_);
}

void MemoryMidiLine::SetUnplugged(bool unplugged) {
  std::lock_guard lock(mutex_);
  unplugged_ = unplugged;
}

bool MemoryMidiLine::Unplugged() const {
  std::lock_guard lock(mutex_);
  return unplugged_;
}

void MemoryMidiLine::SetMaxMessageBytes(size_t bytes) {
  std::lock_guard lock(mutex_);
  maxBytes_ = bytes;
}

size_t MemoryMidiLine::MaxMessageBytes() const {
  std::lock_guard lock(mutex_);
  return maxBytes_;
}

int MemoryMidiLine::OpenSenders() const {
  std::lock_guard lock(mutex_);
  return senders_;
}

void MemoryMidiLine::AddSender(int delta) {
  std::lock_guard lock(mutex_);
  senders_ += delta;
}

bool MemoryMidiLine::WaitUntilDelivered(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return idle_.wait_for(lock, limit, [this] { return queue_.empty() && !delivering_; });
}

void MemoryMidiLine::Run() {
  std::unique_lock lock(mutex_);
  deliveryThread_ = std::this_thread::get_id();
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (stop_) break;
    std::vector<uint8_t> message = std::move(queue_.front());
    queue_.pop_front();
    if (receiver_) {
      // A copy, so that a receiver that disconnects itself is not destroyed
      // while it runs.
      MidiInputCallback receiver = receiver_;
      delivering_ = true;
      lock.unlock();
      receiver(message);
      receiver = nullptr;
      lock.lock();
      delivering_ = false;
    }
    idle_.notify_all();
  }
  queue_.clear();
  idle_.notify_all();
}

namespace {

class MemoryMidiInPort final : public MidiInPort {
 public:
  explicit MemoryMidiInPort(std::shared_ptr<MemoryMidiLine> line) : line_(std::move(line)) {}
  ~MemoryMidiInPort() override { Close(); }
  void Close() override {
    if (line_) line_->Disconnect();
    line_.reset();
  }

 private:
  std::shared_ptr<MemoryMidiLine> line_;
};

}  // namespace

class MemoryMidiOutPort final : public MidiOutPort {
 public:
  explicit MemoryMidiOutPort(std::shared_ptr<MemoryMidiLine> line) : line_(std::move(line)) { line_->AddSender(1); }
  ~MemoryMidiOutPort() override { Close(); }
  bool Send(std::span<const uint8_t> message) override { return line_ && line_->Post(message); }
  size_t MaxMessageBytes() const override { return line_ ? line_->MaxMessageBytes() : 0; }
  void Close() override {
    if (line_) line_->AddSender(-1);
    line_.reset();
  }

 private:
  std::shared_ptr<MemoryMidiLine> line_;
};

std::shared_ptr<MemoryMidiLine> MemoryMidiSystem::AddInput(std::string name) {
  auto line = std::make_shared<MemoryMidiLine>(std::move(name));
  std::lock_guard lock(mutex_);
  inputs_.push_back(line);
  return line;
}

std::shared_ptr<MemoryMidiLine> MemoryMidiSystem::AddOutput(std::string name) {
  auto line = std::make_shared<MemoryMidiLine>(std::move(name));
  std::lock_guard lock(mutex_);
  outputs_.push_back(line);
  return line;
}

MemoryMidiDevicePorts MemoryMidiSystem::AddDevice(const std::string& name) {
  return {AddInput(name), AddOutput(name)};
}

std::vector<std::string> MemoryMidiSystem::List(const std::vector<std::shared_ptr<MemoryMidiLine>>& lines,
                                                std::vector<std::shared_ptr<MemoryMidiLine>>& listed) {
  listed.clear();
  std::vector<std::string> names;
  for (const auto& line : lines) {
    if (line->Unplugged()) continue;
    listed.push_back(line);
    names.push_back(line->Name());
  }
  return names;
}

std::vector<std::string> MemoryMidiSystem::InputNames() {
  std::lock_guard lock(mutex_);
  return List(inputs_, listedInputs_);
}

std::vector<std::string> MemoryMidiSystem::OutputNames() {
  std::lock_guard lock(mutex_);
  return List(outputs_, listedOutputs_);
}

std::unique_ptr<MidiInPort> MemoryMidiSystem::OpenInput(size_t index, MidiInputCallback callback) {
  std::shared_ptr<MemoryMidiLine> line;
  {
    std::lock_guard lock(mutex_);
    if (index >= listedInputs_.size()) return nullptr;
    line = listedInputs_[index];
  }
  if (line->Unplugged() || !line->Connect(std::move(callback))) return nullptr;
  return std::make_unique<MemoryMidiInPort>(std::move(line));
}

std::unique_ptr<MidiOutPort> MemoryMidiSystem::OpenOutput(size_t index) {
  std::shared_ptr<MemoryMidiLine> line;
  {
    std::lock_guard lock(mutex_);
    if (index >= listedOutputs_.size()) return nullptr;
    line = listedOutputs_[index];
  }
  if (line->Unplugged()) return nullptr;
  return std::make_unique<MemoryMidiOutPort>(std::move(line));
}

}  // namespace zandrel
