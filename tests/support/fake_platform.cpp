#include "support/fake_platform.h"

#include "plugin/failure_notices.h"
#include "plugin/report_writer.h"

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace tarveld::testing {

int FakePlatform::LocaleInfo(platform::LocaleId, int item, char* buffer, int size) {
  auto found = locale_items.find(item);
  if (found == locale_items.end())
    return 0;
  const std::string& text = found->second;
  if (static_cast<int>(text.size()) + 1 > size)
    return 0;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<int>(text.size()) + 1;
}

ScopedPlatform::~ScopedPlatform() {
  Writer().Finish();
  // What a test's failing disk left to tell must not reach the next test's
  // journal.
  Notices().ResetForTesting();
  platform::Install(nullptr);
}

TempDir::TempDir() {
  std::random_device seed;
  std::mt19937_64 random(seed());
  const auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = base / ("tarveld-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace tarveld::testing
