#include "host/script/key_names.h"

#include <string.h>

#include <algorithm>
#include <vector>

#include "kolvane/keys.h"
#include "kolvane/simcard.h"

namespace kolvane {
namespace host {
namespace {

constexpr char kNamePrefix[] = KOLVANE_KEY_PREFIX;
constexpr size_t kNamePrefixLength = sizeof kNamePrefix - 1;
// Twice the longest spelling: anything longer is no typo of a key, and the
// edit distance costs its length times each spelling's.
constexpr size_t kMaxSuggestedLength = 40;

std::string ShortName(const std::string& name) {
  return name.compare(0, kNamePrefixLength, kNamePrefix) == 0 ? name.substr(kNamePrefixLength) : name;
}

// Every spelling kolvane_simcard_key accepts, for suggestions.
std::vector<std::string> Spellings(const RemoteKey& key) {
  std::vector<std::string> spellings = {key.name, ShortName(key.name)};
  if (key.label[0] != '\0') spellings.push_back(key.label);
  return spellings;
}

size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

// The simulated card's own lookup, so a script and a host's test that
// presses on the card read a key's name alike.
const RemoteKey* FindKeyBySpelling(const std::string& text) {
  if (text.find('\0') != std::string::npos) return nullptr;
  const KolvaneKey* key = kolvane_simcard_key(text.c_str());
  return key == nullptr ? nullptr : FindRemoteKey(RemoteKeyTable, kRemoteKeyCount, key->code);
}

std::string NearestKeySpelling(const std::string& text) {
  if (text.size() > kMaxSuggestedLength) return "";
  const std::string wanted = Lower(text);
  std::string best;
  size_t bestDistance = static_cast<size_t>(-1);
  for (const RemoteKey& key : RemoteKeyTable) {
    for (const std::string& spelling : Spellings(key)) {
      const size_t distance = EditDistance(wanted, Lower(spelling));
      if (distance < bestDistance) {
        bestDistance = distance;
        best = spelling;
      }
    }
  }
  return best;
}

std::string KeyDisplayName(const std::string& name, const std::string& label) {
  return label.empty() ? ShortName(name) : label;
}

std::string KeyDisplayName(const RemoteKey& key) { return KeyDisplayName(key.name, key.label); }

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace host
}  // namespace kolvane
