// Text from a script or the command line, made safe to echo in a message:
// a file someone sends you may hold terminal escapes, NULs or megabytes on
// one line.
#ifndef KOLVANE_HOST_PRINTABLE_H
#define KOLVANE_HOST_PRINTABLE_H

#include <stddef.h>

#include <string>

namespace kolvane {
namespace host {

// How much of a word or a path a message echoes.
constexpr size_t kMaxEchoBytes = 64;
// A path is echoed whole unless it is absurd.
constexpr size_t kMaxPathEchoBytes = 1024;

// `text` with every control byte (C0, DEL, the C1 range) and every byte
// that is not part of valid UTF-8 written as \xNN; cut after `maxBytes` bytes of the input, marked with "...".
std::string Printable(const std::string& text, size_t maxBytes = kMaxEchoBytes);

}  // namespace host
}  // namespace kolvane

#endif  // KOLVANE_HOST_PRINTABLE_H
