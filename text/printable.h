// Text from a trace, a script (the same format) or the command line, made
// safe to echo in a message: a file someone sends you may hold terminal
// escapes, NULs or megabytes on one line. The trace's comparison echoes the
// key names a trace holds with it, kolvane-host its scripts and command
// line, kolvane-bench its command line.
#ifndef KOLVANE_TEXT_PRINTABLE_H
#define KOLVANE_TEXT_PRINTABLE_H

#include <stddef.h>

#include <string>

namespace kolvane {

// How much of a word or a path a message echoes.
constexpr size_t kMaxEchoBytes = 64;
// A path is echoed whole unless it is absurd.
constexpr size_t kMaxPathEchoBytes = 1024;

// `text` with every control byte (C0, DEL, the C1 range) and every byte
// that is not part of valid UTF-8 written as \xNN; cut after `maxBytes` bytes of the input, marked with "...".
std::string Printable(const std::string& text, size_t maxBytes = kMaxEchoBytes);

}  // namespace kolvane

#endif  // KOLVANE_TEXT_PRINTABLE_H
