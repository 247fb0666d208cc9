// The remote's keys: a constant table from key code to name and label,
// built from the public list (kolvane/keys.h).
#ifndef KOLVANE_RECEIVER_REMOTE_KEYS_H
#define KOLVANE_RECEIVER_REMOTE_KEYS_H

#include <stdint.h>

#include "kolvane/keys.h"

namespace kolvane {

constexpr int kKeyTextSize = 32;  // NUL-padded; at most 31 characters

struct RemoteKey {
  uint32_t code;  // receiver byte with bits 0 and 2 cleared
  char name[kKeyTextSize];
  char label[kKeyTextSize];  // "" for keys without a label
};

constexpr int32_t kRemoteKeyCount = KOLVANE_KEY_COUNT;
extern const RemoteKey RemoteKeyTable[kRemoteKeyCount];

// The first record with this code, or null. Walks from index 0 upwards.
const RemoteKey* FindRemoteKey(const RemoteKey* keys, int32_t keyCount, uint32_t code);

}  // namespace kolvane

#endif  // KOLVANE_RECEIVER_REMOTE_KEYS_H
