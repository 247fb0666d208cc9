#include "host/report/session_output.h"

#include <inttypes.h>

#include "text/counts.h"
#include "text/json.h"
#include "text/printable.h"

namespace kolvane {
namespace host {
namespace {

using testbed::JsonString;

double Milliseconds(int64_t us) { return static_cast<double>(us) / 1000.0; }
double Seconds(int64_t us) { return static_cast<double>(us) / 1000000.0; }

// The pair of words the trace and --compare use too.
const char* StateWord(const KeyReport& report) { return report.repeat ? "repeat" : "fresh"; }

// A run's header is echoed whole, unless it is absurd.
constexpr size_t kMaxHeaderEchoBytes = 200;
const char kCommentStart[] = "# ";

// A run's header as the output shows it: without the comment's mark.
std::string ShownHeader(const std::string& header) {
  const size_t mark = header.rfind(kCommentStart, 0) == 0 ? sizeof kCommentStart - 1 : 0;
  return Printable(header.substr(mark), kMaxHeaderEchoBytes);
}

class TextOutput final : public SessionOutput {
 public:
  TextOutput(FILE* stream, bool verbose) : stream_(stream), verbose_(verbose) {}

  void Begin(const std::string& module, const std::string& source) override {
    fprintf(stream_, "kolvane-host: module %s\n", module.c_str());
    fprintf(stream_, "kolvane-host: %s\n", source.c_str());
    fprintf(stream_, "%8s  %-22s%-13s%-7s%s\n", "time", "key", "label", "state", "delay");
    fflush(stream_);
  }

  void Run(size_t run, size_t runs, int line, const std::string& header) override {
    fprintf(stream_, "Run %zu of %zu, line %d: %s\n", run, runs, line, ShownHeader(header).c_str());
    fflush(stream_);
  }

  void Action(int64_t us, const std::string& text) override {
    fprintf(stream_, "%7.3fs  > %s\n", Seconds(us), text.c_str());
    fflush(stream_);
  }

  void Key(const KeyReport& report) override {
    fprintf(stream_, "%7.3fs  %-22s%-13s%-7s%4.0f ms after %s\n", Seconds(report.us), report.name.c_str(),
            report.label.empty() ? "-" : report.label.c_str(), StateWord(report), Milliseconds(report.delayUs),
            report.sincePress ? "press" : "previous");
    fflush(stream_);
  }

  void Register(const RegisterRecord& record) override {
    if (!verbose_) return;
    fprintf(stream_, "%7.3fs  set-up: %s 0x%03" PRIX32 " %s 0x%08" PRIX32 "\n", Seconds(record.us),
            record.access.write ? "write" : "read ", record.access.offset, record.access.write ? "<-" : "->",
            record.access.value);
    fflush(stream_);
  }

  void End(const Summary& summary, const SessionFiles& files) override {
    std::string line =
        "Summary: " + Count(static_cast<uint64_t>(summary.buttonsPressed), "button", "buttons") + " pressed, ";
    if (summary.unknownCodes > 0)
      line += Count(static_cast<uint64_t>(summary.unknownCodes), "unknown code", "unknown codes") + ", ";
    line += Count(static_cast<uint64_t>(summary.keysReported), "key", "keys") + " reported (" +
            std::to_string(summary.fresh) + " fresh, " +
            Count(static_cast<uint64_t>(summary.repeats), "repeat", "repeats") + ")";
    fputs(line.c_str(), stream_);
    if (summary.delays > 0) {
      fprintf(stream_, "; press-to-report delay median %.0f ms, max %.0f ms", summary.medianDelayMs,
              summary.maxDelayMs);
    }
    if (summary.outputDropped > 0) {
      fprintf(stream_, "; %s of output dropped: the output could not keep up",
              Count(summary.outputDropped, "line", "lines").c_str());
    }
    fprintf(stream_, ".\nLog file: %s\n", files.log.c_str());
    if (!files.timeline.empty()) fprintf(stream_, "Timeline: %s\n", files.timeline.c_str());
    fflush(stream_);
  }

  void Compared(const TraceComparison& comparison) override {
    for (const std::string& line : ComparisonLines(comparison)) fprintf(stream_, "Compare: %s.\n", line.c_str());
    fflush(stream_);
  }

  void Problem(const std::string& message) override {
    fprintf(stream_, "kolvane-host: %s\n", message.c_str());
    fflush(stream_);
  }

 private:
  FILE* const stream_;
  const bool verbose_;
};

class JsonlOutput final : public SessionOutput {
 public:
  JsonlOutput(FILE* stream, bool verbose) : stream_(stream), verbose_(verbose) {}

  void Begin(const std::string& module, const std::string& source) override {
    Line("{\"event\":\"begin\",\"module\":" + JsonString(module) + ",\"source\":" + JsonString(source) + "}");
  }

  void Action(int64_t us, const std::string& text) override {
    Line("{\"event\":\"step\",\"time_ms\":" + Number(Milliseconds(us)) + ",\"step\":" + JsonString(text) + "}");
  }

  void Key(const KeyReport& report) override {
    Line("{\"event\":\"key\",\"time_ms\":" + Number(Milliseconds(report.us)) + ",\"name\":" + JsonString(report.name) +
         ",\"label\":" + JsonString(report.label) + ",\"state\":\"" + StateWord(report) +
         "\",\"delay_ms\":" + Number(Milliseconds(report.delayUs)) + ",\"delay_from\":\"" +
         (report.sincePress ? "press" : "previous") + "\"}");
  }

  void Register(const RegisterRecord& record) override {
    if (!verbose_) return;
    char fields[128];
    snprintf(fields, sizeof fields, "\"access\":\"%s\",\"offset\":%" PRIu32 ",\"value\":%" PRIu32,
             record.access.write ? "write" : "read", record.access.offset, record.access.value);
    Line("{\"event\":\"setup\",\"time_ms\":" + Number(Milliseconds(record.us)) + "," + fields + "}");
  }

  void End(const Summary& summary, const SessionFiles& files) override {
    std::string line = "{\"event\":\"summary\",\"buttons_pressed\":" + std::to_string(summary.buttonsPressed) +
                       ",\"unknown_codes\":" + std::to_string(summary.unknownCodes) +
                       ",\"keys_reported\":" + std::to_string(summary.keysReported) +
                       ",\"fresh\":" + std::to_string(summary.fresh) + ",\"repeat\":" + std::to_string(summary.repeats);
    if (summary.delays > 0) {
      line +=
          ",\"delay_median_ms\":" + Number(summary.medianDelayMs) + ",\"delay_max_ms\":" + Number(summary.maxDelayMs);
    }
    line += ",\"output_dropped\":" + std::to_string(summary.outputDropped);
    line += ",\"log_file\":" + JsonString(files.log);
    if (!files.timeline.empty()) line += ",\"timeline\":" + JsonString(files.timeline);
    Line(line + "}");
  }

  void Run(size_t run, size_t runs, int line, const std::string& header) override {
    Line("{\"event\":\"run\",\"run\":" + std::to_string(run) + ",\"runs\":" + std::to_string(runs) +
         ",\"line\":" + std::to_string(line) + ",\"header\":" + JsonString(ShownHeader(header)) + "}");
  }

  void Compared(const TraceComparison& comparison) override {
    std::string differing;
    for (size_t i = 0; i < comparison.runs.size(); ++i) {
      if (comparison.runs[i].difference.empty()) continue;
      differing += (differing.empty() ? "" : ",") + std::to_string(i + 1);
    }
    Line("{\"event\":\"compare\",\"trace\":" + JsonString(comparison.trace) + ",\"match\":" +
         (comparison.Match() ? "true" : "false") + ",\"runs\":" + std::to_string(comparison.runs.size()) +
         ",\"runs_matching\":" + std::to_string(comparison.Matching()) + ",\"differing_runs\":[" + differing +
         "],\"reports\":" + std::to_string(comparison.Reports()) + ",\"difference\":" +
         JsonString(FirstRunDifference(comparison)) + ",\"note\":" + JsonString(ComparisonNote(comparison)) + "}");
  }

  void Problem(const std::string& message) override {
    Line("{\"event\":\"problem\",\"message\":" + JsonString(message) + "}");
  }

 private:
  static std::string Number(double value) {
    char text[32];
    snprintf(text, sizeof text, "%.1f", value);
    return text;
  }
  void Line(const std::string& line) {
    fprintf(stream_, "%s\n", line.c_str());
    fflush(stream_);
  }

  FILE* const stream_;
  const bool verbose_;
};

}  // namespace

std::unique_ptr<SessionOutput> MakeSessionOutput(OutputFormat format, FILE* stream, bool verbose) {
  if (format == OutputFormat::kJsonl) return std::make_unique<JsonlOutput>(stream, verbose);
  return std::make_unique<TextOutput>(stream, verbose);
}

}  // namespace host
}  // namespace kolvane
