// kolvane-host: runs the module with no tuner card. Loads the module by path,
// starts it against a simulated device and plays a script, or the keyboard,
// on the device's receiver; prints every key the module reports. Its exit
// codes are kExitCodes below.
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "diagnosis/compare.h"
#include "diagnosis/explain.h"
#include "host/replay/trace_runs.h"
#include "host/report/explain_output.h"
#include "host/report/text_file.h"
#include "host/report/timeline.h"
#include "host/report/trace_timeline.h"
#include "host/script/key_names.h"
#include "host/script/receiver_schedule.h"
#include "host/script/script.h"
#include "host/session/interactive.h"
#include "host/session/script_runner.h"
#include "host/session/session.h"
#include "host/session/terminal.h"
#include "kolvane/kolvane.h"
#include "testbed/module_loader.h"
#include "text/json.h"
#include "text/options.h"
#include "text/printable.h"
#include "trace/reader.h"

namespace kolvane {
namespace host {
namespace {

using testbed::JsonString;

constexpr int kExitOk = 0;
constexpr int kExitModuleFault = 1;
constexpr int kExitMismatch = kExitModuleFault;  // --compare: the replay made other reports
constexpr int kExitFound = kExitModuleFault;     // --explain: something is wrong
constexpr int kExitUsage = 2;
constexpr int kExitNoModule = 3;
constexpr int kExitInterrupted = 130;

// Every exit code and what it means, written once: the usage text lists
// them, and tests/host checks host/README.md's table against that list.
struct ExitCode {
  int code;
  const char* meaning;
};
constexpr ExitCode kExitCodes[] = {
    {kExitOk, "done"},
    {kExitModuleFault, "the module misbehaved, --compare found a difference, or --explain something wrong"},
    {kExitUsage, "bad command line or script, or a file that cannot be read or written"},
    {kExitNoModule, "the module could not be loaded"},
    {kExitInterrupted, "interrupted"},
};

const char kUsageOptions[] =
    "usage: kolvane-host [options] [SCRIPT]\n"
    "\n"
    "Runs the kolvane module against a simulated tuner card. With a SCRIPT\n"
    "(\"-\" for standard input) it plays the script; with none it reads the\n"
    "keyboard when standard input is a terminal, else a script from it.\n"
    "\n"
    "  --module PATH        the module to load (default: " KOLVANE_MODULE_FILE
    "\n"
    "                       beside kolvane-host or where it is installed)\n"
    "  --format text|jsonl  output for people (default) or one JSON object a line,\n"
    "                       problems that end the run included\n"
    "  --timeline FILE.svg  draw the receiver byte, the polls and the keys; with\n"
    "                       --explain, the trace as recorded and what it found\n"
    "  --verbose            show the module's register set-up\n"
    "  --check              only check the script\n"
    "  --trace FILE         have the module append a trace of the session to FILE\n"
    "                       (sets " KOLVANE_TRACE_VARIABLE
    " for it)\n"
    "  --compare TRACE      replay TRACE and check the module makes the reports it\n"
    "                       recorded (a hold may repeat once more or less); exit 1\n"
    "                       with the first difference; plays it as with --fast\n"
    "  --explain TRACE      say what went wrong in each run of TRACE and what to do;\n"
    "                       exit 1 when something did, runs nothing\n"
    "  --slow-sink DURATION OnKey holds the poll thread this long on every key,\n"
    "                       as a host that works inside OnKey does\n"
    "  --fast               cut short every stretch that cannot change a report\n"
    "                       (an idle receiver, a code of no key)\n"
    "  --keys               list the remote's keys\n"
    "  -h, --help           this text\n"
    "  --version            the version, the same as the module's and its traces'\n"
    "\n"
    "An option's value may also follow an equals sign: --format=jsonl.\n"
    "A DURATION in a script is a number and a unit: ms, s, min or h (300ms, 1.2s).\n";

std::string Usage() {
  std::string usage = std::string(kUsageOptions) + "\nExit codes:\n";
  for (const ExitCode& exit : kExitCodes) {
    char line[96];
    snprintf(line, sizeof line, "  %-4d %s\n", exit.code, exit.meaning);
    usage += line;
  }
  return usage;
}

struct Options {
  std::string module;
  std::string script;
  std::string timeline;
  std::string trace;         // --trace: the module's trace file
  bool compare = false;      // --compare: the script is a trace to check
  bool explain = false;      // --explain: the script is a trace to explain
  uint32_t sinkDelayMs = 0;  // --slow-sink
  bool fast = false;         // --fast (and --compare): quiet stretches cut short
  OutputFormat format = OutputFormat::kText;
  bool verbose = false;
  bool checkOnly = false;
  bool listKeys = false;
  bool help = false;
  bool version = false;
};

const char kProgram[] = "kolvane-host";

// The format asked for, read ahead so that a problem with any other option
// is reported in it too.
OutputFormat RequestedFormat(int argc, char** argv) {
  OutputFormat format = OutputFormat::kText;
  testbed::OptionReader in(argc, argv);
  while (in.Next()) {
    if (in.name() != "--format") continue;
    std::string value;
    format = in.Value(&value) && value == "jsonl" ? OutputFormat::kJsonl : OutputFormat::kText;
  }
  return format;
}

// A problem that ends the run: a `problem` event with --format jsonl, else a
// line on standard error.
void ReportProblem(OutputFormat format, const std::string& message) {
  if (format == OutputFormat::kJsonl) {
    MakeSessionOutput(format, stdout, false)->Problem(message);
  } else {
    fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    fflush(stderr);
  }
}

// Refuses a second script, `second` as the user gave it, naming both.
bool MoreThanOneScript(testbed::OptionReader& in, const Options& options, const std::string& second) {
  const char* option = options.compare ? "--compare " : options.explain ? "--explain " : "";
  return in.Fail("more than one script: " + std::string(option) + "'" + Printable(options.script) + "' and " + second);
}

bool ReadOptions(testbed::OptionReader& in, Options* options) {
  while (in.Next()) {
    const std::string& name = in.name();
    bool read = true;
    if (name == "--module") {
      read = in.Value(&options->module);
    } else if (name == "--timeline") {
      read = in.Value(&options->timeline);
    } else if (name == "--trace") {
      read = in.Value(&options->trace);
    } else if (name == "--compare" || name == "--explain") {
      std::string trace;
      if (!in.Value(&trace)) return false;
      if (!options->script.empty()) return MoreThanOneScript(in, *options, name + " '" + Printable(trace) + "'");
      options->script = trace;
      (name == "--compare" ? options->compare : options->explain) = true;
    } else if (name == "--slow-sink") {
      std::string duration;
      if (!in.Value(&duration)) return false;
      if (!ParseDuration(duration, &options->sinkDelayMs)) {
        return in.Fail("bad duration '" + Printable(duration) + "' for --slow-sink (e.g. 300ms or 1.2s)");
      }
    } else if (name == "--format") {
      std::string format;
      if (!in.Value(&format)) return false;
      if (format == "text") {
        options->format = OutputFormat::kText;
      } else if (format == "jsonl") {
        options->format = OutputFormat::kJsonl;
      } else {
        return in.Fail("unknown format '" + Printable(format) + "' (text or jsonl)");
      }
    } else if (name == "--fast") {
      read = in.Flag(&options->fast);
    } else if (name == "--verbose" || name == "-v") {
      read = in.Flag(&options->verbose);
    } else if (name == "--check") {
      read = in.Flag(&options->checkOnly);
    } else if (name == "--keys") {
      read = in.Flag(&options->listKeys);
    } else if (name == "-h" || name == "--help") {
      read = in.Flag(&options->help);
    } else if (name == "--version") {
      read = in.Flag(&options->version);
    } else if (in.IsOption()) {
      return in.Unknown();
    } else if (options->script.empty()) {
      options->script = name;
    } else {
      return MoreThanOneScript(in, *options, "'" + Printable(name) + "'");
    }
    if (!read) return false;
  }
  return true;
}

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
  testbed::OptionReader in(argc, argv);
  if (ReadOptions(in, options)) return true;
  *error = in.error();
  return false;
}

void ListKeys(OutputFormat format) {
  if (format == OutputFormat::kJsonl) {
    for (const RemoteKey& key : RemoteKeyTable) {
      printf("{\"event\":\"remote_key\",\"code\":%u,\"name\":%s,\"label\":%s,\"spelling\":%s}\n",
             static_cast<unsigned>(key.code), JsonString(key.name).c_str(), JsonString(key.label).c_str(),
             JsonString(KeyDisplayName(key)).c_str());
    }
    return;
  }
  printf("%-6s%-22s%-13s%s\n", "code", "name", "label", "script spelling");
  for (const RemoteKey& key : RemoteKeyTable) {
    printf("0x%02X  %-22s%-13s%s\n", static_cast<unsigned>(key.code), key.name, key.label[0] ? key.label : "-",
           KeyDisplayName(key).c_str());
  }
}

// --check: the script is good.
void ReportChecked(OutputFormat format, const Script& script) {
  const size_t steps = script.steps.size();
  if (format == OutputFormat::kJsonl) {
    printf("{\"event\":\"check\",\"script\":%s,\"steps\":%zu}\n", JsonString(script.fileName).c_str(), steps);
  } else {
    printf("%s: %zu step%s, no errors\n", script.fileName.c_str(), steps, steps == 1 ? "" : "s");
  }
}

std::string Absolute(const std::string& path) {
  std::error_code ignored;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
  return absolute.empty() ? path : absolute.lexically_normal().string();
}

// How a session went: every run of a script one after another, or the
// keyboard's one.
struct Played {
  SessionRecord record;
  TraceComparison comparison;  // the runs' reports against the trace's
  bool completed = true;       // not interrupted
  bool stoppedCleanly = true;  // else `error` says how the module misbehaved
  std::string error;
};

// Starts a session; when the module will not start, the session is stopped
// first, so its own lines come before the problem.
bool StartSession(Session& session, uint8_t startByte, std::string* error) {
  if (session.Start(error, startByte)) return true;
  std::string ignored;
  session.Stop(&ignored);
  return false;
}

// Plays each run on a session of its own, as the module saw it: a fresh
// Start with the run's first byte on the receiver, its steps, a Stop. A run
// that is interrupted or whose module misbehaves ends the session. False
// when the module would not start (`played->error` says why).
bool PlayRuns(GetInterfacePtrFn factory, const std::vector<RunReplay>& runs, uint32_t sinkDelayMs,
              SessionOutput* output, const std::atomic<bool>& interrupted, Played* played) {
  for (size_t i = 0; i < runs.size(); ++i) {
    const RunReplay& run = runs[i];
    if (runs.size() > 1) output->Run(i + 1, runs.size(), run.trace.headerLine, run.trace.header);
    Session session(factory, output);
    session.SetSinkDelay(sinkDelayMs);
    if (!StartSession(session, run.schedule.startByte, &played->error)) return false;
    std::vector<int64_t> shownUs;
    played->completed = PlaySchedule(session, run.script, run.schedule, interrupted, &shownUs);
    // From here the session has written all its lines; the output is ours.
    played->stoppedCleanly = session.Stop(&played->error);
    if (!played->completed) output->Problem("interrupted: the module was stopped");
    SessionRecord record = session.record();
    AddRecordedNotes(run, shownUs, &record);
    played->comparison.runs.push_back(CompareRun(run.trace, ReplayedReports(run, shownUs, record.reports)));
    AppendSession(&played->record, record);
    if (!played->completed || !played->stoppedCleanly) break;
  }
  return true;
}

// The keyboard on one session, until `q` or Ctrl-C. False when the module
// would not start.
bool PlayKeyboard(GetInterfacePtrFn factory, RawKeyboard& keyboard, uint32_t sinkDelayMs, SessionOutput* output,
                  const std::atomic<bool>& interrupted, Played* played) {
  Session session(factory, output);
  session.SetSinkDelay(sinkDelayMs);
  if (!StartSession(session, kIdleReceiverByte, &played->error)) return false;
  RunInteractive(session, keyboard, interrupted);
  played->completed = !interrupted.load();
  played->stoppedCleanly = session.Stop(&played->error);
  if (!played->completed) output->Problem("interrupted: the module was stopped");
  played->record = session.record();
  return true;
}

// Where a stage of Run leaves it: empty to go on, else the exit code to end
// with, its problem reported.
using Outcome = std::optional<int>;

// The options, or the end of the run: a bad command line, --help,
// --version, --keys.
Outcome ParseCommandLine(int argc, char** argv, Options* options) {
  std::string error;
  if (!ParseOptions(argc, argv, options, &error)) {
    ReportProblem(RequestedFormat(argc, argv), error + " (see kolvane-host --help)");
    return kExitUsage;
  }
  if (options->help) {
    fputs(Usage().c_str(), stdout);
    return kExitOk;
  }
  if (options->version) {
    printf("%s %s\n", kProgram, KOLVANE_VERSION);
    return kExitOk;
  }
  if (options->listKeys) {
    ListKeys(options->format);
    return kExitOk;
  }
  return std::nullopt;
}

// What the session plays: the keyboard, or a script (a trace's runs each a
// script of its own).
struct Playlist {
  bool interactive = false;
  Script script;
  std::vector<RunReplay> runs;
  int partialLine = 0;  // a trace cut in the middle of this line, played up to the line before

  std::string Name() const { return interactive ? "interactive session" : script.fileName; }
};

// The script, read once and checked whole before anything runs: a trace's
// reports come from the same text as its steps, even when the replay
// appends to the file or it was standard input. Ends the run for a script
// with errors and for --check.
Outcome ReadPlaylist(const Options& options, Playlist* playlist) {
  const OutputFormat format = options.format;
  playlist->interactive = options.script.empty() && StdinIsTerminal();
  if (playlist->interactive) {
    if (!options.checkOnly && !options.fast) return std::nullopt;
    ReportProblem(format, std::string(options.checkOnly ? "--check" : "--fast") + " needs a script");
    return kExitUsage;
  }
  std::string text, fileName, error;
  if (!ReadScriptText(options.script.empty() ? "-" : options.script, &text, &fileName, &error)) {
    ReportProblem(format, error);
    return kExitUsage;
  }
  const TraceReading trace = ReadTrace(text);
  if (options.compare && !trace.isTrace) {
    ReportProblem(format, "not a trace: " + Printable(fileName, kMaxPathEchoBytes) + " (no trace header)");
    return kExitUsage;
  }
  if (trace.partialLine != 0) text = PlayedText(text, trace);
  playlist->partialLine = trace.partialLine;
  std::vector<std::string> errors;
  if (!ParseScript(text, fileName, &playlist->script, &errors)) {
    for (const std::string& line : errors) ReportProblem(format, line);
    return kExitUsage;
  }
  if (options.checkOnly) {
    ReportChecked(format, playlist->script);
    return kExitOk;
  }
  playlist->runs = PlanRuns(playlist->script, trace, options.fast || options.compare);
  return std::nullopt;
}

// A --timeline file that cannot be written is refused before anything runs.
Outcome CheckTimelineFile(const Options& options) {
  std::string reason;
  if (options.timeline.empty() || WriteTextFile(options.timeline, "", &reason)) return std::nullopt;
  ReportProblem(options.format,
                "cannot write timeline " + Printable(options.timeline, kMaxPathEchoBytes) + ": " + reason);
  return kExitUsage;
}

// --explain --timeline: the trace drawn as it was recorded, with the
// findings where their evidence is. A file that cannot be written after all
// (a full disk) ends the run with its reason.
Outcome DrawExplainedTrace(const Options& options, const TraceReading& trace, const TraceExplanation& explanation) {
  if (options.timeline.empty()) return std::nullopt;
  const TraceDrawing drawing = DrawTrace(trace, explanation);
  const std::string svg =
      RenderTimeline(drawing.record, "kolvane-host --explain: " + explanation.trace, drawing.findings);
  std::string reason;
  if (WriteTextFile(options.timeline, svg, &reason)) return std::nullopt;
  ReportProblem(options.format,
                "cannot write timeline " + Printable(options.timeline, kMaxPathEchoBytes) + ": " + reason);
  return kExitUsage;
}

// --explain: reads the trace and says what went wrong in each run; runs
// nothing. Ends the run whatever it finds.
Outcome ExplainTraceFile(const Options& options) {
  if (!options.explain) return std::nullopt;
  if (!options.trace.empty() || options.fast || options.checkOnly || options.sinkDelayMs != 0) {
    ReportProblem(options.format,
                  "--explain only reads a trace: it takes no --trace, --fast, --check "
                  "or --slow-sink (see kolvane-host --help)");
    return kExitUsage;
  }
  std::string text, fileName, error;
  if (!ReadScriptText(options.script, &text, &fileName, &error)) {
    ReportProblem(options.format, error);
    return kExitUsage;
  }
  const TraceReading trace = ReadTrace(text);
  if (!trace.isTrace) {
    ReportProblem(options.format, "not a trace: " + Printable(fileName, kMaxPathEchoBytes) + " (no trace header)");
    return kExitUsage;
  }
  if (const Outcome done = CheckTimelineFile(options)) return done;
  const TraceExplanation explanation = ExplainTrace(trace, fileName);
  WriteExplanation(explanation, options.format, stdout);
  if (const Outcome done = DrawExplainedTrace(options, trace, explanation)) return done;
  return explanation.Findings() == 0 ? kExitOk : kExitFound;
}

// A --timeline or --trace file that cannot be written is refused before
// anything runs: the module would only say so in its log.
Outcome CheckOutputFiles(const Options& options) {
  if (const Outcome done = CheckTimelineFile(options)) return done;
  std::string reason;
  if (!options.trace.empty() && !CanAppendTo(options.trace, &reason)) {
    ReportProblem(options.format, "cannot write trace " + options.trace + ": " + reason);
    return kExitUsage;
  }
  return std::nullopt;
}

// --trace: the module reads the variable at Start.
Outcome SetTraceVariable(const Options& options) {
  if (options.trace.empty() || testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, options.trace.c_str())) {
    return std::nullopt;
  }
  ReportProblem(options.format, std::string("cannot set ") + KOLVANE_TRACE_VARIABLE + " for --trace");
  return kExitUsage;
}

std::string ModulePath(const Options& options) {
  return options.module.empty() ? testbed::DefaultModulePath() : options.module;
}

Outcome LoadModule(const Options& options, testbed::LoadedModule* module) {
  if (module->Load(ModulePath(options))) return std::nullopt;
  ReportProblem(options.format, module->error());
  return kExitNoModule;
}

Outcome OpenKeyboard(const Options& options, const Playlist& playlist, RawKeyboard* keyboard) {
  std::string error;
  if (!playlist.interactive || keyboard->Open(&error)) return std::nullopt;
  ReportProblem(options.format, error);
  return kExitUsage;
}

// Plays the keyboard or the script's runs on the module, each key on
// `output` as it comes. Ends the run when the module would not start.
Outcome Play(const Options& options, const Playlist& playlist, GetInterfacePtrFn factory, RawKeyboard* keyboard,
             const std::atomic<bool>& interrupted, SessionOutput* output, Played* played) {
  output->Begin(Absolute(ModulePath(options)), playlist.interactive ? playlist.Name() : "script " + playlist.Name());
  played->comparison.trace = playlist.script.fileName;
  played->comparison.partialLine = playlist.partialLine;
  if (playlist.partialLine != 0) {
    output->Problem(CutInLineNote(playlist.script.fileName, playlist.partialLine, "played"));
  }
  const bool started = playlist.interactive
                           ? PlayKeyboard(factory, *keyboard, options.sinkDelayMs, output, interrupted, played)
                           : PlayRuns(factory, playlist.runs, options.sinkDelayMs, output, interrupted, played);
  if (started) return std::nullopt;
  output->Problem(played->error);
  return kExitModuleFault;
}

// --timeline: the picture of the whole session; its absolute path, or ""
// when none was asked for or it could not be written (said on `output`).
std::string WriteTimeline(const Options& options, const Playlist& playlist, const SessionRecord& record,
                          SessionOutput* output) {
  if (options.timeline.empty()) return "";
  std::string reason;
  if (WriteTextFile(options.timeline, RenderTimeline(record, "kolvane-host: " + playlist.Name()), &reason)) {
    return Absolute(options.timeline);
  }
  output->Problem("cannot write timeline " + Printable(options.timeline, kMaxPathEchoBytes) + ": " + reason);
  return "";
}

// --compare: the verdict of every run against the trace.
int CompareWithTrace(const TraceComparison& comparison, SessionOutput* output) {
  output->Compared(comparison);
  return comparison.Match() ? kExitOk : kExitMismatch;
}

// The exit code of a session that ran: a module that misbehaved first, then
// an interrupt, then a timeline that could not be written, then --compare's
// verdict (said either way).
int Conclude(const Options& options, const Played& played, bool timelineWritten, SessionOutput* output) {
  if (!played.stoppedCleanly) {
    output->Problem(played.error);
    return kExitModuleFault;
  }
  if (!played.completed) return kExitInterrupted;
  const int verdict = options.compare ? CompareWithTrace(played.comparison, output) : kExitOk;
  return timelineWritten ? verdict : kExitUsage;
}

int Run(int argc, char** argv) {
  Options options;
  if (const Outcome done = ParseCommandLine(argc, argv, &options)) return *done;
  if (const Outcome done = ExplainTraceFile(options)) return *done;
  Playlist playlist;
  if (const Outcome done = ReadPlaylist(options, &playlist)) return *done;
  if (const Outcome done = CheckOutputFiles(options)) return *done;
  if (const Outcome done = SetTraceVariable(options)) return *done;
  testbed::LoadedModule module;
  if (const Outcome done = LoadModule(options, &module)) return *done;
  std::atomic<bool> interrupted{false};
  CatchInterrupts(&interrupted);
  RawKeyboard keyboard;
  if (const Outcome done = OpenKeyboard(options, playlist, &keyboard)) return *done;

  const std::unique_ptr<SessionOutput> output = MakeSessionOutput(options.format, stdout, options.verbose);
  Played played;
  if (const Outcome done = Play(options, playlist, module.factory(), &keyboard, interrupted, output.get(), &played)) {
    return *done;
  }
  const SessionFiles files{Absolute(KOLVANE_LOG_FILE), WriteTimeline(options, playlist, played.record, output.get())};
  output->End(Summarize(played.record), files);
  const bool timelineWritten = options.timeline.empty() || !files.timeline.empty();
  return Conclude(options, played, timelineWritten, output.get());
}

}  // namespace
}  // namespace host
}  // namespace kolvane

int main(int argc, char** argv) { return kolvane::host::Run(argc, argv); }
