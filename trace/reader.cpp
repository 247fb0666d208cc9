#include "trace/reader.h"

#include <ctype.h>
#include <stdlib.h>

#include <algorithm>
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

namespace {

// Reads a trace's lines one by one into its runs.
class Reader {
 public:
  explicit Reader(TraceReading* reading) : reading_(*reading) {}

  void Line(std::string line, int number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (number == 1) First(&line);
    // Every Start appended a run: a header ends the one before.
    if (reading_.isTrace && IsTraceHeader(line)) {
      EndRun();
      reading_.runs.emplace_back();
      reading_.runs.back().headerLine = number;
      reading_.runs.back().header = line;
    }
    TraceRun& run = reading_.runs.back();
    run.lastLine = number;
    if (!line.empty()) capNoteLast_ = StartsWith(line, kTraceCapComment);
    if (capNoteLast_) run.cutLine = number;
    Classify(line, number, &run);
  }

  void End() {
    if (reading_.runs.empty()) reading_.runs.emplace_back();  // an empty text
    EndRun();
  }

 private:
  void First(std::string* line) {
    if (StartsWith(*line, kUtf8ByteOrderMark)) line->erase(0, sizeof kUtf8ByteOrderMark - 1);
    reading_.isTrace = IsTraceHeader(*line);
    if (!reading_.isTrace) reading_.runs.emplace_back();
  }

  void Classify(const std::string& line, int number, TraceRun* run) {
    TracedReport report;
    TracedLatePoll late{number, 0, 0};
    if (IsByteLine(line)) {
      ByteLine(line, number, run);
    } else if (ParseReport(line, &report)) {
      report.line = number;
      pending_.push_back(report);
    } else if (ParseLatePoll(line, &late)) {
      run->latePolls.push_back(late);
    } else if (ParseEnd(line, &run->endMs, &run->givenUp)) {
      run->endLine = number;
    }
  }

  // The reports made while this byte was shown come before its line.
  void ByteLine(const std::string& line, int number, TraceRun* run) {
    if (!pending_.empty()) run->byteLinesWithReports.insert(number);
    run->reports.insert(run->reports.end(), pending_.begin(), pending_.end());
    pending_.clear();
    run->lastByteLine = number;
    TracedByteLine byteLine{number, 0, 0};
    if (ParseByteLine(line, &byteLine)) {
      run->byteLines.push_back(byteLine);
    } else {
      ++run->otherByteLines;
    }
  }

  void EndRun() {
    if (reading_.runs.empty()) return;
    TraceRun& run = reading_.runs.back();
    run.cut = capNoteLast_;
    run.reportsAfterLastByteLine = pending_.size();
    run.reportsAfterLastByte = pending_;
    pending_.clear();
    capNoteLast_ = false;
  }

  TraceReading& reading_;
  std::vector<TracedReport> pending_;  // made during the byte line not yet written
  bool capNoteLast_ = false;           // the run's latest line was the cap's note
};

}  // namespace

TraceReading ReadTrace(const std::string& text) {
  TraceReading reading;
  const size_t lastEnd = text.rfind('\n');
  const size_t whole = lastEnd == std::string::npos ? 0 : lastEnd + 1;
  const bool partial = whole < text.size();
  // Whether it is a trace at all, the first line tells, whole or not.
  const size_t firstEnd = text.find('\n');
  std::string first = text.substr(0, firstEnd);
  if (StartsWith(first, kUtf8ByteOrderMark)) first.erase(0, sizeof kUtf8ByteOrderMark - 1);
  const bool cutTrace = partial && IsTraceHeader(first);
  Reader reader(&reading);
  std::istringstream lines(cutTrace ? text.substr(0, whole) : text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) reader.Line(line, ++number);
  if (cutTrace && number == 0) reader.Line(first, ++number);  // all of it one cut header
  reader.End();
  reading.wholeLength = cutTrace ? whole : text.size();
  if (cutTrace) {
    reading.partialLine =
        static_cast<int>(std::count(text.begin(), text.begin() + static_cast<ptrdiff_t>(whole), '\n')) + 1;
    reading.runs.back().partialLine = reading.partialLine;
  }
  return reading;
}

std::string PlayedText(const std::string& text, const TraceReading& reading) {
  return text.substr(0, reading.wholeLength);
}

}  // namespace kolvane
