#pragma once
// A simulated T552-VRX4 as seen from its USB pipes: it takes the bulk OUT
// transfers of request frames (with the zero-length packet that ends a
// transfer whose length is a multiple of 64), answers each complete request
// with exactly one response frame on the IN pipe, and can be told to
// misbehave in every way the host's frame exchange has to survive.
//
// Command handling lives in handleCommand(); this class owns the frame layer,
// the fault injection and the USB identity.
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace vrx4 {

class SimulatedUnit {
 public:
  // One-shot faults, each applied to the next request that arrives.
  enum class Fault {
    ErrorStatus,        // error response (byte 3 = 0xAA) with the given code
    BadChecksum,        // response checksum off by one
    WrongEcho,          // response echoes another command code (checksum right)
    ShortReply,         // only the first bytes of the response are sent
    EmptyReply,         // a zero-length IN transfer
    BodyLengthPastEnd,  // bodyLength claims more bytes than are sent
    FailWrite,          // the OUT transfer of the request fails
    FailRead,           // the IN transfer of the response fails
    FailZeroLength,     // the zero-length OUT packet fails
    Stall,              // both pipes stay halted until the recovery request
    NoReply,            // the request is taken but no response comes (a time-out)
    Withhold,           // the request is taken and the read of its response
                        // hangs until the host gives up (a real stall; ends
                        // with the recovery request)
    Unplug,             // the unit leaves the bus when this request arrives
  };

  SimulatedUnit(uint16_t vendorId, uint16_t productId);
  virtual ~SimulatedUnit() = default;
  SimulatedUnit(const SimulatedUnit&) = delete;
  SimulatedUnit& operator=(const SimulatedUnit&) = delete;

  std::array<uint8_t, 18> deviceDescriptor() const;
  uint32_t configuration() const;
  void setConfiguration(uint32_t value);

  // Host to unit: one bulk OUT transfer (length 0 = zero-length packet).
  // False when the transfer fails.
  bool hostWrite(const uint8_t* data, size_t length);
  // Unit to host: one bulk IN transfer of at most maxLength bytes. False when
  // the transfer fails or the unit has nothing to send.
  bool hostRead(uint8_t* data, size_t maxLength, size_t& got);
  // The host's recovery request (clear halt on both pipes): drops any half
  // received request and any unread response.
  void recoveryRequest();
  // True while a Stall keeps the pipes halted (until the recovery request).
  bool halted() const;
  // True while a Withhold fault holds a response back: a read hangs until
  // the host gives up.
  bool replyWithheld() const;
  // A unit whose responses come one byte every `ms` milliseconds (0: at
  // once). The transports pace their reads by it.
  void setDripMs(unsigned ms);
  unsigned dripMs() const;
  // Bytes of the response waiting to be read (0: none).
  size_t pendingReplySize() const;

  void injectFault(Fault fault, uint8_t code = 0);
  void clearFaults();
  // Faults armed for a later request instead of the next one: the n-th
  // complete request from now (1 = the next), or the next request (every
  // request when everyTime is set) carrying the given command code. Only the
  // faults of the response side apply here (all but FailWrite,
  // FailZeroLength and Stall, which act before a request is complete).
  void injectFaultAtRequest(unsigned n, Fault fault, uint8_t code = 0);
  void injectFaultOnCommand(uint8_t command, Fault fault, uint8_t code = 0, bool everyTime = false);

  // Pulls the unit off the bus: configuration 0, both pipes fail from now
  // on, and the detach handler runs (outside the unit's lock). Used for the
  // Unplug fault and for an unplug on request.
  void detach();
  bool detached() const;
  void setDetachHandler(std::function<void()> handler);

  // Complete requests handled since the unit was made.
  uint64_t requestCount() const;
  // Off: transfers() and requests() stay empty (a long-running simulator
  // would otherwise keep every page it was sent).
  void setHistoryEnabled(bool on);

  // What the unit saw, for tests: every OUT transfer as it arrived, every
  // complete request frame, and the recovery requests.
  std::vector<std::vector<uint8_t>> transfers() const;
  std::vector<std::vector<uint8_t>> requests() const;
  int recoveryCount() const;
  void clearHistory();

 protected:
  struct Reply {
    bool error = false;
    uint8_t code = 0;           // status code when error
    std::vector<uint8_t> data;  // response bytes from offset 4
    static Reply ok(std::vector<uint8_t> d = {}) { return Reply{false, 0, std::move(d)}; }
    static Reply fail(uint8_t c) { return Reply{true, c, {}}; }
  };
  // Answers one well-formed request. Called with the unit's lock held. The
  // base unit answers every command with an empty good response.
  virtual Reply handleCommand(uint8_t command, const uint8_t* payload, size_t payloadLength);

  mutable std::recursive_mutex mutex_;

 private:
  struct PendingFault {
    Fault fault;
    uint8_t code;
  };
  struct ArmedFault {
    Fault fault;
    uint8_t code;
    uint64_t atRequest;  // request serial number, 0 = by command
    int command;         // -1 = by request number
    bool everyTime;
  };
  bool writeLocked(const uint8_t* data, size_t length);
  void armTriggeredFaults(uint8_t command);
  void runDetachHandler();
  void processRequest();
  std::vector<uint8_t> buildResponse(uint8_t command, const Reply& reply) const;
  bool takeFault(Fault f, uint8_t* code = nullptr);

  uint16_t vendorId_;
  uint16_t productId_;
  uint32_t configuration_ = 1;
  bool stalled_ = false;
  bool withheld_ = false;
  unsigned dripMs_ = 0;
  std::vector<uint8_t> incoming_;  // request bytes waiting for the end of the transfer
  std::deque<std::vector<uint8_t>> outgoing_;
  std::deque<PendingFault> faults_;
  std::vector<std::vector<uint8_t>> transfers_;
  std::vector<std::vector<uint8_t>> requests_;
  int recoveries_ = 0;
  std::vector<ArmedFault> armed_;
  uint64_t requestSerial_ = 0;
  bool history_ = true;
  bool detached_ = false;
  bool detachPending_ = false;
  std::function<void()> detachHandler_;
};

}  // namespace vrx4
