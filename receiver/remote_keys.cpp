#include "receiver/remote_keys.h"

namespace kolvane {

const RemoteKey RemoteKeyTable[kRemoteKeyCount] = {
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

const RemoteKey* FindRemoteKey(const RemoteKey* keys, int32_t keyCount, uint32_t code) {
  for (int32_t i = 0; i < keyCount; ++i) {
    if (keys[i].code == code) return &keys[i];
  }
  return nullptr;
}

}  // namespace kolvane
