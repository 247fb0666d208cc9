// A trace written into a string, as a file that grows: for traces made in
// memory (the benchmark's made-up run, tests). Allocates, so it is never the
// module's.
#ifndef KOLVANE_TRACE_STRING_OUTPUT_H
#define KOLVANE_TRACE_STRING_OUTPUT_H

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "trace/recorder.h"

namespace kolvane {

class StringTraceOutput final : public TraceOutput {
 public:
  explicit StringTraceOutput(std::string* text) : text_(text) {}
  bool Size(uint64_t* size) override {
    *size = text_->size();
    return true;
  }
  bool Append(const char* text, size_t length) override {
    text_->append(text, length);
    return true;
  }

 private:
  std::string* text_;
};

}  // namespace kolvane

#endif  // KOLVANE_TRACE_STRING_OUTPUT_H
