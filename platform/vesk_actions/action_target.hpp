// What an out-of-process client can ask of the application's actions; the
// session-bus service speaks it, the launcher implements it over the widget.
// Every call comes on the UI thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/vesk_actions/context.hpp"
#include "platform/vesk_actions/resource.hpp"

namespace vesk_actions {

// Outcome words of an invocation.
namespace outcome {
inline constexpr std::string_view kApplied = "applied";      // a document action was applied
inline constexpr std::string_view kCompleted = "completed";  // an operation finished at once
inline constexpr std::string_view kStarted = "started";      // an operation runs; poll its handle
inline constexpr std::string_view kRefused = "refused";      // nothing was done
inline constexpr std::string_view kFailed = "failed";        // tried and failed
}  // namespace outcome

// States of a started operation.
namespace op_state {
inline constexpr std::string_view kRunning = "running";
inline constexpr std::string_view kCompleted = "completed";
inline constexpr std::string_view kCancelled = "cancelled";
inline constexpr std::string_view kFailed = "failed";
}  // namespace op_state

struct InvokeReply {
  std::string outcome;
  std::string code;          // refusals and failures
  std::string message;       // a sentence for the client
  std::uint64_t handle = 0;  // started (and completed) operations; 0 otherwise

  friend bool operator==(const InvokeReply&, const InvokeReply&) = default;
};

struct PollReply {
  std::string state;
  std::string code;  // failed: the dotted result code
  std::string message;

  friend bool operator==(const PollReply&, const PollReply&) = default;
};

class ActionTarget {
 public:
  virtual ~ActionTarget() = default;
  // Built afresh for every call.
  virtual std::vector<Resource> tree() = 0;
  // `caller` is the provenance recorded for document actions.
  virtual InvokeReply invoke(std::string_view resource_id, std::string_view action_id, const ActionArgs& args,
                             const ActionSource& caller) = 0;
  // Any client may poll or cancel a handle; a settled operation's result
  // stays for late polls after its client left.
  virtual PollReply poll(std::uint64_t handle) = 0;
  virtual void cancel(std::uint64_t handle) = 0;
};

}  // namespace vesk_actions
