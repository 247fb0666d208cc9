#include <string>

#include "gtest/gtest.h"
#include "host/script/key_names.h"
#include "host/session/interactive.h"

namespace kolvane {
namespace host {
namespace {

const RemoteKey& Key(const char* spelling) { return *FindKeyBySpelling(spelling); }

Keystroke Char(char c) {
  Keystroke keystroke;
  keystroke.kind = KeystrokeKind::kChar;
  keystroke.character = c;
  return keystroke;
}

Keystroke Special(KeystrokeKind kind) {
  Keystroke keystroke;
  keystroke.kind = kind;
  return keystroke;
}

TEST(KeyboardMap, KeysOfTheKeyboardAreButtonsOfTheRemote) {
  EXPECT_EQ(ButtonForKeystroke(Char('7')), &Key("Kolvane_7"));
  EXPECT_EQ(ButtonForKeystroke(Char('0')), &Key("Kolvane_0"));
  EXPECT_EQ(ButtonForKeystroke(Char('+')), &Key("VolumeUp"));
  EXPECT_EQ(ButtonForKeystroke(Char('-')), &Key("VolumeDown"));
  EXPECT_EQ(ButtonForKeystroke(Char('m')), &Key("Mute"));
  EXPECT_EQ(ButtonForKeystroke(Special(KeystrokeKind::kUp)), &Key("ChannelUp"));
  EXPECT_EQ(ButtonForKeystroke(Special(KeystrokeKind::kDown)), &Key("ChannelDown"));
  EXPECT_EQ(ButtonForKeystroke(Special(KeystrokeKind::kLeft)), &Key("Left"));
  EXPECT_EQ(ButtonForKeystroke(Special(KeystrokeKind::kRight)), &Key("Right"));
  EXPECT_EQ(ButtonForKeystroke(Special(KeystrokeKind::kEnter)), &Key("Enter"));
  EXPECT_EQ(ButtonForKeystroke(Special(KeystrokeKind::kEscape)), &Key("Kolvane_Exit"));
  EXPECT_EQ(ButtonForKeystroke(Char('x')), nullptr);
  EXPECT_EQ(ButtonForKeystroke(Char('q')), nullptr) << "q quits, it is no button";
}

TEST(KeyboardMap, EveryCharacterOfARowTypesItsButton) {
  for (char digit = '0'; digit <= '9'; ++digit) {
    EXPECT_EQ(ButtonForKeystroke(Char(digit)), &Key(std::string(1, digit).c_str())) << digit;
  }
  EXPECT_EQ(ButtonForKeystroke(Char('=')), &Key("VolumeUp"));
  EXPECT_EQ(ButtonForKeystroke(Char('_')), &Key("VolumeDown"));
  EXPECT_EQ(ButtonForKeystroke(Char('M')), &Key("Mute"));
  EXPECT_EQ(ButtonForKeystroke(Char(0)), nullptr) << "no character is no button";
  EXPECT_EQ(ButtonForKeystroke(Special(KeystrokeKind::kQuit)), nullptr);
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
