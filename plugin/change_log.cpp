#include "plugin/change_log.h"

#include <utility>

namespace tarveld {

// A few hundred changes to an allocation: a burst costs one allocation in
// that many calls, and a freed segment never holds back much memory.
constexpr std::size_t kSegmentItems = 256;

struct ChangeSegment {
  explicit ChangeSegment(std::uint64_t first) : base(first) {}
  const std::uint64_t base;  // the position of items[0]
  ReportChange items[kSegmentItems];
  // Set by the producer before it publishes items[0] of the next segment.
  std::atomic<ChangeSegment*> next{nullptr};
};

ChangeLog::ChangeLog() : head_(new ChangeSegment(0)), tail_(head_) {}

ChangeLog::~ChangeLog() {
  Clear();
  delete head_;
}

void ChangeLog::Append(ReportChange&& change) {
  const std::uint64_t position = published_.load(std::memory_order_relaxed);
  if (position == tail_->base + kSegmentItems) {
    ChangeSegment* next = new ChangeSegment(position);
    tail_->next.store(next, std::memory_order_release);
    tail_ = next;
  }
  tail_->items[position - tail_->base] = std::move(change);
  published_.store(position + 1, std::memory_order_release);
}

// A segment goes only when a reader standing at `on_disk` or beyond has
// stepped past its last item into the next one: a reader never stands in a
// freed segment. The one being filled always stays.
void ChangeLog::Reclaim(std::uint64_t on_disk) {
  while (head_ != tail_ && head_->base + kSegmentItems < on_disk) {
    ChangeSegment* next = head_->next.load(std::memory_order_acquire);
    delete head_;
    head_ = next;
  }
}

void ChangeLog::Clear() {
  while (head_ != tail_) {
    ChangeSegment* next = head_->next.load(std::memory_order_relaxed);
    delete head_;
    head_ = next;
  }
  delete head_;
  head_ = tail_ = new ChangeSegment(0);
  published_.store(0, std::memory_order_release);
}

ChangeLog::Reader ChangeLog::ReaderAt(std::uint64_t position) const {
  Reader reader;
  ChangeSegment* segment = head_;
  while (position >= segment->base + kSegmentItems) {
    ChangeSegment* next = segment->next.load(std::memory_order_acquire);
    if (next == nullptr)
      break;
    segment = next;
  }
  reader.segment_ = segment;
  reader.position_ = position;
  return reader;
}

const ReportChange& ChangeLog::Reader::Next() {
  if (position_ == segment_->base + kSegmentItems)
    segment_ = segment_->next.load(std::memory_order_acquire);
  return segment_->items[position_++ - segment_->base];
}

}  // namespace tarveld
