// Whole files written for the user, and whether one can be appended to, with
// the OS's reason when that fails ("No such file or directory"), so every
// message can say why.
#ifndef KOLVANE_HOST_TEXT_FILE_H
#define KOLVANE_HOST_TEXT_FILE_H

#include <string>

namespace kolvane {
namespace host {

// Replaces the file's content with `text`. False with `reason` on failure.
bool WriteTextFile(const std::string& path, const std::string& text, std::string* reason);
// Whether a file may be appended to at `path`, asked of the OS without
// changing it: an existing regular file is opened for appending, a missing
// one created and removed again. False with `reason` otherwise.
bool CanAppendTo(const std::string& path, std::string* reason);

}  // namespace host
}  // namespace kolvane

#endif  // KOLVANE_HOST_TEXT_FILE_H
