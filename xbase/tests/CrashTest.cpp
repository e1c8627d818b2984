// A child process appends, changes and deletes rows of a table with tags and
// reports each change once the engine has returned from it; the parent kills
// it with SIGKILL at a random instant. Every time the table must open, hold
// every reported change, and have tags that agree with its rows.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <map>
#include <poll.h>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "xbase/Table.h"
#include "xbase/tests/TestUtil.h"

namespace {

struct Report {
  char kind;  // 'A' append, 'R' replace, 'D' delete, 'C' commit
  uint32_t recno;
  uint32_t value;
};

bool AddTags(TXbTable& t) {
  return t.AddTag("DATESENT", "DTOS(DATESENT)+TIMESENT", ".not. deleted()", true) &&
         t.AddTag("SUBJECT", "UPPER(SUBJECT)", ".not. deleted()", false) &&
         t.AddTag("ARCHIVED", "ARCHIVED", ".not. deleted()", false);
}

// A writer that never commits leaves the index behind its rows whenever it is
// killed; one that commits spends much of its time syncing, so on a slow disk
// it is nearly always killed with the index current. Rounds alternate.
[[noreturn]] void Child(const std::filesystem::path& path, int fd, unsigned seed, bool commits) {
  TXbSettings settings;
  TXbTable t;
  if (!t.Open(path, {}, &settings)) ::_exit(3);
  if (t.TagCount() == 0 && !AddTags(t)) ::_exit(11);
  std::mt19937 rng(seed);
  uint32_t counter = seed * 100000;
  auto report = [&](char kind, uint32_t recno, uint32_t value) {
    const Report r{kind, recno, value};
    if (::write(fd, &r, sizeof r) != static_cast<ssize_t>(sizeof r)) ::_exit(4);
  };
  for (;;) {
    const unsigned k = static_cast<unsigned>(rng() % 20);
    ++counter;
    const std::string text = "row " + std::to_string(counter);
    if (k < 12 || t.RecCount() == 0) {
      if (!t.AppendBlank()) ::_exit(5);
      if (!t.SetValue("SUBJECT", TXbValue::Char(text)) ||
          !t.SetValue("DATESENT", TXbValue::Date(XbJulian(2020, 1, 1) + static_cast<int32_t>(counter % 900))) ||
          !t.SetValue("TIMESENT", TXbValue::Char(std::to_string(10 + counter % 14) + ":00")) ||
          !t.SetValue("PAGES", TXbValue::Num(counter % 1000)) || !t.Post())
        ::_exit(6);
      report('A', t.RecNo(), counter);
    } else if (k < 17) {
      const auto r = static_cast<uint32_t>(1 + rng() % t.RecCount());
      if (!t.Go(r)) ::_exit(7);
      if (!t.SetValue("SUBJECT", TXbValue::Char(text)) || !t.SetValue("PAGES", TXbValue::Num(counter % 1000)) ||
          !t.Post())
        ::_exit(8);
      report('R', r, counter);
    } else if (k < 19) {
      const auto r = static_cast<uint32_t>(1 + rng() % t.RecCount());
      if (!t.Go(r) || !t.Delete()) ::_exit(9);
      report('D', r, 0);
    } else if (commits) {
      if (!t.Commit()) ::_exit(10);
      report('C', 0, 0);
    }
  }
}

}  // namespace

TEST(CrashSafety, KilledWriterLeavesEveryReportedRowAndMatchingTags) {
  TTempFolder dir;
  const auto path = dir / "CVOUT.DBF";
  XB_ASSERT_OK(TDbfFile::Create(path, OutgoingLikeFields(), true));
  std::mt19937 rng(20261207);
  // What the parent knows must be in the table: subject text per row and
  // deleted flags.
  std::map<uint32_t, uint32_t> lastValue;
  std::map<uint32_t, bool> deleted;
  uint32_t reportedRows = 0;
  int rebuilt = 0;
  int states[4] = {};
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  int rounds = 0;
  for (; rounds < 60 && std::chrono::steady_clock::now() < end; ++rounds) {
    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(p[0]);
      Child(path, p[1], static_cast<unsigned>(rounds + 1), rounds % 2 == 0);
    }
    ::close(p[1]);
    // Kill at a random instant once the child is at work (its first report),
    // so that a loaded machine still exercises the writes.
    pollfd pfd{p[0], POLLIN, 0};
    ::poll(&pfd, 1, 10000);
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 30000));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "child ended by itself with " << WEXITSTATUS(status);
    Report r{};
    ssize_t n;
    while ((n = ::read(p[0], &r, sizeof r)) == static_cast<ssize_t>(sizeof r)) {
      if (r.kind == 'A') {
        reportedRows = std::max(reportedRows, r.recno);
        lastValue[r.recno] = r.value;
      } else if (r.kind == 'R') {
        lastValue[r.recno] = r.value;
      } else if (r.kind == 'D') {
        deleted[r.recno] = true;
      }
    }
    ::close(p[0]);

    TXbSettings settings;
    TXbTable t;
    XB_ASSERT_OK(t.Open(path, {}, &settings));
    if (t.IndexState() == XbIndexState::Rebuilt) ++rebuilt;
    ++states[static_cast<int>(t.IndexState())];
    ASSERT_GE(t.RecCount(), reportedRows) << "round " << rounds;
    for (const auto& [recno, value] : lastValue) {
      XB_ASSERT_OK(t.Go(recno));
      // A later, unreported change may have landed too, never an older one.
      const std::string s = t.GetTrimString("SUBJECT");
      ASSERT_EQ(s.rfind("row ", 0), 0u) << recno;
      EXPECT_GE(std::stoul(s.substr(4)), value) << "round " << rounds << " row " << recno;
    }
    for (const auto& [recno, d] : deleted) {
      XB_ASSERT_OK(t.Go(recno));
      EXPECT_TRUE(t.Deleted()) << recno;
    }
    // Rows beyond the reported ones were posted but not yet reported: they
    // must be whole rows all the same.
    for (uint32_t rn = reportedRows + 1; rn <= t.RecCount(); ++rn) {
      XB_ASSERT_OK(t.Go(rn));
      EXPECT_EQ(t.GetTrimString("SUBJECT").rfind("row ", 0), 0u);
    }
    XB_ASSERT_OK(t.VerifyIndexes());
    // Adopt what an unreported change wrote, so later rounds compare to it.
    for (uint32_t rn = 1; rn <= t.RecCount(); ++rn) {
      XB_ASSERT_OK(t.Go(rn));
      lastValue[rn] = static_cast<uint32_t>(std::stoul(t.GetTrimString("SUBJECT").substr(4)));
      if (t.Deleted()) deleted[rn] = true;
    }
    reportedRows = t.RecCount();
    XB_ASSERT_OK(t.Close());
  }
  EXPECT_GE(rounds, 20);
  EXPECT_GT(rebuilt, 0) << "no round caught the index out of date; none/current/rebuilt/aside: " << states[0] << "/"
                        << states[1] << "/" << states[2] << "/" << states[3];
  EXPECT_EQ(states[static_cast<int>(XbIndexState::MovedAside)], 0) << "a killed writer left an unreadable index";
  RecordProperty("rounds", rounds);
  RecordProperty("rebuilt", rebuilt);
}
