#include "text/printable.h"

#include <stdio.h>

namespace kolvane {
namespace {

constexpr unsigned char kDelete = 0x7F;
constexpr unsigned char kFirstPrintable = 0x20;

void Escape(unsigned char byte, std::string* out) {
  char text[8];
  snprintf(text, sizeof text, "\\x%02X", byte);
  *out += text;
}

// The length of the valid UTF-8 sequence of a printable character at `i`,
// or 0. C1 controls (U+0080-U+009F), overlong forms and surrogates are not
// printable.
size_t PrintableSequence(const std::string& text, size_t i) {
  const auto at = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = at(i);
  size_t length;
  unsigned int codePoint;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    codePoint = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    codePoint = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    codePoint = lead & 0x07u;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((at(i + k) & 0xC0) != 0x80) return 0;
    codePoint = (codePoint << 6) | (at(i + k) & 0x3Fu);
  }
  const unsigned int least[] = {0, 0, 0xA0, 0x800, 0x10000};
  if (codePoint < least[length] || codePoint > 0x10FFFF) return 0;
  if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return 0;
  return length;
}

}  // namespace

std::string Printable(const std::string& text, size_t maxBytes) {
  std::string out;
  size_t i = 0;
  while (i < text.size() && i < maxBytes) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    if (byte >= kFirstPrintable && byte < kDelete) {
      out += static_cast<char>(byte);
      ++i;
    } else if (const size_t length = byte > kDelete ? PrintableSequence(text, i) : 0; length > 0) {
      out.append(text, i, length);
      i += length;
    } else {
      Escape(byte, &out);
      ++i;
    }
  }
  if (i < text.size()) out += "...";
  return out;
}

}  // namespace kolvane
