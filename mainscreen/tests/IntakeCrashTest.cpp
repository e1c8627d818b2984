// A child process takes a few hundred printer-driver jobs into a real
// outgoing table and is killed with SIGKILL at a random instant; the intake
// then runs again in this process. Every job must end as exactly one row,
// whose image exists, and no description may be left waiting.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <map>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "mainscreen/PrinterDriverIntake.h"
#include "shell/core/Folders.h"
#include "store/core/FaxTables.h"
#include "testsupport/TempFolder.h"
#include "xbase/Table.h"

namespace fs = std::filesystem;

namespace {

// The outgoing table as the main window appends jobs to it.
class TOutgoing {
 public:
  bool Open(const fs::path& dbf) {
    if (!fs::exists(dbf)) {
      std::vector<TDbfField> fields;
      for (const TFieldDef& f : OutgoingFields()) fields.push_back({f.name, f.type, f.width, f.decimals, 0});
      if (!TDbfFile::Create(dbf, fields, true)) return false;
    }
    if (!table_.Open(dbf, {}, &settings_)) return false;
    if (table_.TagCount() == 0) {
      for (const TTagDef& t : OutgoingTags())
        if (t.atCreation && !table_.AddTag(t.tag, t.key, kTagCondition, t.descending)) return false;
    }
    return true;
  }
  bool Append(const std::string& faxDoc, const TJobDescription& job) {
    return table_.AppendBlank() && table_.SetText(table_.FieldIndex("FAXDOC"), faxDoc) &&
           table_.SetText(table_.FieldIndex("RECIPIENT"), job.recipient) &&
           table_.SetText(table_.FieldIndex("SUBJECT"), job.subject) &&
           table_.SetText(table_.FieldIndex("PHONE"), job.faxNumber) && table_.Post();
  }
  // SUBJECT -> FAXDOC of every row.
  std::multimap<std::string, std::string> Rows() {
    std::multimap<std::string, std::string> rows;
    for (uint32_t r = 1; r <= table_.RecCount(); ++r) {
      if (!table_.Go(r)) break;
      rows.emplace(table_.GetTrimString("SUBJECT"), table_.GetTrimString("FAXDOC"));
    }
    return rows;
  }
  TXbTable& Table() { return table_; }
  TJobTable Jobs() {
    return {[this](const std::string& doc, const TJobDescription& job) { return Append(doc, job); },
            [this](const std::string& doc) { return TableHasFaxDoc(table_, doc); }};
  }

 private:
  TXbSettings settings_;
  TXbTable table_;
};

// Job i: an 8.3 name, or now and then one too long for FAXDOC (renamed when
// taken); its subject names it.
std::string JobName(int i) {
  char name[32];
  std::snprintf(name, sizeof name, i % 16 == 5 ? "LONGJOBNAME%04d" : "J%05d", i);
  return name;
}
std::string JobSubject(int i) { return "job " + std::to_string(i); }

void WriteJobs(const fs::path& send, int count) {
  for (int i = 0; i < count; ++i) {
    TTempFolder::WriteFile(send / (JobName(i) + ".APF"), "apf " + std::to_string(i));
    TTempFolder::WriteFile(send / (JobName(i) + ".ZRD"), "555-" + std::to_string(i) + "\r\nAnn\r\n" + JobSubject(i));
  }
}

[[noreturn]] void IntakeChild(const fs::path& dbf) {
  TOutgoing out;
  if (!out.Open(dbf)) ::_exit(3);
  ProcessExtraPDFaxFiles(out.Jobs());
  ::_exit(0);
}

// Forks the intake and kills it after `delay` (never when negative);
// returns how long the child ran.
std::chrono::microseconds RunChild(const fs::path& dbf, std::chrono::microseconds delay) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) IntakeChild(dbf);
  if (delay.count() >= 0) {
    std::this_thread::sleep_for(delay);
    ::kill(pid, SIGKILL);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) {
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
}

}  // namespace

TEST(IntakeCrash, JobsTakenByAKilledIntakeBecomeExactlyOneRowEach) {
  constexpr int kJobs = 300;
  constexpr int kRuns = 30;
  std::mt19937 rng(20261208);
  std::chrono::microseconds span{-1};
  int killedMidway = 0;
  for (int run = 0; run < kRuns; ++run) {
    TTempFolder temp;
    SetProgramFolder(temp.Path().string());
    MakeFolders();
    const fs::path send = temp.Path() / "SEND";
    const fs::path dbf = temp.Path() / "CVOUT.DBF";
    WriteJobs(send, kJobs);
    {
      TOutgoing made;  // the table and its tags exist before the intake runs
      ASSERT_TRUE(made.Open(dbf));
    }
    // The first run is not killed: it measures how long a whole intake takes.
    std::chrono::microseconds delay{-1};
    if (span.count() > 0) delay = std::chrono::microseconds(std::uniform_int_distribution<long>(0, span.count())(rng));
    const auto ran = RunChild(dbf, delay);
    if (span.count() < 0) span = ran;

    TOutgoing out;
    ASSERT_TRUE(out.Open(dbf)) << "run " << run;
    const size_t before = out.Table().RecCount();
    if (before > 0 && before < kJobs) ++killedMidway;
    ProcessExtraPDFaxFiles(out.Jobs());
    const auto rows = out.Rows();
    ASSERT_EQ(rows.size(), size_t{kJobs}) << "run " << run << ", " << before << " rows before the second intake";
    for (int i = 0; i < kJobs; ++i) {
      ASSERT_EQ(rows.count(JobSubject(i)), 1u) << "run " << run << ": " << JobName(i);
      const std::string doc = rows.find(JobSubject(i))->second;
      EXPECT_EQ(TTempFolder::ReadFile(send / doc), "apf " + std::to_string(i)) << "run " << run << ": " << doc;
    }
    // Nothing waits any more, and every image is the body of its row (no
    // second name of an image is left behind).
    int images = 0;
    for (const auto& entry : fs::directory_iterator(send)) {
      EXPECT_NE(entry.path().extension().string().substr(0, 3), ".ZR") << "run " << run << ": " << entry.path();
      images += entry.path().extension() == ".APF";
    }
    EXPECT_EQ(images, kJobs) << "run " << run;
  }
  // Most kills must land inside the intake, or the test shows nothing.
  EXPECT_GT(killedMidway, kRuns / 3);
}
