#include <stdio.h>

#include <string>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "host/report/session_output.h"

namespace kolvane {
namespace host {
namespace {

using ::testing::HasSubstr;

// Everything one output wrote, through a temporary file as a pipe would see it.
template <typename Write>
std::string Written(OutputFormat format, bool verbose, Write write) {
  FILE* file = tmpfile();
  if (file == nullptr) return "(no temporary file)";
  {
    const std::unique_ptr<SessionOutput> output = MakeSessionOutput(format, file, verbose);
    write(*output);
  }
  std::string text;
  rewind(file);
  for (int c = fgetc(file); c != EOF; c = fgetc(file)) {
    if (c != '\r') text += static_cast<char>(c);
  }
  fclose(file);
  return text;
}

const KeyReport kTv{1250000, "Kolvane_TV", "", false, 12400, true};
const KeyReport kRepeat{2815000, "Kolvane_VolumeUp", "VolumeUp", true, 281000, false};

TEST(TextOutput, OneLinePerKeyWithDashForNoLabel) {
  const std::string text = Written(OutputFormat::kText, false, [](SessionOutput& out) {
    out.Key(kTv);
    out.Key(kRepeat);
  });
  EXPECT_EQ(text,
            "  1.250s  Kolvane_TV            -            fresh    12 ms after press\n"
            "  2.815s  Kolvane_VolumeUp      VolumeUp     repeat  281 ms after previous\n");
}

TEST(TextOutput, SetUpOnlyWhenVerbose) {
  const RegisterRecord write{1000, testbed::RegisterAccess{true, 0x118, 0x7000}};
  EXPECT_EQ(Written(OutputFormat::kText, false, [&](SessionOutput& out) { out.Register(write); }), "");
  EXPECT_THAT(Written(OutputFormat::kText, true, [&](SessionOutput& out) { out.Register(write); }),
              HasSubstr("write 0x118 <- 0x00007000"));
}

TEST(TextOutput, SummaryGivesCountsDelaysAndTheLogFile) {
  Summary summary;
  summary.buttonsPressed = 1;
  summary.keysReported = 3;
  summary.fresh = 1;
  summary.repeats = 2;
  summary.delays = 1;
  summary.medianDelayMs = 12.4;
  summary.maxDelayMs = 12.4;
  const std::string text = Written(OutputFormat::kText, false, [&](SessionOutput& out) {
    out.End(summary, SessionFiles{"/x/Quillfern.log", ""});
  });
  EXPECT_EQ(text,
            "Summary: 1 button pressed, 3 keys reported (1 fresh, 2 repeats); press-to-report delay median 12 ms, "
            "max 12 ms.\nLog file: /x/Quillfern.log\n");
}

TEST(TextOutput, SummaryCountsUnknownCodesApartAndSaysHowManyLinesWereDropped) {
  Summary summary;
  summary.buttonsPressed = 2;
  summary.unknownCodes = 1;
  summary.keysReported = 1;
  summary.fresh = 1;
  summary.repeats = 0;
  summary.outputDropped = 1;
  const std::string text = Written(OutputFormat::kText, false, [&](SessionOutput& out) {
    out.End(summary, SessionFiles{"/x/Quillfern.log", ""});
  });
  EXPECT_EQ(text,
            "Summary: 2 buttons pressed, 1 unknown code, 1 key reported (1 fresh, 0 repeats); 1 line of output "
            "dropped: the output could not keep up.\nLog file: /x/Quillfern.log\n");
}

TEST(TextOutput, OneReportIsSingular) {
  const std::string text = Written(OutputFormat::kText, false, [](SessionOutput& out) {
    RunComparison run;
    run.reports = 1;
    out.Compared(TraceComparison{"one.trace", {run}});
  });
  EXPECT_EQ(text, "Compare: the replay made the 1 report that one.trace recorded.\n");
}

TEST(JsonlOutput, OneObjectPerLineWithEscapedText) {
  const std::string text = Written(OutputFormat::kJsonl, false, [](SessionOutput& out) {
    out.Key(kTv);
    out.Action(20000, "press \"odd\\key\"");
  });
  EXPECT_EQ(text,
            "{\"event\":\"key\",\"time_ms\":1250.0,\"name\":\"Kolvane_TV\",\"label\":\"\",\"state\":\"fresh\","
            "\"delay_ms\":12.4,\"delay_from\":\"press\"}\n"
            "{\"event\":\"step\",\"time_ms\":20.0,\"step\":\"press \\\"odd\\\\key\\\"\"}\n");
}

TEST(JsonlOutput, ARepeatIsCalledRepeatAsInTheTrace) {
  const std::string text = Written(OutputFormat::kJsonl, false, [](SessionOutput& out) { out.Key(kRepeat); });
  EXPECT_THAT(text, HasSubstr("\"state\":\"repeat\""));
}

TEST(JsonlOutput, SummaryWithoutPressesHasNoDelays) {
  const std::string text = Written(OutputFormat::kJsonl, false, [](SessionOutput& out) {
    out.End(Summary{}, SessionFiles{"C:\\run\\Quillfern.log", "t.svg"});
  });
  EXPECT_EQ(text,
            "{\"event\":\"summary\",\"buttons_pressed\":0,\"unknown_codes\":0,\"keys_reported\":0,\"fresh\":0,"
            "\"repeat\":0,\"output_dropped\":0,\"log_file\":\"C:\\\\run\\\\Quillfern.log\",\"timeline\":\"t.svg\"}\n");
}

// A trace of two runs, the second of which differs.
TraceComparison TwoRunsOneDiffering() {
  RunComparison first, second;
  first.headerLine = 1;
  first.reports = 16;
  second.headerLine = 57;
  second.reports = 3;
  second.difference = "at 0.423s: expected Kolvane_Mute fresh at 0.423s, got Kolvane_TV fresh at 0.440s";
  return TraceComparison{"remote.trace", {first, second}};
}

TEST(TextOutput, EachRunOfATraceBeginsWithItsHeaderAndTheComparisonEndsIt) {
  const std::string text = Written(OutputFormat::kText, false, [](SessionOutput& out) {
    out.Run(2, 3, 57, "# kolvane 1.0.0 trace, linux x86_64, started 2026-12-09 02:36:19\x1B[2J");
    out.Compared(TwoRunsOneDiffering());
  });
  EXPECT_EQ(text,
            "Run 2 of 3, line 57: kolvane 1.0.0 trace, linux x86_64, started 2026-12-09 02:36:19\\x1B[2J\n"
            "Compare: 2 runs of remote.trace: 1 matches, 1 differs.\n"
            "Compare: run 2 of 2 (from line 57) differs at 0.423s: expected Kolvane_Mute fresh at 0.423s, got "
            "Kolvane_TV fresh at 0.440s.\n");
}

TEST(JsonlOutput, ARunEventAndAComparisonThatNamesTheRunsThatDiffer) {
  const std::string text = Written(OutputFormat::kJsonl, false, [](SessionOutput& out) {
    out.Run(2, 3, 57, "# kolvane 1.0.0 trace, linux x86_64, started 2026-12-09 02:36:19");
    out.Compared(TwoRunsOneDiffering());
  });
  EXPECT_EQ(text,
            "{\"event\":\"run\",\"run\":2,\"runs\":3,\"line\":57,"
            "\"header\":\"kolvane 1.0.0 trace, linux x86_64, started 2026-12-09 02:36:19\"}\n"
            "{\"event\":\"compare\",\"trace\":\"remote.trace\",\"match\":false,\"runs\":2,\"runs_matching\":1,"
            "\"differing_runs\":[2],\"reports\":19,\"difference\":\"run 2 of 2 (from line 57) differs at 0.423s: "
            "expected Kolvane_Mute fresh at 0.423s, got Kolvane_TV fresh at 0.440s\",\"note\":\"\"}\n");
}

}  // namespace
}  // namespace host
}  // namespace kolvane
