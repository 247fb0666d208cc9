#include "trace/reader.h"

#include <ctype.h>
#include <stdlib.h>

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

// "1234ms": a whole number of milliseconds, 1 to a script step's longest.
bool ParseMilliseconds(const std::string& text, uint32_t* ms) {
  constexpr size_t kMostDigits = 7;  // kScriptMaxDurationMs has 7
  if (text.size() < 3 || text.size() - 2 > kMostDigits || text.compare(text.size() - 2, 2, "ms") != 0) return false;
  uint32_t value = 0;
  for (size_t i = 0; i + 2 < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<uint32_t>(text[i] - '0');
  }
  *ms = value;
  return true;
}

// "raw 0xNN DURATIONms", as the recorder writes a byte line.
bool ParseByteLine(const std::string& line, TracedByteLine* byteLine) {
  std::istringstream words(line);
  std::string word, byte, duration, extra;
  if (!(words >> word >> byte >> duration) || (words >> extra) || word != kTraceByteWord) return false;
  if (byte.size() != 4 || byte.compare(0, 2, "0x") != 0 || !isxdigit(static_cast<unsigned char>(byte[2])) ||
      !isxdigit(static_cast<unsigned char>(byte[3]))) {
    return false;
  }
  uint32_t ms = 0;
  if (!ParseMilliseconds(duration, &ms) || ms == 0 || ms > kScriptMaxDurationMs) return false;
  byteLine->byte = static_cast<uint32_t>(strtoul(byte.c_str() + 2, nullptr, 16));
  byteLine->ms = ms;
  return true;
}

// "# 1.520s poll 480ms late".
bool ParseLatePoll(const std::string& line, TracedLatePoll* late) {
  std::istringstream words(line);
  std::string hash, time, poll, amount, word, extra;
  if (!(words >> hash >> time >> poll >> amount >> word) || (words >> extra)) return false;
  if (hash != "#" || poll != kTraceLatePoll || word != kTraceLate) return false;
  return ParseSeconds(time, &late->ms) && ParseMilliseconds(amount, &late->lateMs);
}

// "# end of run, 1.730s after it began" and ", given up by Stop".
bool ParseEnd(const std::string& line, int64_t* ms, bool* givenUp) {
  const std::string start = kTraceEndStart;
  if (!StartsWith(line, kTraceEndStart)) return false;
  const size_t time = line.find(' ', start.size());
  if (time == std::string::npos || !ParseSeconds(line.substr(start.size(), time - start.size()), ms)) return false;
  *givenUp = line.size() >= sizeof kTraceGivenUp - 1 &&
             line.compare(line.size() - (sizeof kTraceGivenUp - 1), std::string::npos, kTraceGivenUp) == 0;
  return true;
}

bool IsByteLine(const std::string& line) {
  std::istringstream words(line);
  std::string first;
  return (words >> first) && first == kTraceByteWord;
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
  std::vector<TracedReport> pending;  // made during the byte line not yet written
  bool last = false;                  // the run's latest line was the cap's note
  const auto endRun = [&] {
    if (reading.runs.empty()) return;
    reading.runs.back().cut = last;
    reading.runs.back().reportsAfterLastByteLine = pending.size();
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
    if (last) run.cutLine = number;
    TracedReport report;
    TracedByteLine byteLine{number, 0, 0};
    TracedLatePoll late{number, 0, 0};
    if (IsByteLine(line)) {
      if (!pending.empty()) run.byteLinesWithReports.insert(number);
      run.reports.insert(run.reports.end(), pending.begin(), pending.end());
      pending.clear();
      run.lastByteLine = number;
      if (ParseByteLine(line, &byteLine)) {
        run.byteLines.push_back(byteLine);
      } else {
        ++run.otherByteLines;
      }
    } else if (ParseReport(line, &report)) {
      report.line = number;
      pending.push_back(report);
    } else if (ParseLatePoll(line, &late)) {
      run.latePolls.push_back(late);
    } else if (ParseEnd(line, &run.endMs, &run.givenUp)) {
      run.endLine = number;
    }
  }
  if (reading.runs.empty()) reading.runs.emplace_back();  // an empty text
  endRun();
  return reading;
}

}  // namespace kolvane
