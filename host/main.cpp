// kolvane-host: runs the module with no tuner card. Loads the module by path,
// starts it against a simulated device and plays a script, or the keyboard,
// on the device's receiver; prints every key the module reports.
//
// Exit codes: 0 done, 1 the module misbehaved (or --compare found another
// report), 2 bad command line or script, or a file that cannot be used,
// 3 module not loadable, 130 interrupted.
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <filesystem>
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
#include "host/text_file.h"
#include "host/timeline.h"
#include "host/trace_compare.h"
#include "host/trace_reader.h"
#include "host/trace_runs.h"
#include "platform/log.h"
#include "receiver/trace_format.h"
#include "testbed/json.h"
#include "testbed/module_loader.h"

namespace kolvane {
namespace host {
namespace {

using testbed::JsonString;

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
    "\n"
    "                       beside kolvane-host or where it is installed)\n"
    "  --format text|jsonl  output for people (default) or one JSON object a line,\n"
    "                       problems that end the run included\n"
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
    "  --version            the version, the same as the module's and its traces'\n"
    "\n"
    "An option's value may also follow an equals sign: --format=jsonl.\n"
    "A DURATION in a script is a number and a unit: ms, s, min or h (300ms, 1.2s).\n"
    "\n"
    "Exit codes: 0 done, 1 the module misbehaved or --compare found a difference,\n"
    "2 bad command line or script, or a file that cannot be read or written,\n"
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
  bool version = false;
};

const char kProgram[] = "kolvane-host";

// "--name=value" as "--name" and "value"; anything else as it is.
struct Argument {
  std::string name;
  std::string value;
  bool hasValue = false;
};

Argument SplitArgument(const std::string& text) {
  Argument argument{text, "", false};
  const size_t equals = text.find('=');
  if (text.compare(0, 2, "--") == 0 && equals != std::string::npos) {
    argument.name = text.substr(0, equals);
    argument.value = text.substr(equals + 1);
    argument.hasValue = true;
  }
  return argument;
}

// The format asked for, read ahead so that a problem with any other option
// is reported in it too.
OutputFormat RequestedFormat(int argc, char** argv) {
  OutputFormat format = OutputFormat::kText;
  for (int i = 1; i < argc; ++i) {
    const Argument argument = SplitArgument(argv[i]);
    if (argument.name != "--format") continue;
    const std::string value = argument.hasValue ? argument.value : (i + 1 < argc ? argv[i + 1] : "");
    format = value == "jsonl" ? OutputFormat::kJsonl : OutputFormat::kText;
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

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    Argument argument = SplitArgument(argv[i]);
    const std::string& name = argument.name;
    auto value = [&](std::string* target) {
      if (!argument.hasValue) {
        if (i + 1 >= argc) {
          *error = name + " needs a value";
          return false;
        }
        argument.value = argv[++i];
      }
      if (argument.value.empty()) {
        *error = name + " needs a value";
        return false;
      }
      *target = argument.value;
      return true;
    };
    auto flag = [&](bool* target) {
      if (argument.hasValue) {
        *error = name + " takes no value";
        return false;
      }
      *target = true;
      return true;
    };
    if (name == "--module") {
      if (!value(&options->module)) return false;
    } else if (name == "--timeline") {
      if (!value(&options->timeline)) return false;
    } else if (name == "--trace") {
      if (!value(&options->trace)) return false;
    } else if (name == "--compare") {
      std::string trace;
      if (!value(&trace)) return false;
      if (!options->script.empty()) {
        *error = "more than one script: '" + Printable(options->script) + "' and --compare '" + Printable(trace) + "'";
        return false;
      }
      options->script = trace;
      options->compare = true;
    } else if (name == "--format") {
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
    } else if (name == "--fast") {
      if (!flag(&options->fast)) return false;
    } else if (name == "--verbose" || name == "-v") {
      if (!flag(&options->verbose)) return false;
    } else if (name == "--check") {
      if (!flag(&options->checkOnly)) return false;
    } else if (name == "--keys") {
      if (!flag(&options->listKeys)) return false;
    } else if (name == "-h" || name == "--help") {
      if (!flag(&options->help)) return false;
    } else if (name == "--version") {
      if (!flag(&options->version)) return false;
    } else if (name.size() > 1 && name[0] == '-') {
      *error = "unknown option '" + Printable(name) + "'";
      return false;
    } else if (options->script.empty()) {
      options->script = name;
    } else if (options->compare) {
      *error = "more than one script: --compare '" + Printable(options->script) + "' and '" + Printable(name) + "'";
      return false;
    } else {
      *error = "more than one script: '" + Printable(options->script) + "' and '" + Printable(name) + "'";
      return false;
    }
  }
  return true;
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
bool PlayRuns(GetInterfacePtrFn factory, const std::vector<RunReplay>& runs, SessionOutput* output,
              const std::atomic<bool>& interrupted, Played* played) {
  for (size_t i = 0; i < runs.size(); ++i) {
    const RunReplay& run = runs[i];
    if (runs.size() > 1) output->Run(i + 1, runs.size(), run.trace.headerLine, run.trace.header);
    Session session(factory, output);
    if (!StartSession(session, run.schedule.startByte, &played->error)) return false;
    std::vector<int64_t> shownUs;
    played->completed = PlaySchedule(session, run.script, run.schedule, interrupted, &shownUs);
    // From here the session has written all its lines; the output is ours.
    played->stoppedCleanly = session.Stop(&played->error);
    if (!played->completed) output->Problem("interrupted: the module was stopped");
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
  if (!StartSession(session, kIdleReceiverByte, &played->error)) return false;
  RunInteractive(session, keyboard, interrupted);
  played->completed = !interrupted.load();
  played->stoppedCleanly = session.Stop(&played->error);
  if (!played->completed) output->Problem("interrupted: the module was stopped");
  played->record = session.record();
  return true;
}

int Run(int argc, char** argv) {
  Options options;
  std::string error;
  const OutputFormat requested = RequestedFormat(argc, argv);
  if (!ParseOptions(argc, argv, &options, &error)) {
    ReportProblem(requested, error + " (see kolvane-host --help)");
    return kExitUsage;
  }
  const OutputFormat format = options.format;
  if (options.help) {
    fputs(kUsage, stdout);
    return kExitOk;
  }
  if (options.version) {
    printf("%s %s\n", kProgram, KOLVANE_VERSION);
    return kExitOk;
  }
  if (options.listKeys) {
    ListKeys(format);
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
      ReportProblem(format, error);
      return kExitUsage;
    }
    trace = ReadTrace(text);
    if (options.compare && !trace.isTrace) {
      ReportProblem(format, "not a trace: " + Printable(fileName, kMaxPathEchoBytes) + " (no trace header)");
      return kExitUsage;
    }
    if (!ParseScript(text, fileName, &script, &errors)) {
      for (const std::string& line : errors) ReportProblem(format, line);
      return kExitUsage;
    }
    if (options.checkOnly) {
      ReportChecked(format, script);
      return kExitOk;
    }
  } else if (options.checkOnly || options.fast) {
    ReportProblem(format, std::string(options.checkOnly ? "--check" : "--fast") + " needs a script");
    return kExitUsage;
  }
  const std::vector<RunReplay> runs = PlanRuns(script, trace, options.fast || options.compare);
  std::string reason;
  if (!options.timeline.empty() && !WriteTextFile(options.timeline, "", &reason)) {
    ReportProblem(format, "cannot write timeline " + options.timeline + ": " + reason);
    return kExitUsage;
  }
  // The module only says so in its log; the user who asked hears it here.
  if (!options.trace.empty() && !CanAppendTo(options.trace, &reason)) {
    ReportProblem(format, "cannot write trace " + options.trace + ": " + reason);
    return kExitUsage;
  }
  if (!options.trace.empty() && !testbed::SetModuleEnvironment(kTraceVariable, options.trace.c_str())) {
    ReportProblem(format, std::string("cannot set ") + kTraceVariable + " for --trace");
    return kExitUsage;
  }

  const std::string modulePath = options.module.empty() ? testbed::DefaultModulePath() : options.module;
  testbed::LoadedModule module;
  if (!module.Load(modulePath)) {
    ReportProblem(format, module.error());
    return kExitNoModule;
  }

  std::atomic<bool> interrupted{false};
  CatchInterrupts(&interrupted);
  RawKeyboard keyboard;
  if (interactive && !keyboard.Open(&error)) {
    ReportProblem(format, error);
    return kExitUsage;
  }

  const std::unique_ptr<SessionOutput> output = MakeSessionOutput(format, stdout, options.verbose);
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
    if (WriteTextFile(options.timeline, RenderTimeline(record, title), &reason)) {
      files.timeline = Absolute(options.timeline);
    } else {
      output->Problem("cannot write timeline " + options.timeline + ": " + reason);
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
