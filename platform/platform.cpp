#include "platform/platform.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace tarveld::platform {
namespace {
// Read by the report writer's thread too.
std::atomic<Platform*> installed{nullptr};
}  // namespace

Platform& Current() {
  Platform* const platform = installed.load(std::memory_order_acquire);
  return platform != nullptr ? *platform : Native();
}

void Install(Platform* platform) {
  installed.store(platform, std::memory_order_release);
}

std::string FailureReason(int os_error) {
  switch (CauseOf(os_error)) {
    case FailureCause::kHeld:
      return "another program held it";
    case FailureCause::kDenied:
      return "access was denied";
    case FailureCause::kDiskFull:
      return "the disk was full";
    case FailureCause::kOther:
      break;
  }
  return "system error " + std::to_string(os_error);
}

void ReserveForGrowth(std::string& bytes, std::uint64_t size, std::size_t chunk) {
  if (size > bytes.max_size() / 2)
    return;  // the read fails on its own
  const auto whole = static_cast<std::size_t>(size);
  bytes.reserve(whole + whole / 8 + chunk);
}

IoResult Platform::ReadFileUnlessSame(const std::string& path, std::string_view known,
                                      std::string& bytes, bool& same) {
  const IoResult result = ReadFile(path, bytes);
  same = result.ok() && bytes == known;
  if (same)
    bytes.clear();
  return result;
}

ChunkedRead::ChunkedRead(std::string& bytes, const std::string_view* known, std::uint64_t size,
                         std::size_t chunk)
    : bytes_(bytes), known_(known), size_(size), chunk_(chunk), keeping_(known == nullptr) {
  bytes_.clear();
  if (keeping_)
    ReserveForGrowth(bytes_, size_, chunk_);
  else
    scratch_.resize(chunk_);
}

char* ChunkedRead::Next() {
  if (!keeping_)
    return scratch_.data();
  const std::size_t have = bytes_.size();
  bytes_.resize(have + chunk_);
  return bytes_.data() + have;
}

void ChunkedRead::Took(std::size_t n) {
  if (keeping_) {
    bytes_.resize(bytes_.size() - chunk_ + n);
    return;
  }
  if (n <= known_->size() - matched_ &&
      std::memcmp(known_->data() + matched_, scratch_.data(), n) == 0) {
    matched_ += n;
    return;
  }
  Diverge(n);
}

void ChunkedRead::Diverge(std::size_t scratch_bytes) {
  // From here on the file is another text: what matched so far is the
  // known text's start, and what differs is in the scratch chunk.
  keeping_ = true;
  ReserveForGrowth(bytes_, size_, chunk_);
  bytes_.assign(known_->data(), matched_);
  bytes_.append(scratch_.data(), scratch_bytes);
  std::string().swap(scratch_);
}

bool ChunkedRead::Same() {
  if (keeping_)
    return false;
  if (matched_ == known_->size())
    return true;
  Diverge(0);  // the file is shorter than the known text
  return false;
}

}  // namespace tarveld::platform
