// The command line as kolvane-host and kolvane-bench read it: options
// `--name value` or `--name=value`, flags that take no value, and a message
// for each misuse that echoes what was typed only as Printable text.
#ifndef KOLVANE_TESTBED_OPTIONS_H
#define KOLVANE_TESTBED_OPTIONS_H

#include <string>

namespace kolvane {
namespace testbed {

class OptionReader {
 public:
  OptionReader(int argc, char** argv) : argc_(argc), argv_(argv) {}

  // Moves to the next argument; false when there is none.
  bool Next();
  // The argument, or for "--name=value" the part before the equals sign.
  const std::string& name() const { return name_; }
  // The argument begins with '-' and is more than that: an option, not a file.
  bool IsOption() const { return name_.size() > 1 && name_[0] == '-'; }

  // The option's value, after its equals sign or else the next argument.
  // False, with "NAME needs a value", when there is none or it is empty.
  bool Value(std::string* value);
  // Sets `*flag` to true. False, with "NAME takes no value", for "--name=value".
  bool Flag(bool* flag);
  // False, with "unknown option 'NAME'".
  bool Unknown();
  // False, with `error`.
  bool Fail(const std::string& error);

  // Why the last call that returned false did.
  const std::string& error() const { return error_; }

 private:
  int argc_;
  char** argv_;
  int next_ = 1;
  std::string name_;
  std::string value_;
  bool hasValue_ = false;
  std::string error_;
};

}  // namespace testbed
}  // namespace kolvane

#endif  // KOLVANE_TESTBED_OPTIONS_H
