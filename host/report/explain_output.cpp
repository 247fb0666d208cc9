#include "host/report/explain_output.h"

#include <string>
#include <vector>

#include "text/json.h"

namespace kolvane {
namespace host {
namespace {

using testbed::JsonString;

// `text` as lines of at most kExplainWidth, broken between words; the
// first starts with `first`, the rest with `indent`.
void WriteWrapped(FILE* stream, const std::string& first, const std::string& indent, const std::string& text) {
  std::string line = first;
  size_t at = 0;
  bool lineHasWord = false;
  while (at < text.size()) {
    size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(at, end - at);
    if (lineHasWord && line.size() + 1 + word.size() > kExplainWidth) {
      fprintf(stream, "%s\n", line.c_str());
      line = indent;
      lineHasWord = false;
    }
    line += (lineHasWord ? " " : "") + word;
    lineHasWord = true;
    at = end + 1;
  }
  fprintf(stream, "%s\n", line.c_str());
}

std::string RunTitle(const TraceExplanation& explanation, size_t index) {
  const RunExplanation& run = explanation.runs[index];
  std::string title = explanation.RunName(index);
  if (explanation.runs.size() > 1 && !run.started.empty()) title += ", " + run.started;
  return title;
}

void WriteText(const TraceExplanation& explanation, FILE* stream) {
  const size_t runs = explanation.runs.size();
  if (runs > 1) {
    const size_t wrong = explanation.RunsWithFindings();
    WriteWrapped(stream, "", "  ",
                 "Explain: " + std::to_string(runs) + " runs of " + explanation.trace + ": " + std::to_string(wrong) +
                     " with something wrong, " + std::to_string(runs - wrong) + " with nothing wrong.");
  }
  for (size_t i = 0; i < runs; ++i) {
    const RunExplanation& run = explanation.runs[i];
    if (run.findings.empty()) {
      // One line, however long, for a program to grep.
      fprintf(stream, "Explain: %s: nothing wrong: %s.\n", RunTitle(explanation, i).c_str(), run.Counts().c_str());
      continue;
    }
    WriteWrapped(stream, "", "  ",
                 "Explain: " + RunTitle(explanation, i) + ": " +
                     Count(run.findings.size(), "thing wrong", "things wrong") + "; " + run.Counts() + ".");
    for (size_t f = 0; f < run.findings.size(); ++f) {
      const Finding& finding = run.findings[f];
      const std::string number = "  " + std::to_string(f + 1) + ". ";
      const std::string indent(number.size(), ' ');
      WriteWrapped(stream, number, indent, finding.summary);
      for (const Evidence& evidence : finding.evidence) {
        std::string where = "line " + std::to_string(evidence.line);
        if (evidence.ms >= 0) where += ", " + TraceTime(evidence.ms);
        WriteWrapped(stream, indent + "- ", indent + "  ", where + ": " + evidence.text);
      }
      if (finding.moreEvidence > 0) {
        WriteWrapped(stream, indent + "- ", indent + "  ", "and " + std::to_string(finding.moreEvidence) + " more");
      }
      if (!finding.cause.empty()) WriteWrapped(stream, indent, indent, finding.cause);
      if (!finding.cost.empty()) WriteWrapped(stream, indent, indent, "What it cost: " + finding.cost);
      WriteWrapped(stream, indent, indent, "What to do: " + finding.action);
    }
  }
}

std::string RunFields(const TraceExplanation& explanation, size_t index) {
  return "\"run\":" + std::to_string(index + 1) + ",\"runs\":" + std::to_string(explanation.runs.size()) +
         ",\"run_line\":" + std::to_string(explanation.runs[index].headerLine);
}

void WriteJsonl(const TraceExplanation& explanation, FILE* stream) {
  for (size_t i = 0; i < explanation.runs.size(); ++i) {
    const RunExplanation& run = explanation.runs[i];
    const std::string counts = ",\"keys\":" + std::to_string(run.fresh + run.repeats) +
                               ",\"fresh\":" + std::to_string(run.fresh) +
                               ",\"repeat\":" + std::to_string(run.repeats) +
                               ",\"polls\":" + std::to_string(run.polls) + ",\"length_ms\":" + std::to_string(run.ms);
    fprintf(stream, "{\"event\":\"explain_run\",%s,\"started\":%s,\"findings\":%zu%s}\n",
            RunFields(explanation, i).c_str(), JsonString(run.started).c_str(), run.findings.size(), counts.c_str());
    for (const Finding& finding : run.findings) {
      std::string evidence;
      for (const Evidence& item : finding.evidence) {
        evidence += std::string(evidence.empty() ? "" : ",") + "{\"line\":" + std::to_string(item.line) +
                    ",\"time_ms\":" + (item.ms >= 0 ? std::to_string(item.ms) : "null") +
                    ",\"text\":" + JsonString(item.text) + "}";
      }
      fprintf(stream,
              "{\"event\":\"finding\",%s,\"kind\":\"%s\",\"summary\":%s,\"evidence\":[%s],\"more_evidence\":%zu,"
              "\"cause\":%s,\"cost\":%s,\"action\":%s}\n",
              RunFields(explanation, i).c_str(), FindingName(finding.kind), JsonString(finding.summary).c_str(),
              evidence.c_str(), finding.moreEvidence, JsonString(finding.cause).c_str(),
              JsonString(finding.cost).c_str(), JsonString(finding.action).c_str());
    }
  }
  fprintf(stream, "{\"event\":\"explain\",\"trace\":%s,\"runs\":%zu,\"runs_with_findings\":%zu,\"findings\":%zu}\n",
          JsonString(explanation.trace).c_str(), explanation.runs.size(), explanation.RunsWithFindings(),
          explanation.Findings());
}

}  // namespace

void WriteExplanation(const TraceExplanation& explanation, OutputFormat format, FILE* stream) {
  if (format == OutputFormat::kJsonl) {
    WriteJsonl(explanation, stream);
  } else {
    WriteText(explanation, stream);
  }
  fflush(stream);
}

}  // namespace host
}  // namespace kolvane
