// kolvane-host: runs the module with no tuner card. Loads the module by path,
// starts it against a simulated device and plays a script, or the keyboard,
// on the device's receiver; prints every key the module reports.
//
// Exit codes: 0 done, 1 the module misbehaved (or --compare found another
// report), 2 bad command line or script,
// 3 module not loadable, 130 interrupted.
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/interactive.h"
#include "host/key_names.h"
#include "host/printable.h"
#include "host/receiver_schedule.h"
#include "host/script.h"
#include "host/script_runner.h"
#include "host/session.h"
#include "host/terminal.h"
#include "host/timeline.h"
#include "host/trace_compare.h"
#include "host/trace_reader.h"
#include "host/trace_runs.h"
#include "platform/log.h"
#include "receiver/trace_format.h"
#include "testbed/module_loader.h"

namespace kolvane {
namespace host {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitModuleFault = 1;
constexpr int kExitMismatch = 1;  // --compare: the replay made other reports
constexpr int kExitUsage = 2;
constexpr int kExitNoModule = 3;
constexpr int kExitInterrupted = 130;

const char kUsage[] =
    "usage: kolvane-host [options] [SCRIPT]\n"
    "\n"
    "Runs the kolvane module against a simulated tuner card. With a SCRIPT\n"
    "(\"-\" for standard input) it plays the script; with none it reads the\n"
    "keyboard when standard input is a terminal, else a script from it.\n"
    "\n"
    "  --module PATH        the module to load (default: " KOLVANE_MODULE_FILE
    " beside kolvane-host\n"
    "                       or where it is installed)\n"
    "  --format text|jsonl  output for people (default) or one JSON object a line\n"
    "  --timeline FILE.svg  draw the receiver byte, the polls and the keys\n"
    "  --verbose            show the module's register set-up\n"
    "  --check              only check the script\n"
    "  --trace FILE         have the module append a trace of the session to FILE\n"
    "                       (sets " KOLVANE_TRACE_VARIABLE
    " for it)\n"
    "  --compare TRACE      replay TRACE and check the module makes the reports it\n"
    "                       recorded (a hold may repeat once more or less); exit 1\n"
    "                       with the first difference; plays it as with --fast\n"
    "  --fast               cut short every stretch that cannot change a report\n"
    "                       (an idle receiver, a code of no key)\n"
    "  --keys               list the remote's keys\n"
    "  -h, --help           this text\n"
    "\n"
    "Exit codes: 0 done, 1 the module misbehaved or --compare found a difference,\n"
    "2 bad command line or script, "
    "3 module not loadable, 130 interrupted.\n";

struct Options {
  std::string module;
  std::string script;
  std::string timeline;
  std::string trace;     // --trace: the module's trace file
  bool compare = false;  // --compare: the script is a trace to check
  bool fast = false;     // --fast (and --compare): quiet stretches cut short
  OutputFormat format = OutputFormat::kText;
  bool verbose = false;
  bool checkOnly = false;
  bool listKeys = false;
  bool help = false;
};

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    auto value = [&](std::string* target) {
      if (i + 1 >= argc) {
        *error = argument + " needs a value";
        return false;
      }
      *target = argv[++i];
      return true;
    };
    if (argument == "--module") {
      if (!value(&options->module)) return false;
    } else if (argument == "--timeline") {
      if (!value(&options->timeline)) return false;
    } else if (argument == "--trace") {
      if (!value(&options->trace)) return false;
    } else if (argument == "--compare") {
      std::string trace;
      if (!value(&trace)) return false;
      if (!options->script.empty()) {
        *error = "more than one script: '" + Printable(options->script) + "' and --compare '" + Printable(trace) + "'";
        return false;
      }
      options->script = trace;
      options->compare = true;
    } else if (argument == "--format") {
      std::string format;
      if (!value(&format)) return false;
      if (format == "text") {
        options->format = OutputFormat::kText;
      } else if (format == "jsonl") {
        options->format = OutputFormat::kJsonl;
      } else {
        *error = "unknown format '" + Printable(format) + "' (text or jsonl)";
        return false;
      }
    } else if (argument == "--fast") {
      options->fast = true;
    } else if (argument == "--verbose" || argument == "-v") {
      options->verbose = true;
    } else if (argument == "--check") {
      options->checkOnly = true;
    } else if (argument == "--keys") {
      options->listKeys = true;
    } else if (argument == "-h" || argument == "--help") {
      options->help = true;
    } else if (argument.size() > 1 && argument[0] == '-') {
      *error = "unknown option '" + Printable(argument) + "'";
      return false;
    } else if (options->script.empty()) {
      options->script = argument;
    } else if (options->compare) {
      *error = "more than one script: --compare '" + Printable(options->script) + "' and '" + Printable(argument) + "'";
      return false;
    } else {
      *error = "more than one script: '" + Printable(options->script) + "' and '" + Printable(argument) + "'";
      return false;
    }
  }
  return true;
}

void ListKeys() {
  printf("%-6s%-22s%-13s%s\n", "code", "name", "label", "script spelling");
  for (const RemoteKey& key : RemoteKeyTable) {
    printf("0x%02X  %-22s%-13s%s\n", static_cast<unsigned>(key.code), key.name, key.label[0] ? key.label : "-",
           KeyDisplayName(key).c_str());
  }
}

std::string Absolute(const std::string& path) {
  std::error_code ignored;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
  return absolute.empty() ? path : absolute.lexically_normal().string();
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  return static_cast<bool>(file.flush());
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

// Plays each run on a session of its own, as the module saw it: a fresh
// Start with the run's first byte on the receiver, its steps, a Stop. A run
// that is interrupted or whose module misbehaves ends the session. False
// when the module would not start (`played->error` says why).
bool PlayRuns(GetInterfacePtrFn factory, const std::vector<RunReplay>& runs, SessionOutput* output,
              const std::atomic<bool>& interrupted, Played* played) {
  for (size_t i = 0; i < runs.size(); ++i) {
    const RunReplay& run = runs[i];
    if (runs.size() > 1) output->Run(i + 1, runs.size(), run.trace.headerLine, run.trace.header);
    Session session(factory, output);
    if (!session.Start(&played->error, run.schedule.startByte)) return false;
    std::vector<int64_t> shownUs;
    played->completed = PlaySchedule(session, run.script, run.schedule, interrupted, &shownUs);
    if (!played->completed) output->Problem("interrupted: the module was stopped");
    played->stoppedCleanly = session.Stop(&played->error);
    const SessionRecord record = session.record();
    played->comparison.runs.push_back(CompareRun(run.trace, ReplayedReports(run, shownUs, record.reports)));
    AppendSession(&played->record, record);
    if (!played->completed || !played->stoppedCleanly) break;
  }
  return true;
}

// The keyboard on one session, until `q` or Ctrl-C. False when the module
// would not start.
bool PlayKeyboard(GetInterfacePtrFn factory, RawKeyboard& keyboard, SessionOutput* output,
                  const std::atomic<bool>& interrupted, Played* played) {
  Session session(factory, output);
  if (!session.Start(&played->error)) return false;
  RunInteractive(session, keyboard, interrupted);
  played->completed = !interrupted.load();
  if (!played->completed) output->Problem("interrupted: the module was stopped");
  played->stoppedCleanly = session.Stop(&played->error);
  played->record = session.record();
  return true;
}

int Run(int argc, char** argv) {
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, &options, &error)) {
    fprintf(stderr, "kolvane-host: %s (see kolvane-host --help)\n", error.c_str());
    return kExitUsage;
  }
  if (options.help) {
    fputs(kUsage, stdout);
    return kExitOk;
  }
  if (options.listKeys) {
    ListKeys();
    return kExitOk;
  }

  // The script is checked whole before anything runs.
  // The file is read once: a trace's reports come from the same text as its
  // steps, even when the replay appends to the file or it was standard input.
  const bool interactive = options.script.empty() && StdinIsTerminal();
  Script script;
  TraceReading trace;
  if (!interactive) {
    std::vector<std::string> errors;
    std::string text, fileName;
    if (!ReadScriptText(options.script.empty() ? "-" : options.script, &text, &fileName, &error)) {
      fprintf(stderr, "%s\n", error.c_str());
      return kExitUsage;
    }
    trace = ReadTrace(text);
    if (options.compare && !trace.isTrace) {
      fprintf(stderr, "kolvane-host: not a trace: %s (no trace header)\n",
              Printable(fileName, kMaxPathEchoBytes).c_str());
      return kExitUsage;
    }
    if (!ParseScript(text, fileName, &script, &errors)) {
      for (const std::string& line : errors) fprintf(stderr, "%s\n", line.c_str());
      return kExitUsage;
    }
    if (options.checkOnly) {
      printf("%s: %zu steps, no errors\n", script.fileName.c_str(), script.steps.size());
      return kExitOk;
    }
  } else if (options.checkOnly || options.fast) {
    fprintf(stderr, "kolvane-host: %s needs a script\n", options.checkOnly ? "--check" : "--fast");
    return kExitUsage;
  }
  const std::vector<RunReplay> runs = PlanRuns(script, trace, options.fast || options.compare);
  if (!options.timeline.empty() && !WriteFile(options.timeline, "")) {
    fprintf(stderr, "kolvane-host: cannot write timeline %s\n", options.timeline.c_str());
    return kExitUsage;
  }

  if (!options.trace.empty() && !testbed::SetModuleEnvironment(kTraceVariable, options.trace.c_str())) {
    fprintf(stderr, "kolvane-host: cannot set %s for --trace\n", kTraceVariable);
    return kExitUsage;
  }

  const std::string modulePath = options.module.empty() ? testbed::DefaultModulePath() : options.module;
  testbed::LoadedModule module;
  if (!module.Load(modulePath)) {
    fprintf(stderr, "kolvane-host: %s\n", module.error().c_str());
    return kExitNoModule;
  }

  std::atomic<bool> interrupted{false};
  CatchInterrupts(&interrupted);
  RawKeyboard keyboard;
  if (interactive && !keyboard.Open(&error)) {
    fprintf(stderr, "kolvane-host: %s\n", error.c_str());
    return kExitUsage;
  }

  const std::unique_ptr<SessionOutput> output = MakeSessionOutput(options.format, stdout, options.verbose);
  output->Begin(Absolute(modulePath), interactive ? "interactive session" : "script " + script.fileName);
  Played played;
  played.comparison.trace = script.fileName;
  const bool started = interactive ? PlayKeyboard(module.factory(), keyboard, output.get(), interrupted, &played)
                                   : PlayRuns(module.factory(), runs, output.get(), interrupted, &played);
  if (!started) {
    output->Problem(played.error);
    return kExitModuleFault;
  }
  const SessionRecord& record = played.record;

  SessionFiles files;
  files.log = Absolute(kLogFileName);
  if (!options.timeline.empty()) {
    const std::string title = "kolvane-host: " + (interactive ? std::string("interactive session") : script.fileName);
    if (WriteFile(options.timeline, RenderTimeline(record, title))) {
      files.timeline = Absolute(options.timeline);
    } else {
      output->Problem("cannot write timeline " + options.timeline);
    }
  }
  output->End(Summarize(record), files);
  if (!played.stoppedCleanly) {
    output->Problem(played.error);
    return kExitModuleFault;
  }
  if (!played.completed) return kExitInterrupted;
  if (options.compare) {
    output->Compared(played.comparison);
    return played.comparison.Match() ? kExitOk : kExitMismatch;
  }
  return kExitOk;
}

}  // namespace
}  // namespace host
}  // namespace kolvane

int main(int argc, char** argv) { return kolvane::host::Run(argc, argv); }
