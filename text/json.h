// JSON strings for the reports of kolvane-host (--format jsonl) and of the
// benchmark (--json), so that both escape alike.
#ifndef KOLVANE_TESTBED_JSON_H
#define KOLVANE_TESTBED_JSON_H

#include <string>

namespace kolvane {
namespace testbed {

// `text` as a JSON string, quotes included: '"' and '\' escaped, and every
// control byte (0x00-0x1F) as \u00XX, so any path or name stays one valid
// string on one line. Other bytes pass as they are.
std::string JsonString(const std::string& text);

}  // namespace testbed
}  // namespace kolvane

#endif  // KOLVANE_TESTBED_JSON_H
