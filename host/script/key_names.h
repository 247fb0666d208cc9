// The remote's keys as a person types them: by name ("Kolvane_ChannelUp"),
// by name without the prefix ("ChannelUp", "TV") or by label ("Power"), in
// any case: the simulated card's own lookup (kolvane_simcard_key). Used by
// the script parser and the key list of --keys.
#ifndef KOLVANE_HOST_KEY_NAMES_H
#define KOLVANE_HOST_KEY_NAMES_H

#include <string>

#include "receiver/remote_keys.h"

namespace kolvane {
namespace host {

// The key spelled `text`, or null.
const RemoteKey* FindKeyBySpelling(const std::string& text);
// The spelling closest to `text` (fewest edits), for "did you mean"; ""
// for a text far longer than any key's name.
std::string NearestKeySpelling(const std::string& text);
// How the host writes a key: its label, or its name without the prefix.
std::string KeyDisplayName(const std::string& name, const std::string& label);
std::string KeyDisplayName(const RemoteKey& key);
// `text` with A-Z in lower case: key spellings and script words match in any case.
std::string Lower(std::string text);

}  // namespace host
}  // namespace kolvane

#endif  // KOLVANE_HOST_KEY_NAMES_H
