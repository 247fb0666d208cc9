#include "receiver/remote_keys.h"

namespace kolvane {

// The module's records, in the public list's order: the one definition of the keys.
#define KOLVANE_REMOTE_KEY(name, label, code) {code, name, label},
const RemoteKey RemoteKeyTable[kRemoteKeyCount] = {KOLVANE_KEYS(KOLVANE_REMOTE_KEY)};
#undef KOLVANE_REMOTE_KEY

// The list fills the table exactly: a shorter one would leave zeroed records.
#define KOLVANE_ONE_PER_KEY(name, label, code) 'k',
constexpr char kOnePerKey[] = {KOLVANE_KEYS(KOLVANE_ONE_PER_KEY)};
#undef KOLVANE_ONE_PER_KEY
static_assert(sizeof kOnePerKey == kRemoteKeyCount, "KOLVANE_KEYS holds KOLVANE_KEY_COUNT keys");

const RemoteKey* FindRemoteKey(const RemoteKey* keys, int32_t keyCount, uint32_t code) {
  for (int32_t i = 0; i < keyCount; ++i) {
    if (keys[i].code == code) return &keys[i];
  }
  return nullptr;
}

}  // namespace kolvane
