// The benchmark's report from figures made up for the purpose: each goal's
// verdict on its own row, the goals' text, and JSON that stays valid
// whatever a path holds.
#include "bench/report.h"

#include <stdio.h>

#include <string>

#include "gmock/gmock.h"
#include "gtest/gtest.h"

namespace kolvane {
namespace bench {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// Figures that meet every goal.
Results Passing() {
  Results r;
  r.modulePath = "/opt/kolvane/libkolvane.so";
  r.platform = "Linux, native";
  r.latencyMs = {5, 10, 15};
  r.repeats.firstMs = {201.5};
  r.repeats.gapMs = {201.2, 201.3};
  r.stopMs = {10, 12};
  r.cpuClockStep = 0.000001;
  r.baseline = CpuFigure{0.01, 10, 0};
  r.sleeper = CpuFigure{0.11, 10, 500};
  r.idle = CpuFigure{0.12, 10, 500};
  r.allocationScope = "every malloc";
  r.allocationPolls = 100;
  r.tracedPolls = 50;
  r.traceBytes = 1000;
  r.dllPath = "kolvane.dll";
  r.dllBytes = 34304;
  return r;
}

template <typename Print>
std::string Printed(Print print) {
  FILE* file = tmpfile();
  if (file == nullptr) return "";
  print(file);
  std::string text;
  rewind(file);
  char buffer[4096];
  size_t count = 0;
  while ((count = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, count);
  fclose(file);
  return text;
}

std::string Table(const Results& r) {
  return Printed([&](FILE* out) { PrintTable(out, r); });
}
std::string Json(const Results& r) {
  return Printed([&](FILE* out) { PrintJson(out, r); });
}

// The table's row that begins with `figure`.
std::string Row(const std::string& table, const std::string& figure) {
  const size_t begin = table.find("| " + figure);
  if (begin == std::string::npos) return "";
  return table.substr(begin, table.find('\n', begin) - begin);
}

TEST(BenchReport, FiguresThatMeetEveryGoalPassEveryRow) {
  const std::string table = Table(Passing());
  EXPECT_THAT(table, HasSubstr("Goals: 8 PASS, 0 MISS, 0 n/a."));
  EXPECT_THAT(table, Not(HasSubstr("MISS |")));
}

TEST(BenchReport, EachMissedGoalIsShownOnItsOwnRowOnly) {
  struct Case {
    const char* row;
    void (*spoil)(Results*);
  };
  const Case cases[] = {
      {"Stop latency",
       [](Results* r) {
         r->stopMs = {30, 30};
       }},
      {"CPU, started idle module", [](Results* r) { r->idle.cpuSeconds = 0.5; }},
      {"Heap allocations per poll,", [](Results* r) { r->pollAllocations = 2; }},
      {"Heap allocations per poll with a trace on", [](Results* r) { r->tracedAllocations = 2; }},
      {"kolvane.dll size", [](Results* r) { r->dllBytes = 70000; }},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.row);
    Results r = Passing();
    test.spoil(&r);
    const std::string table = Table(r);
    EXPECT_THAT(Row(table, test.row), HasSubstr("| MISS |"));
    EXPECT_THAT(table, HasSubstr("Goals: 7 PASS, 1 MISS, 0 n/a."));
  }
}

TEST(BenchReport, TheLatencyRowNamesWhichOfItsTwoGoalsWasMissed) {
  Results r = Passing();
  r.latencyMs = {5, 10, 30};  // the median meets its goal, the 99th percentile not
  EXPECT_THAT(Row(Table(r), "Press-to-report latency"),
              HasSubstr("| median <= 11 ms, p99 <= 21 ms | MISS (latency_p99_ms) |"));
}

TEST(BenchReport, TheGoalsAreWrittenAlikeInTheTableAndTheJson) {
  const Results r = Passing();
  const std::string table = Table(r);
  EXPECT_THAT(Row(table, "Stop latency"), HasSubstr("| p99 <= 21 ms |"));
  EXPECT_THAT(Row(table, "Gap between repeats"), HasSubstr("past 200 | each > 200 ms |"));
  EXPECT_THAT(Row(table, "CPU, started idle module"), HasSubstr("| <= 1.2 x the floor |"));
  EXPECT_THAT(Row(table, "kolvane.dll size"), HasSubstr("| <= 64 KB |"));
  const std::string json = Json(r);
  EXPECT_THAT(json, HasSubstr("{\"name\": \"latency_median_ms\", \"goal\": \"<= 11 ms\", \"value\": 10.0000"));
  EXPECT_THAT(json, HasSubstr("{\"name\": \"repeat_min_ms\", \"goal\": \"> 200 ms\""));
  EXPECT_THAT(json, HasSubstr("{\"name\": \"idle_cpu_over_bare_sleeper\", \"goal\": \"<= 1.2\""));
  EXPECT_THAT(json, HasSubstr("{\"name\": \"dll_bytes\", \"goal\": \"<= 65536\""));
}

TEST(BenchReport, PathsWithQuotesAndControlBytesStayValidJsonStrings) {
  Results r = Passing();
  r.modulePath = "C:\\tv\\\"new\"\tbuild\n/libkolvane.so";
  r.dllPath = std::string("odd\x01name.dll");
  const std::string json = Json(r);
  EXPECT_THAT(json, HasSubstr("\"module\": \"C:\\\\tv\\\\\\\"new\\\"\\u0009build\\u000a/libkolvane.so\","));
  EXPECT_THAT(json, HasSubstr("\"path\": \"odd\\u0001name.dll\""));
  for (const char c : json) {
    if (c != '\n') {
      EXPECT_GE(static_cast<unsigned char>(c), 0x20) << "a raw control byte in the JSON";
    }
  }
}

}  // namespace
}  // namespace bench
}  // namespace kolvane
