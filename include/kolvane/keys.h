/* kolvane: the remote's 31 keys, as data a host can use.
 *
 * Each key has the name and the label the module reports for it through
 * IRemoteKeySink::OnKey ("Kolvane_ChannelUp", "ChannelUp"; the label is ""
 * for keys without one) and its code: the byte the card's receiver shows
 * while it is pressed (bits 16-23 of register 0x200), bits 0 and 2 clear.
 * This list is the module's own key table, in its record order: what a host
 * shows in a key-binding screen and what a test presses by name. How the
 * receiver shows a key held down, and no key at all, is in kolvane/device.h.
 *
 * KOLVANE_KEYS(X) expands X(name, label, code) once for every key, so a host
 * builds whatever it needs from it, e.g. the ready-made record type:
 *
 *   static const KolvaneKey keys[KOLVANE_KEY_COUNT] = {KOLVANE_KEYS(KOLVANE_KEY_RECORD)};
 *
 * Plain C89 and C++98; nothing is defined but macros and one type. */
#ifndef KOLVANE_KEYS_H
#define KOLVANE_KEYS_H

#define KOLVANE_KEY_COUNT 31

/* name, label, code */
#define KOLVANE_KEYS(X)                         \
  X("Kolvane_TV", "", 0x68)                     \
  X("Kolvane_FM", "", 0xA8)                     \
  X("Kolvane_Exit", "Power", 0x48)              \
  X("Kolvane_Display", "", 0x30)                \
  X("Kolvane_Freeze", "", 0x28)                 \
  X("Kolvane_Capture", "", 0x88)                \
  X("Kolvane_Video", "", 0x38)                  \
  X("Kolvane_1", "1", 0x80)                     \
  X("Kolvane_2", "2", 0x40)                     \
  X("Kolvane_3", "3", 0xC0)                     \
  X("Kolvane_Audio", "", 0x18)                  \
  X("Kolvane_4", "4", 0x20)                     \
  X("Kolvane_5", "5", 0xA0)                     \
  X("Kolvane_6", "6", 0x60)                     \
  X("Kolvane_FullScreen", "", 0xF0)             \
  X("Kolvane_7", "7", 0xE0)                     \
  X("Kolvane_8", "8", 0x10)                     \
  X("Kolvane_9", "9", 0x90)                     \
  X("Kolvane_Loop", "", 0xC8)                   \
  X("Kolvane_0", "0", 0x50)                     \
  X("Kolvane_Left", "Left", 0x00)               \
  X("Kolvane_Right", "Right", 0xE8)             \
  X("Kolvane_Mute", "Mute", 0x08)               \
  X("Kolvane_Color", "", 0xB0)                  \
  X("Kolvane_Preview", "", 0x70)                \
  X("Kolvane_ChannelUp", "ChannelUp", 0xD8)     \
  X("Kolvane_VolumeUp", "VolumeUp", 0x58)       \
  X("Kolvane_AutoScan", "", 0xB8)               \
  X("Kolvane_Enter", "Enter", 0x98)             \
  X("Kolvane_ChannelDown", "ChannelDown", 0xF8) \
  X("Kolvane_VolumeDown", "VolumeDown", 0x78)

/* Every name begins with this prefix. */
#define KOLVANE_KEY_PREFIX "Kolvane_"

typedef struct KolvaneKey {
  const char* name;
  const char* label; /* "" for keys without a label, never null */
  unsigned char code;
} KolvaneKey;

/* One KolvaneKey initializer with its comma, for KOLVANE_KEYS. */
#define KOLVANE_KEY_RECORD(name, label, code) {name, label, code},

#endif /* KOLVANE_KEYS_H */
