#include "sim/SimulatedUnit.h"

#include <algorithm>
#include <cstring>

namespace vrx4 {

SimulatedUnit::SimulatedUnit(uint16_t vendorId, uint16_t productId) : vendorId_(vendorId), productId_(productId) {}

std::array<uint8_t, 18> SimulatedUnit::deviceDescriptor() const {
  // Full-speed vendor-specific device, 64-byte control endpoint, one
  // configuration.
  return {18,
          1,
          0x00,
          0x02,
          0xFF,
          0x00,
          0x00,
          64,
          uint8_t(vendorId_),
          uint8_t(vendorId_ >> 8),
          uint8_t(productId_),
          uint8_t(productId_ >> 8),
          0x11,
          0x01,
          1,
          2,
          3,
          1};
}

uint32_t SimulatedUnit::configuration() const {
  std::lock_guard lock(mutex_);
  return configuration_;
}

void SimulatedUnit::setConfiguration(uint32_t value) {
  std::lock_guard lock(mutex_);
  configuration_ = value;
}

bool SimulatedUnit::takeFault(Fault f, uint8_t* code) {
  if (faults_.empty() || faults_.front().fault != f) return false;
  if (code) *code = faults_.front().code;
  faults_.pop_front();
  return true;
}

bool SimulatedUnit::hostWrite(const uint8_t* data, size_t length) {
  bool ok;
  {
    std::lock_guard lock(mutex_);
    ok = writeLocked(data, length);
  }
  runDetachHandler();
  return ok;
}

void SimulatedUnit::runDetachHandler() {
  std::function<void()> handler;
  {
    std::lock_guard lock(mutex_);
    if (!detachPending_) return;
    detachPending_ = false;
    handler = detachHandler_;
  }
  if (handler) handler();
}

void SimulatedUnit::detach() {
  {
    std::lock_guard lock(mutex_);
    if (detached_) return;
    detached_ = true;
    detachPending_ = true;
    configuration_ = 0;
    incoming_.clear();
    outgoing_.clear();
  }
  runDetachHandler();
}

bool SimulatedUnit::detached() const {
  std::lock_guard lock(mutex_);
  return detached_;
}

void SimulatedUnit::setDetachHandler(std::function<void()> handler) {
  std::lock_guard lock(mutex_);
  detachHandler_ = std::move(handler);
}

uint64_t SimulatedUnit::requestCount() const {
  std::lock_guard lock(mutex_);
  return requestSerial_;
}

void SimulatedUnit::setHistoryEnabled(bool on) {
  std::lock_guard lock(mutex_);
  history_ = on;
  if (!on) {
    transfers_.clear();
    requests_.clear();
  }
}

void SimulatedUnit::injectFaultAtRequest(unsigned n, Fault fault, uint8_t code) {
  std::lock_guard lock(mutex_);
  armed_.push_back({fault, code, requestSerial_ + (n ? n : 1), -1, false});
}

void SimulatedUnit::injectFaultOnCommand(uint8_t command, Fault fault, uint8_t code, bool everyTime) {
  std::lock_guard lock(mutex_);
  armed_.push_back({fault, code, 0, command, everyTime});
}

void SimulatedUnit::armTriggeredFaults(uint8_t command) {
  for (size_t i = 0; i < armed_.size();) {
    const ArmedFault& a = armed_[i];
    const bool hit = a.command < 0 ? a.atRequest == requestSerial_ : a.command == command;
    if (!hit) {
      ++i;
      continue;
    }
    faults_.push_front({a.fault, a.code});
    if (a.everyTime)
      ++i;
    else
      armed_.erase(armed_.begin() + std::ptrdiff_t(i));
  }
}

bool SimulatedUnit::writeLocked(const uint8_t* data, size_t length) {
  if (history_) transfers_.emplace_back(data, data + length);
  if (detached_) return false;
  if (stalled_) return false;
  if (length == 0) {
    if (takeFault(Fault::FailZeroLength)) return false;
    // A zero-length packet ends a transfer whose length was a multiple of
    // the 64-byte packet size.
    if (!incoming_.empty()) processRequest();
    return true;
  }
  if (takeFault(Fault::FailWrite)) return false;
  if (takeFault(Fault::Stall)) {
    stalled_ = true;
    return false;
  }
  incoming_.insert(incoming_.end(), data, data + length);
  // A transfer that ends in a short packet is complete; one that ends on a
  // packet boundary waits for its zero-length packet.
  if (length % 64 != 0) processRequest();
  return true;
}

bool SimulatedUnit::hostRead(uint8_t* data, size_t maxLength, size_t& got) {
  std::lock_guard lock(mutex_);
  got = 0;
  if (stalled_ || detached_ || withheld_) return false;
  if (takeFault(Fault::FailRead)) {
    outgoing_.clear();
    return false;
  }
  if (outgoing_.empty()) return false;
  std::vector<uint8_t> frame = std::move(outgoing_.front());
  outgoing_.pop_front();
  got = std::min(maxLength, frame.size());
  if (got) std::memcpy(data, frame.data(), got);
  return true;
}

bool SimulatedUnit::halted() const {
  std::lock_guard lock(mutex_);
  return stalled_;
}

bool SimulatedUnit::replyWithheld() const {
  std::lock_guard lock(mutex_);
  return withheld_ && !detached_;
}

void SimulatedUnit::setDripMs(unsigned ms) {
  std::lock_guard lock(mutex_);
  dripMs_ = ms;
}

unsigned SimulatedUnit::dripMs() const {
  std::lock_guard lock(mutex_);
  return dripMs_;
}

size_t SimulatedUnit::pendingReplySize() const {
  std::lock_guard lock(mutex_);
  return outgoing_.empty() ? 0 : outgoing_.front().size();
}

void SimulatedUnit::recoveryRequest() {
  std::lock_guard lock(mutex_);
  ++recoveries_;
  stalled_ = false;
  withheld_ = false;
  incoming_.clear();
  outgoing_.clear();
}

void SimulatedUnit::injectFault(Fault fault, uint8_t code) {
  std::lock_guard lock(mutex_);
  faults_.push_back({fault, code});
}

void SimulatedUnit::clearFaults() {
  std::lock_guard lock(mutex_);
  faults_.clear();
  armed_.clear();
}

std::vector<std::vector<uint8_t>> SimulatedUnit::transfers() const {
  std::lock_guard lock(mutex_);
  return transfers_;
}

std::vector<std::vector<uint8_t>> SimulatedUnit::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

int SimulatedUnit::recoveryCount() const {
  std::lock_guard lock(mutex_);
  return recoveries_;
}

void SimulatedUnit::clearHistory() {
  std::lock_guard lock(mutex_);
  transfers_.clear();
  requests_.clear();
  recoveries_ = 0;
}

SimulatedUnit::Reply SimulatedUnit::handleCommand(uint8_t, const uint8_t*, size_t) { return Reply::ok(); }

std::vector<uint8_t> SimulatedUnit::buildResponse(uint8_t command, const Reply& reply) const {
  std::vector<uint8_t> body;
  body.reserve(reply.data.size() + 3);
  body.push_back(command);
  if (reply.error) {
    body.push_back(0xAA);
    body.push_back(reply.code);
  } else {
    body.push_back(0x00);
    body.insert(body.end(), reply.data.begin(), reply.data.end());
  }
  std::vector<uint8_t> frame;
  frame.reserve(body.size() + 3);
  frame.push_back(uint8_t(body.size()));
  frame.push_back(uint8_t(body.size() >> 8));
  frame.insert(frame.end(), body.begin(), body.end());
  uint8_t sum = 0;
  for (uint8_t b : body) sum = uint8_t(sum + b);
  frame.push_back(sum);
  return frame;
}

void SimulatedUnit::processRequest() {
  std::vector<uint8_t> req = std::move(incoming_);
  incoming_.clear();
  if (history_) requests_.push_back(req);

  uint8_t command = req.size() > 2 ? req[2] : 0;
  ++requestSerial_;
  armTriggeredFaults(command);
  if (takeFault(Fault::Unplug)) {
    detached_ = true;
    detachPending_ = true;
    configuration_ = 0;
    outgoing_.clear();
    return;
  }
  Reply reply;
  // The unit checks the request's own length word and checksum first.
  const size_t n = req.size() >= 2 ? size_t(req[0] | (req[1] << 8)) : 0;
  bool wellFormed = req.size() >= 3 && n + 3 == req.size();
  if (wellFormed) {
    uint8_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum = uint8_t(sum + req[2 + i]);
    wellFormed = sum == req[2 + n];
  }
  uint8_t code = 0;
  if (!wellFormed) {
    reply = Reply::fail(225);
  } else if (takeFault(Fault::ErrorStatus, &code)) {
    reply = Reply::fail(code);
  } else {
    reply = handleCommand(command, req.data() + 3, n >= 1 ? n - 1 : 0);
  }
  if (takeFault(Fault::NoReply)) return;
  if (takeFault(Fault::Withhold)) {
    withheld_ = true;
    return;
  }

  if (takeFault(Fault::WrongEcho)) {
    outgoing_.push_back(buildResponse(uint8_t(command + 1), reply));
    return;
  }
  std::vector<uint8_t> frame = buildResponse(command, reply);
  if (takeFault(Fault::BadChecksum)) {
    frame.back() = uint8_t(frame.back() + 1);
  } else if (takeFault(Fault::ShortReply)) {
    frame.resize(std::min<size_t>(frame.size(), 2));
  } else if (takeFault(Fault::EmptyReply)) {
    frame.clear();
  } else if (takeFault(Fault::BodyLengthPastEnd)) {
    frame[0] = 0xFF;
    frame[1] = 0xFF;
  }
  outgoing_.push_back(std::move(frame));
}

}  // namespace vrx4
