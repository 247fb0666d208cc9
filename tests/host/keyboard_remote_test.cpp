#include <string>

#include "gtest/gtest.h"
#include "host/script/key_names.h"
#include "host/session/interactive.h"

namespace kolvane {
namespace host {
namespace {

const RemoteKey& Key(const char* spelling) { return *FindKeyBySpelling(spelling); }

Input Char(char c) {
  Input input;
  input.kind = InputKind::kChar;
  input.character = c;
  return input;
}

Input Special(InputKind kind) {
  Input input;
  input.kind = kind;
  return input;
}

TEST(KeyboardMap, KeysOfTheKeyboardAreButtonsOfTheRemote) {
  EXPECT_EQ(ButtonForInput(Char('7')), &Key("Kolvane_7"));
  EXPECT_EQ(ButtonForInput(Char('0')), &Key("Kolvane_0"));
  EXPECT_EQ(ButtonForInput(Char('+')), &Key("VolumeUp"));
  EXPECT_EQ(ButtonForInput(Char('-')), &Key("VolumeDown"));
  EXPECT_EQ(ButtonForInput(Char('m')), &Key("Mute"));
  EXPECT_EQ(ButtonForInput(Special(InputKind::kUp)), &Key("ChannelUp"));
  EXPECT_EQ(ButtonForInput(Special(InputKind::kDown)), &Key("ChannelDown"));
  EXPECT_EQ(ButtonForInput(Special(InputKind::kLeft)), &Key("Left"));
  EXPECT_EQ(ButtonForInput(Special(InputKind::kRight)), &Key("Right"));
  EXPECT_EQ(ButtonForInput(Special(InputKind::kEnter)), &Key("Enter"));
  EXPECT_EQ(ButtonForInput(Special(InputKind::kEscape)), &Key("Kolvane_Exit"));
  EXPECT_EQ(ButtonForInput(Char('x')), nullptr);
  EXPECT_EQ(ButtonForInput(Char('q')), nullptr) << "q quits, it is no button";
}

TEST(KeyboardMap, EveryCharacterOfARowTypesItsButton) {
  for (char digit = '0'; digit <= '9'; ++digit) {
    EXPECT_EQ(ButtonForInput(Char(digit)), &Key(std::string(1, digit).c_str())) << digit;
  }
  EXPECT_EQ(ButtonForInput(Char('=')), &Key("VolumeUp"));
  EXPECT_EQ(ButtonForInput(Char('_')), &Key("VolumeDown"));
  EXPECT_EQ(ButtonForInput(Char('M')), &Key("Mute"));
  EXPECT_EQ(ButtonForInput(Char(0)), nullptr) << "no character is no button";
  EXPECT_EQ(ButtonForInput(Special(InputKind::kQuit)), nullptr);
}

TEST(KeyboardMap, TheLegendNamesEachRowOnce) {
  EXPECT_STREQ(KeyboardLegend(),
               "Keys: 0-9 digits   Up/Down channel   Left/Right   +/- volume   m mute   Enter   Esc exit (Power)\n"
               "      hold a key to hold the button; q or Ctrl-C quits\n");
}

TEST(KeyboardRemote, ATapShowsTheCodeUntilTheKeyStopsComing) {
  KeyboardRemote remote;
  EXPECT_EQ(remote.ReceiverByte(), 0xFF);
  remote.Typed(Key("ChannelUp"), 1000);
  EXPECT_EQ(remote.ReceiverByte(), 0xD8);
  remote.Tick(1000 + kReleaseAfterMs - 1);
  EXPECT_EQ(remote.ReceiverByte(), 0xD8);
  remote.Tick(1000 + kReleaseAfterMs);
  EXPECT_EQ(remote.ReceiverByte(), 0xFF);
}

TEST(KeyboardRemote, AutoRepeatHoldsTheButtonUntilItStops) {
  KeyboardRemote remote;
  remote.Typed(Key("VolumeUp"), 0);
  for (int64_t t = 30; t <= 900; t += 30) {
    remote.Typed(Key("VolumeUp"), t);
    remote.Tick(t + 10);
    ASSERT_EQ(remote.ReceiverByte(), 0x59) << "held at " << t;
  }
  remote.Tick(900 + kReleaseAfterMs);
  EXPECT_EQ(remote.ReceiverByte(), 0xFF);
}

TEST(KeyboardRemote, AnotherKeyIsAFreshPressAtOnce) {
  KeyboardRemote remote;
  remote.Typed(Key("VolumeUp"), 0);
  remote.Typed(Key("VolumeUp"), 30);
  remote.Typed(Key("Mute"), 60);
  EXPECT_EQ(remote.ReceiverByte(), 0x08);
  EXPECT_FALSE(remote.held());
}

TEST(KeyboardRemote, TheSameKeyAfterAPauseIsANewPress) {
  KeyboardRemote remote;
  remote.Typed(Key("5"), 0);
  remote.Typed(Key("5"), 400);  // no Tick between: the release still counts
  EXPECT_EQ(remote.ReceiverByte(), 0xA0);
  EXPECT_FALSE(remote.held());
}

}  // namespace
}  // namespace host
}  // namespace kolvane
