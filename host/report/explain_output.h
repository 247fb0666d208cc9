// --explain's report: for people, a block a run (a run with nothing wrong
// in one line), each finding with its evidence, cause and what to do; or
// JSON Lines for programs.
#ifndef KOLVANE_HOST_EXPLAIN_OUTPUT_H
#define KOLVANE_HOST_EXPLAIN_OUTPUT_H

#include <stdio.h>

#include "diagnosis/explain.h"
#include "host/report/session_output.h"

namespace kolvane {
namespace host {

// Text lines are wrapped at this width.
constexpr size_t kExplainWidth = 100;

void WriteExplanation(const TraceExplanation& explanation, OutputFormat format, FILE* stream);

}  // namespace host
}  // namespace kolvane

#endif  // KOLVANE_HOST_EXPLAIN_OUTPUT_H
