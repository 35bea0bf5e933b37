#include "platform/media/Deadline.h"

#include <algorithm>

namespace quorvex::media {
namespace {

thread_local std::optional<CommandDeadline::Clock::time_point> t_deadline;

}  // namespace

CommandDeadline::CommandDeadline(Clock::duration budget) : enclosing_(t_deadline) {
  t_deadline = Clock::now() + budget;
}

CommandDeadline::~CommandDeadline() {
  t_deadline = enclosing_;
}

CommandDeadline::Clock::duration CommandDeadline::Within(Clock::duration limit) {
  if (!t_deadline)
    return limit;
  return std::clamp(*t_deadline - Clock::now(), Clock::duration::zero(), limit);
}

uint64_t CommandDeadline::WithinNs(uint64_t limit_ns) {
  const auto limit = std::chrono::nanoseconds(int64_t(std::min<uint64_t>(limit_ns, INT64_MAX)));
  return uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                      Within(std::chrono::duration_cast<Clock::duration>(limit)))
                      .count());
}

}  // namespace quorvex::media
