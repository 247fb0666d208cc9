// What the trace tests share: a sink that keeps the names it was given, the
// lines of a file, and a fixture that gives KOLVANE_TRACE back as it found it
// and presses one key through a started module.
#ifndef KOLVANE_TESTS_MODULE_TRACE_FIXTURE_H
#define KOLVANE_TESTS_MODULE_TRACE_FIXTURE_H

#include <stdint.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "kolvane/kolvane.h"
#include "testbed/sim_card.h"
#include "tests/module/module_fixture.h"
#include "tests/support/host_doubles.h"
#include "tests/support/wait.h"
#include "trace/format.h"

namespace kolvane {
namespace test {

constexpr uint8_t kChannelUp = 0xD8;

class KeyNames : public CountedObject<IRemoteKeySink> {
 public:
  KeyNames() : CountedObject(nullptr) {}
  HRESULT STDMETHODCALLTYPE OnKey(const char* name, const char*) override {
    std::lock_guard<std::mutex> lock(mutex_);
    names_.push_back(name);
    return S_OK;
  }
  std::vector<std::string> names() {
    std::lock_guard<std::mutex> lock(mutex_);
    return names_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> names_;
};

inline std::vector<std::string> Lines(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  std::ifstream file(path, std::ios::binary);
  std::string line;
  while (std::getline(file, line)) lines.push_back(line);
  return lines;
}

inline std::string Contents(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Each test sets KOLVANE_TRACE as it needs; the value the run had comes back.
class Trace : public ModuleTest {
 protected:
  void SetUp() override {
    const char* value = getenv(KOLVANE_TRACE_VARIABLE);
    hadValue_ = value != nullptr;
    if (hadValue_) previous_ = value;
    RemoveLog();
    ModuleTest::SetUp();
  }
  void TearDown() override {
    ModuleTest::TearDown();
    testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, hadValue_ ? previous_.c_str() : nullptr);
    std::error_code ignored;
    std::filesystem::remove("run.trace", ignored);
  }
  // Starts `module` on `device`, presses ChannelUp `presses` times once the
  // poll loop runs, letting it go each time, then stops it; the sink must
  // have had every press.
  static void PressChannelUpOn(IRemoteModule* module, testbed::SimCard& device, int presses = 1) {
    KeyNames sink;
    ASSERT_EQ(module->Start(&sink, device.host()), S_OK);
    for (int press = 1; press <= presses; ++press) {
      const uint64_t polls = device.receiverPolls();
      ASSERT_TRUE(WaitUntil([&] { return device.receiverPolls() >= polls + 2; }));
      device.Press(kChannelUp);
      ASSERT_TRUE(WaitUntil([&] { return static_cast<int>(sink.names().size()) >= press; }));
      device.ReleaseKey();
    }
    const uint64_t polls = device.receiverPolls();
    ASSERT_TRUE(WaitUntil([&] { return device.receiverPolls() >= polls + 2; }));
    EXPECT_EQ(module->Stop(), S_OK);
    EXPECT_EQ(sink.names(), std::vector<std::string>(static_cast<size_t>(presses), "Kolvane_ChannelUp"));
    EXPECT_RELEASED(sink);
  }
  // One fresh press of ChannelUp with the variable as it stands.
  void PressChannelUp() {
    testbed::SimCard device;
    PressChannelUpOn(module_, device);
    EXPECT_RELEASED(device);
  }

 private:
  bool hadValue_ = false;
  std::string previous_;
};

}  // namespace test
}  // namespace kolvane

#endif  // KOLVANE_TESTS_MODULE_TRACE_FIXTURE_H
