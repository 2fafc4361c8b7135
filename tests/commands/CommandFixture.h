#pragma once
// A link to a unit whose answers the test chooses, per command code.
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "link/Commands.h"
#include "tests/link/LinkFixture.h"

namespace vrx4::test {

using Bytes = std::vector<uint8_t>;

class AnsweringUnit : public SimulatedUnit {
 public:
  AnsweringUnit() : SimulatedUnit(kUnitVendorId, kUnitProductId) {}
  // The response data (from byte 4) for every later request of this command.
  void answer(uint8_t command, Bytes data) {
    std::lock_guard lock(mutex_);
    answers_[command] = std::move(data);
  }

 protected:
  Reply handleCommand(uint8_t command, const uint8_t*, size_t) override {
    auto it = answers_.find(command);
    return it == answers_.end() ? Reply::ok() : Reply::ok(it->second);
  }

 private:
  std::map<uint8_t, Bytes> answers_;
};

class CommandTest : public LinkFixture {
 protected:
  void SetUp() override {
    LinkFixture::SetUp();
    unit = std::make_shared<AnsweringUnit>();
    driver.addUnit(unit);
    ASSERT_TRUE(openLink());
    unit->clearHistory();
  }
  // The one request frame the last call sent.
  Bytes lastRequest() const {
    auto r = unit->requests();
    return r.empty() ? Bytes{} : r.back();
  }

  std::shared_ptr<AnsweringUnit> unit;
};

// A request frame from its command byte and payload, by the frame rule:
// bodyLength, body, then the 8-bit sum of the body.
inline Bytes frameOf(const Bytes& body) {
  Bytes f{uint8_t(body.size()), uint8_t(body.size() >> 8)};
  uint8_t sum = 0;
  for (uint8_t b : body) {
    f.push_back(b);
    sum = uint8_t(sum + b);
  }
  f.push_back(sum);
  return f;
}

inline void append32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

}  // namespace vrx4::test
