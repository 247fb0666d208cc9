// Runs the test binary inside a fresh, empty directory of its own, so the
// module's log ("Quillfern.log", relative to the current directory) starts
// absent and parallel test processes never share one.
#ifndef KOLVANE_TESTS_SUPPORT_SCRATCH_DIRECTORY_H
#define KOLVANE_TESTS_SUPPORT_SCRATCH_DIRECTORY_H

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace kolvane {
namespace test {

class ScratchDirectory : public ::testing::Environment {
 public:
  void SetUp() override {
    namespace fs = std::filesystem;
    std::random_device random;
    previous_ = fs::current_path();
    path_ = fs::temp_directory_path() / ("kolvane-test-" + std::to_string(random()) + std::to_string(random()));
    fs::create_directories(path_);
    fs::current_path(path_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
  }

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

// The log's lines, line ends (CRLF on Windows) stripped; empty when absent.
inline std::vector<std::string> ReadLogLines(const char* name = "Quillfern.log") {
  std::vector<std::string> lines;
  std::ifstream file(name, std::ios::binary);
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

inline void RemoveLog(const char* name = "Quillfern.log") {
  std::error_code ignored;
  std::filesystem::remove_all(name, ignored);
}

}  // namespace test
}  // namespace kolvane

#endif  // KOLVANE_TESTS_SUPPORT_SCRATCH_DIRECTORY_H
