// The report recorder against a fake clock and a fake source, with real table
// files and a real record database.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "FakeSource.h"
#include "SwitchdFixture.h"
#include "services/switchd/RecordStore.h"
#include "services/switchd/Recorder.h"
#include "services/switchd/RecorderCommands.h"
#include "services/switchd/Scheduler.h"
#include "services/switchd/ThresholdModule.h"
#include "switch/SwitchProtocol.h"

namespace switchd_test {
namespace {

constexpr int64_t kMarchFirst0800 = 1772352000;  // 2026-03-01 08:00:00, the fake clock's local time

const char* const kResources =
    "<Resources>"
    "<Resource Name=\"load\"><Request Type=\"builtin\">load</Request><Unit>%</Unit></Resource>"
    "<Resource Name=\"net\"><Request Type=\"builtin\">net</Request><Unit>B</Unit></Resource>"
    "<Resource Name=\"dead\"><Request Type=\"builtin\">dead</Request></Resource>"
    "<Resource Name=\"wrong\"><Request Type=\"builtin\">refused</Request></Resource>"
    "</Resources>";

std::string Report(const std::string& name, const std::string& resource,
                   const std::string& items = "") {
  return "<Report Name=\"" + name + "\"><Resource Name=\"" + resource + "\"/>" + items +
         "</Report>";
}

// A set that always records the given reports, unless `items` says otherwise.
std::string Set(const std::string& name, const std::vector<std::string>& members,
                const std::string& items = "") {
  std::string text = "<ReportSet Name=\"" + name + "\">" + items;
  for (const std::string& member : members) text += "<Report Name=\"" + member + "\"/>";
  return text + "</ReportSet>";
}

class World {
 public:
  World(const std::string& dir, const std::string& reports, const std::string& sets) : dir_(dir) {
    std::filesystem::create_directories(dir_);
    WriteFile(dir_ + "/Resources.xml", kResources);
    WriteFile(dir_ + "/Reports.xml", "<Reports>" + reports + "</Reports>");
    WriteFile(dir_ + "/ReportSets.xml", "<ReportSets>" + sets + "</ReportSets>");
    source.Set("load", "0");
    source.Refuse("refused");
    clock.start = kMarchFirst0800;
  }
  ~World() {
    if (module) module->SetReportState(nullptr);
  }

  void Start() {
    module = std::make_unique<switchd::ThresholdModule>(dir_);
    std::string error;
    ASSERT_TRUE(module->Load(&error)) << error;
    auto store = switchd::RecordStore::Open(dir_ + "/records.db", &error);
    ASSERT_TRUE(store) << error;
    recorder = std::make_shared<switchd::Recorder>(*module, scheduler, source, clock,
                                                   std::move(store), settings);
    module->SetReportState(recorder);
    module->AddChangeListener([this](DWORD) { recorder->Reconfigure(); });
    recorder->Reconfigure();
    Settle();
  }
  // Runs what is due and waits for the writes it queued.
  void Settle() {
    scheduler.RunDue();
    recorder->WaitForWrites();
  }
  // Moves the clocks on a second at a time, running what falls due.
  void Advance(int seconds) {
    for (int i = 0; i < seconds; ++i) {
      clock.now_ms += 1000;
      Settle();
    }
  }
  // Sets the value of the "load" resource and polls once a second.
  void PollLoad(std::initializer_list<int64_t> values) {
    for (const int64_t value : values) {
      source.Set("load", std::to_string(value));
      Advance(1);
    }
  }
  std::string AskText(DWORD oc, const std::string& name) {
    const switchd::ModuleReply reply = module->Handle({oc, 0, 0, 0xFFFFFFFF, name + '\0'});
    if (reply.stat != 0 || reply.data.empty()) return "(status " + std::to_string(reply.stat) + ")";
    return std::string(reply.data.begin(), reply.data.end() - 1);
  }
  switchd::ControlAnswer Command(const std::vector<std::string>& words) {
    if (words[0] == "reports") return switchd::ReportsCommand(recorder.get(), words);
    return switchd::RecordsCommand(recorder.get(), clock, words);
  }
  std::vector<std::string> Texts(const std::string& report) {
    std::vector<std::string> texts;
    for (const auto& record : recorder->Store().Range(report, 1, 1000)) {
      texts.push_back(record.text);
    }
    return texts;
  }

  FakeClock clock;
  FakeSource source;
  switchd::Scheduler scheduler{clock};
  switchd::EngineSettings settings;
  std::unique_ptr<switchd::ThresholdModule> module;
  std::shared_ptr<switchd::Recorder> recorder;

 private:
  std::string dir_;
};

namespace sp = switch_protocol;

class RecorderTest : public DataDirFixture {
 protected:
  std::unique_ptr<World> Make(const std::string& reports, const std::string& sets) {
    auto world = std::make_unique<World>(root_ + "/w" + std::to_string(++worlds_), reports, sets);
    world->Start();
    return world;
  }
  int worlds_ = 0;
};

TEST_F(RecorderTest, RecordingFollowsTheSetsHoursStatusAndRecordingEnd) {
  // clang-format off
  const struct {
    const char* label;
    const char* at;  // local time of the poll, on 2026-03-01 unless it says otherwise
    std::string sets;
    bool recording;
  } kCases[] = {
      {"no hours", "12:00", Set("s", {"r"}), true},
      {"before the start", "07:59", Set("s", {"r"}, "<StartTime>08:00</StartTime><StopTime>18:00</StopTime>"), false},
      {"at the start", "08:00", Set("s", {"r"}, "<StartTime>08:00</StartTime><StopTime>18:00</StopTime>"), true},
      {"at the stop", "18:00", Set("s", {"r"}, "<StartTime>08:00</StartTime><StopTime>18:00</StopTime>"), false},
      {"overnight, late", "23:00", Set("s", {"r"}, "<StartTime>22:00</StartTime><StopTime>06:00</StopTime>"), true},
      {"overnight, early", "05:59", Set("s", {"r"}, "<StartTime>22:00</StartTime><StopTime>06:00</StopTime>"), true},
      {"overnight, midday", "12:00", Set("s", {"r"}, "<StartTime>22:00</StartTime><StopTime>06:00</StopTime>"), false},
      {"on the last day", "23:59", Set("s", {"r"}, "<RecordingEnd>03/01/2026</RecordingEnd>"), true},
      {"after the last day", "00:00", Set("s", {"r"}, "<RecordingEnd>02/28/2026</RecordingEnd>"), false},
      {"one of two sets", "12:00", Set("off", {"r"}, "<Status>disable</Status>") + Set("on", {"r"}), true},
      {"in no set", "12:00", Set("s", {}), false},
  };
  // clang-format on
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    World world(root_ + "/" + std::to_string(++worlds_), Report("r", "load"), c.sets);
    int hour = 0;
    int minute = 0;
    std::sscanf(c.at, "%d:%d", &hour, &minute);
    // The first poll comes one second after the start.
    world.clock.start = kMarchFirst0800 - 8 * 3600 + hour * 3600 + minute * 60 - 1;
    world.Start();
    world.Advance(1);
    EXPECT_EQ(world.recorder->HighestRecord("r"), c.recording ? 1u : 0u);
    EXPECT_EQ(world.recorder->ReportSetStatus(""), c.recording ? 1 : 0);
    EXPECT_EQ(world.source.Reads(), c.recording ? 1 : 0);
  }
}

TEST_F(RecorderTest, MonitorSelectionAndCountersShapeTheRecords) {
  // clang-format off
  const struct {
    const char* label;
    const char* instances;  // Report/Instances element
    bool counter;
    std::vector<const char*> polls;   // the readings of "net", a second apart
    std::vector<std::string> values;  // what each record holds after the time
  } kCases[] = {
      {"average", "<Instances Monitor=\"average\"/>", false, {"a=10 b=20 c=31", "a=-3 b=-4"}, {"20 B", "-4 B"}},
      {"any, one index", "<Instances Monitor=\"any\"><Indexes>2</Indexes></Instances>", false, {"a=10 b=20"}, {"20 B"}},
      {"counter deltas, first poll records nothing", "", true, {"a=100 b=50", "a=160 b=80", "a=4294967200 b=80", "a=100 b=80"}, {"a=60 b=30", "a=4294967040 b=0", "a=196 b=0"}},
      {"counter of 64 bits restarting", "", true, {"a=1099511627776 b=7", "a=5 b=9"}, {"2 B"}},
      {"counter averaged", "<Instances Monitor=\"average\"/>", true, {"a=0 b=0", "a=10 b=30"}, {"20 B"}},
  };
  // clang-format on
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    World world(root_ + "/" + std::to_string(++worlds_), Report("r", "net", c.instances),
                Set("s", {"r"}));
    world.Start();
    for (const char* poll : c.polls) {
      world.source.Set("net", poll, c.counter ? std::optional<uint64_t>(0) : std::nullopt);
      world.Advance(1);
    }
    std::vector<std::string> values;
    for (const std::string& text : world.Texts("r")) values.push_back(text.substr(20));
    EXPECT_EQ(values, c.values);
    EXPECT_EQ(world.recorder->Summary("r")->failed_reads, 0u);
  }
}

TEST_F(RecorderTest, AReportWhoseResourceCannotBeReadStoresNothingAndSaysWhy) {
  const struct {
    const char* resource;
    const char* why;
  } kCases[] = {
      {"dead", "nothing set for \"dead\""},
      {"wrong", "resource \"wrong\": unknown request \"refused\""},
      {"missing", "the resource \"missing\" is not defined"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.resource);
    World world(root_ + "/" + std::to_string(++worlds_),
                Report("r", c.resource) + Report("fine", "load"), Set("s", {"r", "fine"}));
    world.Start();
    world.Advance(3);
    EXPECT_EQ(world.recorder->HighestRecord("r"), 0u);
    EXPECT_EQ(world.recorder->HighestRecord("fine"), 3u);
    EXPECT_EQ(world.recorder->Summary("r")->failed_reads, 3u);
    EXPECT_EQ(world.recorder->Summary("r")->last_error, c.why);
    EXPECT_EQ(world.AskText(sp::kOcReportCurrentValue, "r"), "(status 12)");
    // The set records, but one of its reports fails.
    EXPECT_EQ(world.recorder->ReportSetStatus("s"), 2);
    EXPECT_EQ(world.Command({"records", "r"}).error,
              std::string("report \"r\" has no records: its last read failed: ") + c.why);
  }
}

TEST_F(RecorderTest, AFullDiskStopsRecordingUntilAWriteSucceedsAgain) {
  auto world = Make(Report("r", "load"), Set("s", {"r"}));
  world->PollLoad({1, 2});
  const std::vector<std::string> kept = world->Texts("r");
  // The database may not grow: a page must fill up before a write fails.
  world->recorder->Store().LimitPages(1);
  for (int i = 0; i < 2000 && !world->recorder->Status().stopped; ++i) world->PollLoad({7});
  ASSERT_TRUE(world->recorder->Status().stopped);
  const DWORD count = world->recorder->HighestRecord("r");
  EXPECT_NE(world->recorder->Status().reason.find("the disk is full"), std::string::npos);
  EXPECT_NE(switchd::RecorderStatusLine(*world->recorder).find(" stopped: the disk is full"),
            std::string::npos);
  EXPECT_EQ(world->recorder->ReportSetStatus("s"), 2);
  world->PollLoad({8, 8});
  EXPECT_EQ(world->recorder->HighestRecord("r"), count);
  EXPECT_EQ(world->recorder->Status().lost_records, 3u);

  world->recorder->Store().LimitPages(0);
  world->PollLoad({9});
  EXPECT_FALSE(world->recorder->Status().stopped);
  EXPECT_EQ(world->recorder->ReportSetStatus("s"), 1);
  EXPECT_EQ(world->recorder->HighestRecord("r"), count + 1);
  const std::vector<std::string> texts = world->Texts("r");
  EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 2), kept);
  EXPECT_EQ(texts.back().substr(20), "9 %");
}

TEST_F(RecorderTest, RecordsCommandAnswersRangesAndRefusesBadInput) {
  auto world = Make(Report("r", "load") + Report("idle", "load"), Set("s", {"r"}));
  world->PollLoad({1, 2, 3, 4, 5});
  const auto line = [](int n) {
    return std::to_string(n) + " 2026-03-01 08:00:0" + std::to_string(n) + " " + std::to_string(n) +
           " %";
  };
  // clang-format off
  const struct {
    std::vector<std::string> words;
    std::vector<std::string> lines;  // when it succeeds
    const char* error;               // nullptr when it succeeds
  } kCases[] = {
      {{"records", "r"}, {line(1), line(2), line(3), line(4), line(5)}, nullptr},
      {{"records", "r", "--from", "4"}, {line(4), line(5)}, nullptr},
      {{"records", "r", "--last", "2"}, {line(4), line(5)}, nullptr},
      {{"records", "r", "--since", "2026-03-01T08:00:03"}, {line(3), line(4), line(5)}, nullptr},
      {{"records", "r", "--csv", "--last", "1"}, {"number,time,instance,value,unit", "5,2026-03-01 08:00:05,,5,%"}, nullptr},
      {{"records", "r", "--from", "6"}, {}, "--from 6 is past the end: report \"r\" has 5 records"},
      {{"records", "r", "--from", "0"}, {}, "--from takes a record number from 1 on, not \"0\""},
      {{"records", "nope"}, {}, "no report named \"nope\""},
      {{"records", "idle"}, {}, "report \"idle\" has no records: no enabled report set holding it is inside its hours"},
      {{"records", "r", "--since", "yesterday"}, {}, "--since takes YYYY-MM-DD, YYYY-MM-DDThh:mm[:ss] or a span back from now such as 90s, 30m, " "2h or 7d, not \"yesterday\""},
      {{"records", "r", "--since", "2026-03-02"}, {}, "report \"r\" has no record since 2026-03-02 (the newest is 2026-03-01 08:00:05 5 %)"},
      {{"records", "r", "--from", "1", "--since", "1d"}, {}, "--from and --since both choose the first record: use one"},
      {{"records", "r", "--last"}, {}, "usage: records REPORT [--from N] [--since TIME] [--last N] [--csv]"},
  };
  // clang-format on
  for (const auto& c : kCases) {
    std::string words;
    for (const std::string& word : c.words) words += word + " ";
    SCOPED_TRACE(words);
    const switchd::ControlAnswer answer = world->Command(c.words);
    EXPECT_EQ(answer.ok, c.error == nullptr);
    if (c.error != nullptr) {
      EXPECT_EQ(answer.error, c.error);
    } else {
      EXPECT_EQ(answer.lines, c.lines);
    }
  }

  const switchd::ControlAnswer reports = world->Command({"reports"});
  ASSERT_TRUE(reports.ok);
  EXPECT_EQ(reports.lines, (std::vector<std::string>{"REPORT  RECORDS  FAILED  STATE      LAST",
                                                     "idle          0       0  idle       -",
                                                     "r             5       0  recording  5 %"}));
  const switchd::ControlAnswer detail = world->Command({"reports", "r"});
  ASSERT_TRUE(detail.ok);
  for (const char* expected : {"unit %", "records 5", "state recording", "last-value 5 %",
                               "oldest 2026-03-01 08:00:01 1 %"}) {
    EXPECT_NE(std::find(detail.lines.begin(), detail.lines.end(), expected), detail.lines.end())
        << expected;
  }
  EXPECT_EQ(world->Command({"reports", "nope"}).error, "no report named \"nope\"");
}

}  // namespace
}  // namespace switchd_test
