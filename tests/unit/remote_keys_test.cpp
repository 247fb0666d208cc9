// The remote's key table and its lookup: every key by code, name and label,
// the codes that no key has, and the table's own invariants.
#include "receiver/remote_keys.h"

#include <stdint.h>

#include <cstring>
#include <set>
#include <string>

#include "gtest/gtest.h"
#include "kolvane/keys.h"

namespace kolvane {
namespace {

struct ExpectedKey {
  uint32_t code;
  const char* name;
  const char* label;
};

// The remote's keys in table order, written out independently of the table.
constexpr ExpectedKey kExpectedKeys[] = {
    {0x68, "Kolvane_TV", ""},
    {0xA8, "Kolvane_FM", ""},
    {0x48, "Kolvane_Exit", "Power"},
    {0x30, "Kolvane_Display", ""},
    {0x28, "Kolvane_Freeze", ""},
    {0x88, "Kolvane_Capture", ""},
    {0x38, "Kolvane_Video", ""},
    {0x80, "Kolvane_1", "1"},
    {0x40, "Kolvane_2", "2"},
    {0xC0, "Kolvane_3", "3"},
    {0x18, "Kolvane_Audio", ""},
    {0x20, "Kolvane_4", "4"},
    {0xA0, "Kolvane_5", "5"},
    {0x60, "Kolvane_6", "6"},
    {0xF0, "Kolvane_FullScreen", ""},
    {0xE0, "Kolvane_7", "7"},
    {0x10, "Kolvane_8", "8"},
    {0x90, "Kolvane_9", "9"},
    {0xC8, "Kolvane_Loop", ""},
    {0x50, "Kolvane_0", "0"},
    {0x00, "Kolvane_Left", "Left"},
    {0xE8, "Kolvane_Right", "Right"},
    {0x08, "Kolvane_Mute", "Mute"},
    {0xB0, "Kolvane_Color", ""},
    {0x70, "Kolvane_Preview", ""},
    {0xD8, "Kolvane_ChannelUp", "ChannelUp"},
    {0x58, "Kolvane_VolumeUp", "VolumeUp"},
    {0xB8, "Kolvane_AutoScan", ""},
    {0x98, "Kolvane_Enter", "Enter"},
    {0xF8, "Kolvane_ChannelDown", "ChannelDown"},
    {0x78, "Kolvane_VolumeDown", "VolumeDown"},
};
constexpr uint32_t kMissingCode = 0xD0;  // the one multiple of 8 without a key

const RemoteKey* Find(uint32_t code) { return FindRemoteKey(RemoteKeyTable, kRemoteKeyCount, code); }

// True when the field holds a string that ends within it and only NULs follow.
::testing::AssertionResult NulPadded(const char (&field)[kKeyTextSize]) {
  const void* end = std::memchr(field, '\0', sizeof field);
  if (end == nullptr) return ::testing::AssertionFailure() << "no NUL within " << sizeof field << " bytes";
  for (size_t i = static_cast<size_t>(static_cast<const char*>(end) - field); i < sizeof field; ++i) {
    if (field[i] != '\0') return ::testing::AssertionFailure() << "byte " << i << " after the NUL is not NUL";
  }
  return ::testing::AssertionSuccess();
}

TEST(RemoteKeyTable, HoldsThe31KeysInOrder) {
  ASSERT_EQ(kRemoteKeyCount, 31);
  ASSERT_EQ(sizeof kExpectedKeys / sizeof kExpectedKeys[0], 31u);
  for (int i = 0; i < kRemoteKeyCount; ++i) {
    SCOPED_TRACE(::testing::Message() << "record " << i);
    EXPECT_EQ(RemoteKeyTable[i].code, kExpectedKeys[i].code);
    EXPECT_STREQ(RemoteKeyTable[i].name, kExpectedKeys[i].name);
    EXPECT_STREQ(RemoteKeyTable[i].label, kExpectedKeys[i].label);
  }
}

// The list hosts get (kolvane/keys.h), record by record: the module's table
// is built from it, and both must be the remote's keys as written above.
TEST(PublicKeyList, HoldsThe31KeysInTheModulesOrder) {
#define KOLVANE_TEST_LISTED(name, label, code) ExpectedKey{code, name, label},
  constexpr ExpectedKey kListed[] = {KOLVANE_KEYS(KOLVANE_TEST_LISTED)};
#undef KOLVANE_TEST_LISTED
  ASSERT_EQ(KOLVANE_KEY_COUNT, 31);
  ASSERT_EQ(sizeof kListed / sizeof kListed[0], 31u);
  for (int i = 0; i < KOLVANE_KEY_COUNT; ++i) {
    SCOPED_TRACE(::testing::Message() << "record " << i);
    EXPECT_EQ(kListed[i].code, kExpectedKeys[i].code);
    EXPECT_STREQ(kListed[i].name, kExpectedKeys[i].name);
    EXPECT_STREQ(kListed[i].label, kExpectedKeys[i].label);
    EXPECT_EQ(RemoteKeyTable[i].code, kListed[i].code);
    EXPECT_STREQ(RemoteKeyTable[i].name, kListed[i].name);
    EXPECT_STREQ(RemoteKeyTable[i].label, kListed[i].label);
  }
}

TEST(PublicKeyList, TheRecordTypeHoldsEveryKey) {
  static const KolvaneKey keys[KOLVANE_KEY_COUNT] = {KOLVANE_KEYS(KOLVANE_KEY_RECORD)};
  for (int i = 0; i < KOLVANE_KEY_COUNT; ++i) {
    SCOPED_TRACE(::testing::Message() << "record " << i);
    EXPECT_EQ(keys[i].code, kExpectedKeys[i].code);
    EXPECT_STREQ(keys[i].name, kExpectedKeys[i].name);
    EXPECT_STREQ(keys[i].label, kExpectedKeys[i].label);
    EXPECT_EQ(std::string(keys[i].name).rfind(KOLVANE_KEY_PREFIX, 0), 0u);
  }
}

TEST(RemoteKeyTable, EveryCodeFindsItsOwnRecordInTheTable) {
  for (int i = 0; i < kRemoteKeyCount; ++i) {
    const ExpectedKey& expected = kExpectedKeys[i];
    SCOPED_TRACE(::testing::Message() << expected.name);
    const RemoteKey* key = Find(expected.code);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key, &RemoteKeyTable[i]);  // a pointer into the table, not a copy
    EXPECT_STREQ(key->name, expected.name);
    EXPECT_STREQ(key->label, expected.label);
  }
}

TEST(RemoteKeyTable, CodeZeroIsTheLeftKey) {
  const RemoteKey* key = Find(0x00);
  ASSERT_NE(key, nullptr);
  EXPECT_STREQ(key->name, "Kolvane_Left");
  EXPECT_STREQ(key->label, "Left");
}

TEST(RemoteKeyTable, TheExitKeyIsLabelledPower) {
  const RemoteKey* exit = Find(0x48);
  ASSERT_NE(exit, nullptr);
  EXPECT_STREQ(exit->name, "Kolvane_Exit");
  EXPECT_STREQ(exit->label, "Power");

  int powered = 0;
  for (const RemoteKey& key : RemoteKeyTable) {
    if (std::strcmp(key.label, "Power") == 0) {
      ++powered;
      EXPECT_STREQ(key.name, "Kolvane_Exit");
    }
  }
  EXPECT_EQ(powered, 1);
}

TEST(RemoteKeyTable, TheTVKeyHasAnEmptyLabelThatIsStillAString) {
  const RemoteKey* tv = Find(0x68);
  ASSERT_NE(tv, nullptr);
  EXPECT_STREQ(tv->name, "Kolvane_TV");
  const char* label = tv->label;  // what a sink receives
  ASSERT_NE(label, nullptr);
  EXPECT_STREQ(label, "");
}

TEST(RemoteKeyTable, CodesWithoutAKeyFindNothing) {
  EXPECT_EQ(Find(kMissingCode), nullptr);
  for (uint32_t code = 0; code < 256; ++code) {
    if ((code & 0x7) == 0) continue;  // bits 0 to 2 clear: may be a key
    EXPECT_EQ(Find(code), nullptr) << "code 0x" << std::hex << code;
  }
  // All 32 bits count: a key's code with higher bits set is another code.
  for (const ExpectedKey& expected : kExpectedKeys) {
    for (uint32_t high : {0x100u, 0x10000u, 0x80000000u}) {
      EXPECT_EQ(Find(expected.code | high), nullptr) << "code 0x" << std::hex << (expected.code | high);
    }
  }
}

TEST(RemoteKeyTable, CodesAreDistinctMultiplesOf8CoveringAllButD0) {
  std::set<uint32_t> codes;
  for (const RemoteKey& key : RemoteKeyTable) {
    EXPECT_EQ(key.code % 8, 0u) << key.name;
    EXPECT_TRUE(codes.insert(key.code).second) << "code 0x" << std::hex << key.code << " twice";
  }
  for (uint32_t code = 0; code < 256; code += 8) {
    EXPECT_EQ(codes.count(code), code == kMissingCode ? 0u : 1u) << "code 0x" << std::hex << code;
  }
}

TEST(RemoteKeyTable, NamesCarryThePrefixAndTextsAreNulPaddedFields) {
  for (const RemoteKey& key : RemoteKeyTable) {
    SCOPED_TRACE(::testing::Message() << "code 0x" << std::hex << key.code);
    EXPECT_TRUE(NulPadded(key.name)) << "name";
    EXPECT_TRUE(NulPadded(key.label)) << "label";
    EXPECT_EQ(std::string(key.name).rfind("Kolvane_", 0), 0u) << key.name;
    EXPECT_GT(std::strlen(key.name), std::strlen("Kolvane_")) << key.name;
  }
}

TEST(FindRemoteKey, LooksOnlyAtTheFirstCountRecords) {
  EXPECT_EQ(FindRemoteKey(RemoteKeyTable, 0, 0x68), nullptr);
  EXPECT_EQ(FindRemoteKey(RemoteKeyTable, -1, 0x68), nullptr);
  EXPECT_EQ(FindRemoteKey(RemoteKeyTable, 1, 0x68), &RemoteKeyTable[0]);
  EXPECT_EQ(FindRemoteKey(RemoteKeyTable, 1, 0xA8), nullptr);   // record 1
  EXPECT_EQ(FindRemoteKey(RemoteKeyTable, 30, 0x78), nullptr);  // the last record
  EXPECT_EQ(FindRemoteKey(RemoteKeyTable, 31, 0x78), &RemoteKeyTable[30]);
}

TEST(FindRemoteKey, TheFirstOfTwoRecordsWithOneCodeWins) {
  const RemoteKey keys[] = {{0x10, "Kolvane_A", ""}, {0x20, "Kolvane_B", ""}, {0x20, "Kolvane_C", ""}};
  EXPECT_EQ(FindRemoteKey(keys, 3, 0x20), &keys[1]);
}

}  // namespace
}  // namespace kolvane
