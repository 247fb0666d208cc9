// The session as lines on a stream, flushed one by one so a pipe sees each
// key as it comes: text for people, JSON Lines for programs.
#ifndef KOLVANE_HOST_SESSION_OUTPUT_H
#define KOLVANE_HOST_SESSION_OUTPUT_H

#include <stdio.h>

#include <memory>
#include <string>

#include "diagnosis/compare.h"
#include "host/report/session_record.h"

namespace kolvane {
namespace host {

enum class OutputFormat { kText, kJsonl };

struct SessionFiles {
  std::string log;       // the module's log, absolute
  std::string timeline;  // "" without --timeline
};

class SessionOutput {
 public:
  virtual ~SessionOutput() = default;
  virtual void Begin(const std::string& module, const std::string& source) = 0;
  // A trace of several runs: run `run` (1-based) of `runs` begins, a fresh
  // Start of the module; `header` is its first line, as the trace has it.
  virtual void Run(size_t run, size_t runs, int line, const std::string& header) = 0;
  // An action of the run: a script step, or a button of the keyboard in
  // interactive mode (jsonl's "step" event).
  virtual void Action(int64_t us, const std::string& text) = 0;
  virtual void Key(const KeyReport& report) = 0;
  // Shown with --verbose only.
  virtual void Register(const RegisterRecord& record) = 0;
  virtual void End(const Summary& summary, const SessionFiles& files) = 0;
  // Anything wrong after the start, e.g. references the module kept.
  virtual void Problem(const std::string& message) = 0;
  // --compare: the replay's reports against the trace's, run by run.
  virtual void Compared(const TraceComparison& comparison) = 0;
};

std::unique_ptr<SessionOutput> MakeSessionOutput(OutputFormat format, FILE* stream, bool verbose);

}  // namespace host
}  // namespace kolvane

#endif  // KOLVANE_HOST_SESSION_OUTPUT_H
