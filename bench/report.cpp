#include "bench/report.h"

#include <math.h>

#include <algorithm>

#include "receiver/device.h"
#include "text/format.h"
#include "text/json.h"

namespace kolvane {
namespace bench {
namespace {

using testbed::Format;
using testbed::JsonString;

// The goals the module is built to meet.
constexpr double kLatencyMedianGoalMs = 11.0;
constexpr double kLatencyP99GoalMs = 21.0;
constexpr double kRepeatFloorMs = kRepeatDelayMs;  // a repeat comes only after more than this
constexpr double kStopP99GoalMs = 21.0;
constexpr double kIdleCpuGoalRatio = 1.2;
constexpr double kDllSizeGoalBytes = 64.0 * 1024.0;
// A CPU figure is compared only when it spans this many steps of the
// process CPU clock, so that the clock's rounding stays within 5% (Wine
// counts process time in 10 ms steps).
constexpr double kResolvableClockSteps = 20;
constexpr double kResolvableCpuSeconds = 0.001;

struct Goal {
  const char* key;    // JSON name
  std::string limit;  // the goal, in words, from its constant
  double value;
  bool measured;
  bool pass;
};

// Every goal by name; All() lists them in the JSON's order.
struct Goals {
  Goal latencyMedian;
  Goal latencyP99;
  Goal repeatMin;
  Goal stopP99;
  Goal idleCpu;
  Goal pollAllocations;
  Goal dllBytes;
  Goal tracedPollAllocations;

  std::vector<const Goal*> All() const {
    return {&latencyMedian, &latencyP99,      &repeatMin, &stopP99,
            &idleCpu,       &pollAllocations, &dllBytes,  &tracedPollAllocations};
  }
};

std::string AtMostMs(double ms) { return Format("<= %g ms", ms); }

// The clock's rounding noise around zero, shown as zero.
double Tidy(double value, double resolution) { return fabs(value) < resolution ? 0.0 : value; }

double Percent(double fraction) { return Tidy(fraction * 100.0, 0.0005); }

// CPU with the process's own cost (no started module) taken out.
double NetFraction(const CpuFigure& figure, const CpuFigure& baseline) {
  return figure.coreFraction() - baseline.coreFraction();
}

double MicrosecondsPerWake(const CpuFigure& figure, const CpuFigure& baseline) {
  if (figure.wakes == 0) return 0;
  return Tidy(NetFraction(figure, baseline) * figure.wallSeconds / static_cast<double>(figure.wakes) * 1e6, 0.05);
}

// A figure over the bare sleeper's; NaN when the floor is too small for
// the process clock to resolve.
double OverFloor(const CpuFigure& figure, const Results& r) {
  const double floor = NetFraction(r.sleeper, r.baseline);
  const double floorSeconds = floor * r.sleeper.wallSeconds;
  if (floorSeconds < kResolvableCpuSeconds || floorSeconds < kResolvableClockSteps * r.cpuClockStep) return NAN;
  return NetFraction(figure, r.baseline) / floor;
}

double IdleRatio(const Results& r) { return OverFloor(r.idle, r); }

std::vector<double> AllRepeats(const Results& r) {
  std::vector<double> all = r.repeats.firstMs;
  all.insert(all.end(), r.repeats.gapMs.begin(), r.repeats.gapMs.end());
  return all;
}

Goals GoalsOf(const Results& r) {
  const Summary latency = Summarize(r.latencyMs);
  const Summary repeats = Summarize(AllRepeats(r));
  const Summary stops = Summarize(r.stopMs);
  const double ratio = IdleRatio(r);
  const bool allocationsMeasured = !r.allocationScope.empty() && r.allocationPolls > 0;
  Goals goals;
  goals.latencyMedian = {"latency_median_ms", AtMostMs(kLatencyMedianGoalMs), latency.median, latency.count > 0,
                         latency.median <= kLatencyMedianGoalMs};
  goals.latencyP99 = {"latency_p99_ms", AtMostMs(kLatencyP99GoalMs), latency.p99, latency.count > 0,
                      latency.p99 <= kLatencyP99GoalMs};
  goals.repeatMin = {"repeat_min_ms", Format("> %g ms", kRepeatFloorMs), repeats.min,
                     repeats.count > 0 && r.repeats.failed == 0, repeats.min > kRepeatFloorMs};
  goals.stopP99 = {"stop_p99_ms", AtMostMs(kStopP99GoalMs), stops.p99, stops.count > 0, stops.p99 <= kStopP99GoalMs};
  goals.idleCpu = {"idle_cpu_over_bare_sleeper", Format("<= %g", kIdleCpuGoalRatio), ratio, !isnan(ratio),
                   ratio <= kIdleCpuGoalRatio};
  goals.pollAllocations = {"allocations_per_poll", "0", static_cast<double>(r.pollAllocations), allocationsMeasured,
                           r.pollAllocations == 0};
  goals.dllBytes = {"dll_bytes", Format("<= %.0f", kDllSizeGoalBytes), static_cast<double>(r.dllBytes), r.dllBytes >= 0,
                    static_cast<double>(r.dllBytes) <= kDllSizeGoalBytes};
  goals.tracedPollAllocations = {"allocations_per_poll_traced", "0", static_cast<double>(r.tracedAllocations),
                                 !r.allocationScope.empty() && r.tracedPolls > 0 && r.traceBytes > 0,
                                 r.tracedAllocations == 0};
  return goals;
}

const char* Verdict(const Goal& goal) {
  if (!goal.measured) return "n/a";
  return goal.pass ? "PASS" : "MISS";
}

// The verdict of a row that carries two goals.
std::string Verdicts(const Goal& a, const Goal& b) {
  if (!a.measured || !b.measured) return "n/a";
  if (a.pass && b.pass) return "PASS";
  if (!a.pass && !b.pass) return "MISS (both)";
  return Format("MISS (%s)", a.pass ? b.key : a.key);
}

const char* RepeatVerdict(const Summary& s) {
  if (s.count == 0) return "n/a";
  return s.min > kRepeatFloorMs ? "PASS" : "MISS";
}

std::string PastFloor(const Summary& s) {
  if (s.count == 0) return "none";
  return Format("min %.1f, median %.1f, max %.1f ms: +%.1f to +%.1f ms past %g", s.min, s.median, s.max,
                s.min - kRepeatFloorMs, s.max - kRepeatFloorMs, kRepeatFloorMs);
}

void Row(FILE* out, const std::string& figure, const std::string& measured, const std::string& goal,
         const std::string& result) {
  fprintf(out, "| %s | %s | %s | %s |\n", figure.c_str(), measured.c_str(), goal.c_str(), result.c_str());
}

std::string CpuText(const CpuFigure& figure, const CpuFigure& baseline, const char* per) {
  return Format("%.3f %% of a core, %.1f us per %s", Percent(NetFraction(figure, baseline)),
                MicrosecondsPerWake(figure, baseline), per);
}

// JSON has no NaN.
// Counts as text: the same on every C runtime, whatever its printf knows.
template <typename Integer>
std::string Text(Integer value) {
  return std::to_string(value);
}

std::string Number(double value) { return isnan(value) ? "null" : Format("%.4f", value); }

void JsonSummary(FILE* out, const char* name, const std::vector<double>& samples, const char* last) {
  const Summary s = Summarize(samples);
  fprintf(out, "  \"%s\": {\"samples\": %s, \"min\": %s, \"median\": %s, \"p99\": %s, \"max\": %s}%s\n", name,
          Text(s.count).c_str(), Number(s.min).c_str(), Number(s.median).c_str(), Number(s.p99).c_str(),
          Number(s.max).c_str(), last);
}

void JsonCpu(FILE* out, const char* name, const CpuFigure& figure, const CpuFigure& baseline, const char* last) {
  fprintf(out, "    \"%s\": {\"core_percent\": %s, \"us_per_wake\": %s, \"wakes\": %s, \"wall_s\": %s}%s\n", name,
          Number(Percent(NetFraction(figure, baseline))).c_str(), Number(MicrosecondsPerWake(figure, baseline)).c_str(),
          Text(figure.wakes).c_str(), Number(figure.wallSeconds).c_str(), last);
}

// ", 3 what" when count is not zero.
std::string Failures(int count, const char* what) { return count > 0 ? Format(", %d %s", count, what) : ""; }

std::string Spread(const Summary& s) {
  return Format("median %.2f ms, p99 %.2f ms, max %.2f ms", s.median, s.p99, s.max);
}

// Each group of figures, as the table's rows and as the JSON's members (each
// ending in ",\n": the goals follow).

void LatencyRows(FILE* out, const Results& r, const Goals& goals) {
  const Summary latency = Summarize(r.latencyMs);
  Row(out,
      Format("Press-to-report latency, %s presses%s", Text(latency.count).c_str(),
             Failures(r.latencyMissed, "missed").c_str()),
      Spread(latency), "median " + goals.latencyMedian.limit + ", p99 " + goals.latencyP99.limit,
      Verdicts(goals.latencyMedian, goals.latencyP99));
}

void LatencyJson(FILE* out, const Results& r, const Goals&) {
  JsonSummary(out, "latency_ms", r.latencyMs, ",");
  fprintf(out, "  \"latency_missed\": %d,\n", r.latencyMissed);
}

void RepeatRows(FILE* out, const Results& r, const Goals& goals) {
  Row(out,
      Format("First repeat after the last press poll, %s holds%s", Text(r.repeats.firstMs.size()).c_str(),
             Failures(r.repeats.failed, "holds failed").c_str()),
      PastFloor(Summarize(r.repeats.firstMs)), "each " + goals.repeatMin.limit,
      RepeatVerdict(Summarize(r.repeats.firstMs)));
  Row(out, Format("Gap between repeats, %s gaps", Text(r.repeats.gapMs.size()).c_str()),
      PastFloor(Summarize(r.repeats.gapMs)), "each " + goals.repeatMin.limit,
      RepeatVerdict(Summarize(r.repeats.gapMs)));
}

void RepeatJson(FILE* out, const Results& r, const Goals&) {
  JsonSummary(out, "first_repeat_ms", r.repeats.firstMs, ",");
  JsonSummary(out, "repeat_gap_ms", r.repeats.gapMs, ",");
  fprintf(out, "  \"repeat_failed_holds\": %d,\n", r.repeats.failed);
}

void StopRows(FILE* out, const Results& r, const Goals& goals) {
  const Summary stops = Summarize(r.stopMs);
  Row(out,
      Format("Stop latency, %s stops%s", Text(stops.count).c_str(), Failures(r.failedStarts, "failed starts").c_str()),
      Spread(stops), "p99 " + goals.stopP99.limit, Verdict(goals.stopP99));
}

void StopJson(FILE* out, const Results& r, const Goals&) { JsonSummary(out, "stop_ms", r.stopMs, ","); }

void CpuRows(FILE* out, const Results& r, const Goals& goals) {
  Row(out,
      Format("CPU, bare thread sleeping %u ms in a loop (the floor), %.0f s", static_cast<unsigned>(kPollPeriodMs),
             r.sleeper.wallSeconds),
      CpuText(r.sleeper, r.baseline, "wake-up"), "", "");
  const std::string ratio =
      goals.idleCpu.measured
          ? Format("; %.2f x the floor", goals.idleCpu.value)
          : Format("; not compared: the floor spans under %.0f steps of the process CPU clock", kResolvableClockSteps);
  Row(out, Format("CPU, started idle module, %.0f s", r.idle.wallSeconds), CpuText(r.idle, r.baseline, "poll") + ratio,
      goals.idleCpu.limit + " x the floor", Verdict(goals.idleCpu));
  Row(out, "CPU, process without a started module (subtracted above)",
      Format("%.3f %% of a core", Percent(r.baseline.coreFraction())), "", "");
}

void CpuJson(FILE* out, const Results& r, const Goals&) {
  fprintf(out, "  \"cpu\": {\n    \"clock_step_ms\": %s,\n    \"baseline_core_percent\": %s,\n",
          Number(r.cpuClockStep * 1e3).c_str(), Number(Percent(r.baseline.coreFraction())).c_str());
  JsonCpu(out, "bare_sleeper", r.sleeper, r.baseline, ",");
  JsonCpu(out, "idle_module", r.idle, r.baseline, ",");
  fprintf(out, "    \"idle_over_bare_sleeper\": %s\n  },\n", Number(IdleRatio(r)).c_str());
}

// Allocations over polls, as "0.000".
std::string PerPoll(uint64_t allocations, uint64_t polls) {
  return Format("%.3f", static_cast<double>(allocations) / static_cast<double>(std::max<uint64_t>(polls, 1)));
}

void AllocationRows(FILE* out, const Results& r, const Goals& goals) {
  if (r.allocationScope.empty()) {
    Row(out, "Heap allocations per poll", "not countable in this build", goals.pollAllocations.limit, "n/a");
    return;
  }
  Row(out, Format("Heap allocations per poll, %s polls", Text(r.allocationPolls).c_str()),
      PerPoll(r.pollAllocations, r.allocationPolls) + " (" + Text(r.pollAllocations) + " in all)",
      goals.pollAllocations.limit, Verdict(goals.pollAllocations));
  Row(out, Format("Heap allocations per poll with a trace on, %s polls", Text(r.tracedPolls).c_str()),
      PerPoll(r.tracedAllocations, r.tracedPolls) +
          Format(" (%s in all; %s bytes of trace in %.0f s)", Text(r.tracedAllocations).c_str(),
                 r.traceBytes >= 0 ? Text(r.traceBytes).c_str() : "no", r.tracedSeconds),
      goals.tracedPollAllocations.limit, Verdict(goals.tracedPollAllocations));
  Row(out, Format("Heap allocations per Start/Stop cycle, %d cycles", r.cycles), Format("%.1f", r.allocationsPerCycle),
      "", "");
}

void AllocationJson(FILE* out, const Results& r, const Goals&) {
  if (r.allocationScope.empty()) {
    fprintf(out, "  \"allocations\": null,\n");
    return;
  }
  fprintf(out,
          "  \"allocations\": {\"counted\": %s, \"in_polls\": %s, \"polls\": %s, "
          "\"per_start_stop\": %s, \"cycles\": %d, \"in_traced_polls\": %s, \"traced_polls\": %s, "
          "\"trace_bytes\": %lld, \"traced_seconds\": %s},\n",
          JsonString(r.allocationScope).c_str(), Text(r.pollAllocations).c_str(), Text(r.allocationPolls).c_str(),
          Number(r.allocationsPerCycle).c_str(), r.cycles, Text(r.tracedAllocations).c_str(),
          Text(r.tracedPolls).c_str(), r.traceBytes, Number(r.tracedSeconds).c_str());
}

void CompareRows(FILE* out, const Results& r, const Goals&) {
  const CompareFigure& c = r.compare;
  Row(out,
      Format("`kolvane-host --compare`, a %.1f MiB trace: %d presses, %d holds, %s hourly idle lines",
             static_cast<double>(c.traceBytes) / (1024.0 * 1024.0), c.presses, c.holds, Text(c.idleLines).c_str()),
      c.measured ? Format("%.1f s", c.seconds) : "n/a (" + c.problem + ")", "", "");
}

void CompareJson(FILE* out, const Results& r, const Goals&) {
  const CompareFigure& c = r.compare;
  fprintf(out,
          "  \"trace_compare\": {\"trace_bytes\": %s, \"presses\": %d, \"holds\": %d, \"idle_lines\": %s, "
          "\"seconds\": %s},\n",
          Text(c.traceBytes).c_str(), c.presses, c.holds, Text(c.idleLines).c_str(),
          c.measured ? Number(c.seconds).c_str() : "null");
}

void DecoderRows(FILE* out, const Results& r, const Goals&) {
  if (!r.microAvailable) Row(out, "Decoder poll", "n/a (no Google Benchmark in this build)", "", "");
  for (const MicroResult& micro : r.micro) {
    Row(out, "Decoder poll (Google Benchmark), " + micro.name, Format("%.2f ns", micro.nsPerPoll), "", "");
  }
}

void DecoderJson(FILE* out, const Results& r, const Goals&) {
  if (!r.microAvailable) {
    fprintf(out, "  \"decoder_poll_ns\": null,\n");
    return;
  }
  fprintf(out, "  \"decoder_poll_ns\": {");
  for (size_t i = 0; i < r.micro.size(); ++i) {
    fprintf(out, "%s%s: %s", i == 0 ? "" : ", ", JsonString(r.micro[i].name).c_str(),
            Number(r.micro[i].nsPerPoll).c_str());
  }
  fprintf(out, "},\n");
}

void DllRows(FILE* out, const Results& r, const Goals& goals) {
  Row(out, "kolvane.dll size",
      r.dllBytes >= 0 ? Format("%s bytes (%.1f KB)", Text(r.dllBytes).c_str(), static_cast<double>(r.dllBytes) / 1024.0)
                      : std::string("n/a (not built)"),
      Format("<= %g KB", kDllSizeGoalBytes / 1024.0), Verdict(goals.dllBytes));
}

void DllJson(FILE* out, const Results& r, const Goals&) {
  fprintf(out, "  \"dll\": {\"path\": %s, \"bytes\": %s},\n", JsonString(r.dllPath).c_str(),
          r.dllBytes >= 0 ? Text(r.dllBytes).c_str() : "null");
}

// The figures, in the order both outputs give them.
struct FigureGroup {
  void (*rows)(FILE* out, const Results& r, const Goals& goals);
  void (*json)(FILE* out, const Results& r, const Goals& goals);
};
constexpr FigureGroup kFigures[] = {
    {LatencyRows, LatencyJson},       {RepeatRows, RepeatJson},   {StopRows, StopJson},       {CpuRows, CpuJson},
    {AllocationRows, AllocationJson}, {CompareRows, CompareJson}, {DecoderRows, DecoderJson}, {DllRows, DllJson},
};

// "Goals: 6 PASS, 2 MISS, 0 n/a."
void GoalTally(FILE* out, const Goals& goals) {
  int misses = 0;
  int passes = 0;
  const std::vector<const Goal*> all = goals.All();
  for (const Goal* goal : all) {
    if (goal->measured) ++(goal->pass ? passes : misses);
  }
  fprintf(out, "\nGoals: %d PASS, %d MISS, %d n/a.", passes, misses, static_cast<int>(all.size()) - passes - misses);
}

void GoalsJson(FILE* out, const Goals& all) {
  fprintf(out, "  \"goals\": [\n");
  const std::vector<const Goal*> goals = all.All();
  for (size_t i = 0; i < goals.size(); ++i) {
    const Goal& goal = *goals[i];
    fprintf(out, "    {\"name\": \"%s\", \"goal\": %s, \"value\": %s, \"result\": \"%s\"}%s\n", goal.key,
            JsonString(goal.limit).c_str(), goal.measured ? Number(goal.value).c_str() : "null", Verdict(goal),
            i + 1 < goals.size() ? "," : "");
  }
  fprintf(out, "  ]\n");
}

}  // namespace

Summary Summarize(std::vector<double> samples) {
  Summary s;
  s.count = samples.size();
  if (samples.empty()) return s;
  std::sort(samples.begin(), samples.end());
  const size_t n = samples.size();
  s.min = samples.front();
  s.max = samples.back();
  s.median = n % 2 == 1 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
  // Nearest rank: the smallest sample with at least 99% at or below it.
  const auto rank = static_cast<size_t>(ceil(0.99 * static_cast<double>(n)));
  s.p99 = samples[std::max<size_t>(rank, 1) - 1];
  return s;
}

void PrintTable(FILE* out, const Results& r) {
  const Goals goals = GoalsOf(r);
  fprintf(out, "kolvane-bench: %s, %u CPUs, %s run (seed %u), process CPU clock step %.3f ms\nmodule: %s\n\n",
          r.platform.c_str(), r.cpus, r.quick ? "quick" : "full", r.seed, r.cpuClockStep * 1e3, r.modulePath.c_str());
  fprintf(out, "| Figure | Measured | Goal | Result |\n|---|---|---|---|\n");
  for (const FigureGroup& figures : kFigures) figures.rows(out, r, goals);
  GoalTally(out, goals);
  if (!r.allocationScope.empty()) fprintf(out, " Allocations counted: %s.", r.allocationScope.c_str());
  fprintf(out, "\n");
}

void PrintJson(FILE* out, const Results& r) {
  const Goals goals = GoalsOf(r);
  fprintf(out,
          "{\n  \"module\": %s,\n  \"platform\": %s,\n  \"cpus\": %u,\n  \"quick\": %s,\n"
          "  \"seed\": %u,\n",
          JsonString(r.modulePath).c_str(), JsonString(r.platform).c_str(), r.cpus, r.quick ? "true" : "false", r.seed);
  for (const FigureGroup& figures : kFigures) figures.json(out, r, goals);
  GoalsJson(out, goals);
  fprintf(out, "}\n");
}

}  // namespace bench
}  // namespace kolvane
