#include "text/options.h"

#include "text/printable.h"

namespace kolvane {
namespace testbed {

bool OptionReader::Next() {
  if (next_ >= argc_) return false;
  name_ = argv_[next_++];
  value_.clear();
  hasValue_ = false;
  const size_t equals = name_.find('=');
  if (name_.compare(0, 2, "--") == 0 && equals != std::string::npos) {
    value_ = name_.substr(equals + 1);
    name_.resize(equals);
    hasValue_ = true;
  }
  return true;
}

bool OptionReader::Value(std::string* value) {
  if (!hasValue_ && next_ < argc_) {
    value_ = argv_[next_++];
    hasValue_ = true;
  }
  if (!hasValue_ || value_.empty()) return Fail(Printable(name_) + " needs a value");
  *value = value_;
  return true;
}

bool OptionReader::Flag(bool* flag) {
  if (hasValue_) return Fail(Printable(name_) + " takes no value");
  *flag = true;
  return true;
}

bool OptionReader::Unknown() { return Fail("unknown option '" + Printable(name_) + "'"); }

bool OptionReader::Fail(const std::string& error) {
  error_ = error;
  return false;
}

}  // namespace testbed
}  // namespace kolvane
