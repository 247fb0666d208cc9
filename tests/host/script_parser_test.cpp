#include <stdio.h>

#include <filesystem>
#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "host/script/script.h"
#include "text/printable.h"

namespace kolvane {
namespace host {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

Script Parsed(const std::string& text) {
  Script script;
  std::vector<std::string> errors;
  EXPECT_TRUE(ParseScript(text, "good.remote", &script, &errors)) << ::testing::PrintToString(errors);
  return script;
}

std::vector<std::string> Errors(const std::string& text) {
  Script script;
  std::vector<std::string> errors;
  EXPECT_FALSE(ParseScript(text, "bad.remote", &script, &errors));
  EXPECT_THAT(script.steps, IsEmpty()) << "a broken script must not run in part";
  return errors;
}

TEST(ScriptParser, ReadsEveryKindOfStep) {
  const Script script = Parsed(
      "press ChannelUp\n"
      "hold VolumeUp 1.2s\n"
      "wait 300ms\n"
      "raw 0x6C 60ms\n"
      "press Mute 250ms\n");
  ASSERT_EQ(script.steps.size(), 5u);
  EXPECT_EQ(script.steps[0].kind, StepKind::kPress);
  EXPECT_EQ(script.steps[0].keyCode, 0xD8);
  EXPECT_EQ(script.steps[0].durationMs, kPressShowMs);
  EXPECT_EQ(script.steps[1].kind, StepKind::kHold);
  EXPECT_EQ(script.steps[1].keyCode, 0x58);
  EXPECT_EQ(script.steps[1].durationMs, 1200u);
  EXPECT_EQ(script.steps[2].kind, StepKind::kWait);
  EXPECT_EQ(script.steps[2].durationMs, 300u);
  EXPECT_EQ(script.steps[3].kind, StepKind::kRaw);
  EXPECT_EQ(script.steps[3].receiverByte, 0x6C);
  EXPECT_EQ(script.steps[3].durationMs, 60u);
  EXPECT_EQ(script.steps[4].durationMs, 250u);
  EXPECT_EQ(script.steps[1].line, 2);
  EXPECT_EQ(script.steps[1].text, "hold VolumeUp 1.2s");
}

TEST(ScriptParser, KnowsKeysByNameShortNameOrLabelInAnyCase) {
  const Script script = Parsed(
      "press Kolvane_ChannelUp\n"
      "press channelup\n"
      "press POWER\n"  // the label of Kolvane_Exit
      "press exit\n"
      "press tv\n"  // no label: the name without the prefix
      "press 0\n"
      "press left\n");
  std::vector<int> bytes;
  for (const Step& step : script.steps) bytes.push_back(step.keyCode);
  EXPECT_THAT(bytes, ElementsAre(0xD8, 0xD8, 0x48, 0x48, 0x68, 0x50, 0x00));
  EXPECT_EQ(script.steps[2].text, "press Power");
  EXPECT_EQ(script.steps[4].text, "press TV");
}

TEST(ScriptParser, SkipsCommentsBlankLinesAndWindowsLineEnds) {
  const Script script = Parsed(
      "# a session\r\n"
      "\r\n"
      "   press 5   # channel five\r\n"
      "\t wait 1s\r\n");
  ASSERT_EQ(script.steps.size(), 2u);
  EXPECT_EQ(script.steps[0].line, 3);
  EXPECT_EQ(script.steps[0].keyCode, 0xA0);
  EXPECT_EQ(script.steps[1].durationMs, 1000u);
}

TEST(ScriptParser, ReadsBytesInHexOrDecimal) {
  const Script script = Parsed("raw 0xff 1ms\nraw 0XD9 1ms\nraw 0 1ms\nraw 216 1ms\n");
  std::vector<int> bytes;
  for (const Step& step : script.steps) bytes.push_back(step.receiverByte);
  EXPECT_THAT(bytes, ElementsAre(0xFF, 0xD9, 0x00, 0xD8));
}

TEST(ScriptParser, EmptyScriptHasNoSteps) { EXPECT_THAT(Parsed("# nothing\n\n").steps, IsEmpty()); }

TEST(ScriptParserErrors, UnknownKeySuggestsTheNearestName) {
  EXPECT_THAT(Errors("press ChanelUp\n"),
              ElementsAre("bad.remote:1: unknown key 'ChanelUp' (did you mean ChannelUp?)"));
  EXPECT_THAT(Errors("\nhold volumdown 1s\n"),
              ElementsAre(HasSubstr("bad.remote:2: unknown key 'volumdown' (did you mean VolumeDown?)")));
  EXPECT_THAT(Errors("press Kolvane_Mutte\n"), ElementsAre(HasSubstr("did you mean Kolvane_Mute?")));
}

TEST(ScriptParserErrors, BadDurationsAreRejected) {
  for (const char* duration : {"300", "1.2", "ms", "-5ms", "1,5s", "1e3ms", "2m", "1hour"}) {
    EXPECT_THAT(Errors(std::string("wait ") + duration + "\n"),
                ElementsAre(std::string("bad.remote:1: bad duration '") + duration +
                            "' (a number and a unit: ms, s, min or h, e.g. 300ms or 1.2s)"))
        << duration;
  }
}

TEST(ScriptParserErrors, AZeroDurationIsCalledZero) {
  for (const char* duration : {"0ms", "0s", "0.0h"}) {
    EXPECT_THAT(
        Errors(std::string("wait ") + duration + "\n"),
        ElementsAre(std::string("bad.remote:1: duration '") + duration + "' is zero: a step lasts at least 1ms"))
        << duration;
  }
  EXPECT_THAT(Errors("wait 0.0001s\n"), ElementsAre(HasSubstr("'0.0001s' is under 1ms")));
}

TEST(ScriptParserErrors, DurationsOverAnHourAreTooLong) {
  for (const char* duration : {"2h", "61min", "3601s", "3600001ms", "99999999999999999999s"}) {
    EXPECT_THAT(Errors(std::string("wait ") + duration + "\n"),
                ElementsAre(std::string("bad.remote:1: duration '") + duration + "' too long: a step lasts at most 1h"))
        << duration;
  }
}

TEST(ScriptParserErrors, PressesAndHoldsTooShortForThePollAreRejected) {
  EXPECT_THAT(
      Errors("press Mute 20ms\n"),
      ElementsAre("bad.remote:1: duration '20ms' too short: a press lasts at least 60ms so a 20 ms poll sees it"));
  EXPECT_THAT(Errors("hold Mute 150ms\n"),
              ElementsAre("bad.remote:1: duration '150ms' too short: a hold lasts at least 160ms (100ms pressed, then "
                          "held)"));
}

TEST(ScriptParserErrors, BadBytesAreRejected) {
  for (const char* byte : {"0x1FF", "256", "0x", "0xG1", "-1", "12a"}) {
    EXPECT_THAT(Errors(std::string("raw ") + byte + " 60ms\n"),
                ElementsAre(std::string("bad.remote:1: bad byte '") + byte + "' (0x00 to 0xFF, or 0 to 255)"))
        << byte;
  }
}

TEST(ScriptParserErrors, WrongWordsAndArgumentCounts) {
  EXPECT_THAT(Errors("jump 3\n"), ElementsAre(HasSubstr("bad.remote:1: unknown step 'jump'")));
  EXPECT_THAT(Errors("hold VolumeUp\n"), ElementsAre("bad.remote:1: expected 'hold KEY DURATION'"));
  EXPECT_THAT(Errors("press\n"), ElementsAre("bad.remote:1: expected 'press KEY [DURATION]'"));
  EXPECT_THAT(Errors("wait 1s 2s\n"), ElementsAre("bad.remote:1: expected 'wait DURATION'"));
  EXPECT_THAT(Errors("raw 0x10\n"), ElementsAre("bad.remote:1: expected 'raw BYTE DURATION'"));
}

TEST(ScriptParserErrors, EveryBadLineIsReportedAndGoodLinesDoNotRun) {
  const std::vector<std::string> errors = Errors(
      "press ChannelUp\n"
      "press Nope\n"
      "wait 1s\n"
      "wait forever\n");
  EXPECT_THAT(errors, ElementsAre(HasSubstr("bad.remote:2:"), HasSubstr("bad.remote:4:")));
}

// A script someone sent: what its errors echo must be safe on a terminal,
// whole, and short.
TEST(HostileScripts, ControlBytesInAnEchoedWordAreEscaped) {
  const std::vector<std::string> errors = Errors("press \x1B]0;owned\x07\x1B[2J\n");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].find('\x1B'), std::string::npos) << errors[0];
  EXPECT_THAT(errors[0], HasSubstr("unknown key '\\x1B]0;owned\\x07\\x1B[2J'"));
}

TEST(HostileScripts, ANulDoesNotCutTheMessage) {
  const char kExtraWord[] = "raw 0x1\0 60ms end\n";
  const std::vector<std::string> errors = Errors(std::string(kExtraWord, sizeof kExtraWord - 1));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_THAT(errors[0], HasSubstr("expected 'raw BYTE DURATION'"));
  const char kBadByte[] = "raw 0x1\0 60ms\n";
  const std::vector<std::string> byte = Errors(std::string(kBadByte, sizeof kBadByte - 1));
  ASSERT_EQ(byte.size(), 1u);
  EXPECT_EQ(byte[0].find('\0'), std::string::npos);
  EXPECT_THAT(byte[0], HasSubstr("bad byte '0x1\\x00' (0x00 to 0xFF, or 0 to 255)"));
}

TEST(HostileScripts, AnOverLongLineIsRefusedWithoutEchoingIt) {
  const std::vector<std::string> errors = Errors("press 1\npress " + std::string(50000, 'A') + "\npress 2\n");
  EXPECT_THAT(errors, ElementsAre("bad.remote:2: line longer than 1024 bytes"));
}

TEST(HostileScripts, AnAbsurdKeyNameIsShortenedAndGetsNoSuggestion) {
  const std::vector<std::string> errors = Errors("press " + std::string(1000, 'x') + "\n");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "bad.remote:1: unknown key '" + std::string(kMaxEchoBytes, 'x') + "...'");
  EXPECT_THAT(Errors("press ChanelUp\n"), ElementsAre(HasSubstr("(did you mean ChannelUp?)")));
}

TEST(HostileScripts, PrintableKeepsUtf8ButNotItsControls) {
  EXPECT_EQ(Printable("Канал"), "Канал");
  EXPECT_EQ(Printable("a\xC2\x9B"
                      "b"),
            "a\\xC2\\x9Bb")
      << "C1 CSI";
  EXPECT_EQ(Printable("\xFF\x7F"), "\\xFF\\x7F");
  EXPECT_EQ(Printable("\xE2\x82"), "\\xE2\\x82") << "a sequence cut short";
}

TEST(HostileScripts, AFileOfBadLinesIsReportedOnlySoFar) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += "jump\n";
  const std::vector<std::string> errors = Errors(text);
  ASSERT_EQ(errors.size(), kMaxReportedErrors + 1);
  EXPECT_EQ(errors.back(), "bad.remote:51: too many errors, the rest is not checked");
}

TEST(HostileScripts, AByteOrderMarkAtTheStartIsSkipped) {
  const Script script = Parsed("\xEF\xBB\xBFpress ChannelUp\r\nwait 1s\r\n");
  EXPECT_EQ(script.steps.size(), 2u);
  EXPECT_FALSE(script.fromTrace);
  EXPECT_TRUE(Parsed("\xEF\xBB\xBF# kolvane 1.0.0 trace, windows x86, started 2026-12-09 02:36:19\r\n").fromTrace);
}

// Reading the file: a directory or an endless line is refused with the reason.
TEST(ReadScriptText, ADirectoryIsRefusedWithTheReason) {
  std::string text, name, error;
  EXPECT_FALSE(ReadScriptText(".", &text, &name, &error));
  EXPECT_EQ(error, "cannot read script .: it is a directory");
  EXPECT_FALSE(ReadScriptText("no-such.remote", &text, &name, &error));
  EXPECT_THAT(error, HasSubstr("cannot read script no-such.remote: "));
}

TEST(ReadScriptText, AnEndlessLineIsRefusedEarly) {
  if (!std::filesystem::exists("/dev/zero")) GTEST_SKIP() << "no /dev/zero to read an endless line from";
  std::string text, name, error;
  EXPECT_FALSE(ReadScriptText("/dev/zero", &text, &name, &error));
  EXPECT_EQ(error, "/dev/zero:1: line longer than 1024 bytes");
  EXPECT_TRUE(text.empty());
}

TEST(ReadScriptText, ReadsAFileWhole) {
  {
    FILE* file = fopen("whole.remote", "wb");
    ASSERT_NE(file, nullptr);
    fputs("press 1\nwait 1s", file);
    fclose(file);
  }
  std::string text, name, error;
  ASSERT_TRUE(ReadScriptText("whole.remote", &text, &name, &error)) << error;
  EXPECT_EQ(text, "press 1\nwait 1s");
  EXPECT_EQ(name, "whole.remote");
}

TEST(Durations, ReadSecondsAndMillisecondsAndPrintBack) {
  uint32_t ms = 0;
  ASSERT_TRUE(ParseDuration("1.2s", &ms));
  EXPECT_EQ(ms, 1200u);
  ASSERT_TRUE(ParseDuration("0.05S", &ms));
  EXPECT_EQ(ms, 50u);
  ASSERT_TRUE(ParseDuration(".5s", &ms));
  EXPECT_EQ(ms, 500u);
  ASSERT_TRUE(ParseDuration("3600s", &ms));
  EXPECT_EQ(ms, 3600000u);
  ASSERT_TRUE(ParseDuration("1h", &ms));
  EXPECT_EQ(ms, 3600000u);
  ASSERT_TRUE(ParseDuration("2min", &ms));
  EXPECT_EQ(ms, 120000u);
  ASSERT_TRUE(ParseDuration("1.5MIN", &ms));
  EXPECT_EQ(ms, 90000u);
  ASSERT_TRUE(ParseDuration("0.25h", &ms));
  EXPECT_EQ(ms, 900000u);
  EXPECT_EQ(FormatDuration(3600000), "1h");
  EXPECT_EQ(FormatDuration(120000), "2min");
  EXPECT_EQ(FormatDuration(90000), "90s");
  EXPECT_EQ(FormatDuration(1200), "1.2s");
  EXPECT_EQ(FormatDuration(2000), "2s");
  EXPECT_EQ(FormatDuration(1250), "1250ms");
  EXPECT_EQ(FormatDuration(60), "60ms");
}

}  // namespace
}  // namespace host
}  // namespace kolvane
