// The command-line conventions kolvane-host and kolvane-bench share: a value
// after an equals sign or as the next argument, flags without one, and
// misuse echoed with control bytes escaped.
#include "text/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kolvane {
namespace testbed {
namespace {

// argv for OptionReader, kept alive with the test.
class CommandLine {
 public:
  explicit CommandLine(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {
    arguments_.insert(arguments_.begin(), "tool");
    for (std::string& argument : arguments_) argv_.push_back(&argument[0]);
  }
  OptionReader Reader() { return OptionReader(static_cast<int>(argv_.size()), argv_.data()); }

 private:
  std::vector<std::string> arguments_;
  std::vector<char*> argv_;
};

TEST(OptionReader, AValueFollowsAnEqualsSignOrComesAsTheNextArgument) {
  CommandLine line({"--seed=7", "--module", "lib.so", "script"});
  OptionReader in = line.Reader();
  std::string value;
  ASSERT_TRUE(in.Next());
  EXPECT_EQ(in.name(), "--seed");
  ASSERT_TRUE(in.Value(&value));
  EXPECT_EQ(value, "7");
  ASSERT_TRUE(in.Next());
  ASSERT_TRUE(in.Value(&value));
  EXPECT_EQ(value, "lib.so");
  ASSERT_TRUE(in.Next());
  EXPECT_EQ(in.name(), "script");
  EXPECT_FALSE(in.IsOption());
  EXPECT_FALSE(in.Next());
}

TEST(OptionReader, AMissingOrEmptyValueIsRefused) {
  for (const char* argument : {"--trace", "--trace="}) {
    CommandLine line({argument});
    OptionReader in = line.Reader();
    std::string value = "kept";
    ASSERT_TRUE(in.Next());
    EXPECT_FALSE(in.Value(&value));
    EXPECT_EQ(in.error(), "--trace needs a value");
    EXPECT_EQ(value, "kept");
  }
}

TEST(OptionReader, AFlagTakesNoValue) {
  CommandLine line({"--json", "--json=1"});
  OptionReader in = line.Reader();
  bool flag = false;
  ASSERT_TRUE(in.Next());
  EXPECT_TRUE(in.Flag(&flag));
  EXPECT_TRUE(flag);
  ASSERT_TRUE(in.Next());
  EXPECT_FALSE(in.Flag(&flag));
  EXPECT_EQ(in.error(), "--json takes no value");
}

TEST(OptionReader, AnUnknownOptionIsEchoedWithItsControlBytesEscaped) {
  CommandLine line({"--\x1b[2J=x", "-"});
  OptionReader in = line.Reader();
  ASSERT_TRUE(in.Next());
  EXPECT_TRUE(in.IsOption());
  EXPECT_FALSE(in.Unknown());
  EXPECT_EQ(in.error(), "unknown option '--\\x1B[2J'");
  ASSERT_TRUE(in.Next());
  EXPECT_FALSE(in.IsOption()) << "a lone '-' names standard input";
}

}  // namespace
}  // namespace testbed
}  // namespace kolvane
