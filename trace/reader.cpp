#include "trace/reader.h"

#include <sstream>

#include "trace/format.h"

namespace kolvane {
namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// "12.345s", exactly three decimals, as the module writes report times.
bool ParseSeconds(const std::string& text, int64_t* ms) {
  const size_t dot = text.find('.');
  if (dot == std::string::npos || dot == 0 || dot > 9 || text.size() != dot + 5 || text.back() != 's') return false;
  int64_t value = 0;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (i == dot) continue;
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  *ms = value;
  return true;
}

// "# 12.345s Kolvane_ChannelUp fresh" (or "repeat").
bool ParseReport(const std::string& line, TracedReport* report) {
  std::istringstream words(line);
  std::string hash, time, name, kind, extra;
  if (!(words >> hash >> time >> name >> kind) || (words >> extra) || hash != "#") return false;
  if (kind != kTraceFresh && kind != kTraceRepeat) return false;
  if (!ParseSeconds(time, &report->ms)) return false;
  report->name = name;
  report->repeat = kind == kTraceRepeat;
  return true;
}

bool IsStep(const std::string& line) {
  std::istringstream words(line);
  std::string first;
  return (words >> first) && first == kTraceStepWord;
}

}  // namespace

bool IsTraceHeader(const std::string& line) {
  if (!StartsWith(line, kTraceHeaderStart)) return false;
  const size_t version = sizeof kTraceHeaderStart - 1;
  const size_t kind = line.find(kTraceHeaderKind, version);
  return kind != std::string::npos && kind > version && line.find(' ', version) == kind;
}

TraceReading ReadTrace(const std::string& text) {
  TraceReading reading;
  std::vector<TracedReport> pending;  // made during the step not yet written
  bool last = false;                  // the run's latest line was the cap's note
  const auto endRun = [&] {
    if (reading.runs.empty()) return;
    reading.runs.back().cut = last;
    reading.runs.back().unstepped = pending.size();
    pending.clear();
    last = false;
  };
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (number == 1) {
      if (StartsWith(line, kUtf8ByteOrderMark)) line.erase(0, sizeof kUtf8ByteOrderMark - 1);
      reading.isTrace = IsTraceHeader(line);
      if (!reading.isTrace) reading.runs.emplace_back();
    }
    // Every Start appended a run: a header ends the one before.
    if (reading.isTrace && IsTraceHeader(line)) {
      endRun();
      reading.runs.emplace_back();
      reading.runs.back().headerLine = number;
      reading.runs.back().header = line;
    }
    TraceRun& run = reading.runs.back();
    if (!line.empty()) last = StartsWith(line, kTraceCapComment);
    TracedReport report;
    if (IsStep(line)) {
      if (!pending.empty()) run.stepLinesWithReports.insert(number);
      run.reports.insert(run.reports.end(), pending.begin(), pending.end());
      pending.clear();
      run.lastStepLine = number;
    } else if (ParseReport(line, &report)) {
      pending.push_back(report);
    }
  }
  if (reading.runs.empty()) reading.runs.emplace_back();  // an empty text
  endRun();
  return reading;
}

}  // namespace kolvane
