// The job files and their names, without the print system: the folder
// writer's refusals and the description lines made from a job's options.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "printer/Backend.h"
#include "printer/JobFolder.h"
#include "printer/JobOptions.h"
#include "testsupport/TempFolder.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int OpenText(const fs::path& p, const std::string& text) {
  TTempFolder::WriteFile(p, text);
  return ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(PrintedFax, OptionValuesBecomeSingleLinesWithTheTitleAsSubject) {
  const TPrintedFax fax = PrintedFaxFromJob(
      "job-sheets=none fax-number=\"555\n1234\" fax-to='O\\'Brien \"Jr\"' copies=1", "Quarterly\r\nreport\x1b[2J");
  EXPECT_EQ(fax.faxNumber, "555 1234");
  EXPECT_EQ(fax.recipient, "O'Brien \"Jr\"");
  EXPECT_EQ(fax.subject, "Quarterly  report [2J");
  EXPECT_EQ(JobDescriptionText(fax), "555 1234\r\nO'Brien \"Jr\"\r\nQuarterly  report [2J\r\n");

  EXPECT_EQ(PrintedFaxFromJob("fax-subject=Given", "Title").subject, "Given");
  const TPrintedFax none = PrintedFaxFromJob("", "");
  EXPECT_EQ(JobDescriptionText(none), "\r\n\r\n\r\n");
  // An unterminated quote must not make the parser read past the text.
  EXPECT_EQ(PrintedFaxFromJob("fax-to='open", "t").subject, "t");
}

TEST(PrintedFax, LongValuesAreCutBetweenCharacters) {
  const std::string euros(200, 'x');
  std::string text = std::string(249, 'a') + "\xE2\x82\xAC" + euros;  // a 3-byte character at 249
  const std::string cut = OneLineValue(text);
  EXPECT_EQ(cut, std::string(249, 'a'));
  EXPECT_EQ(OneLineValue("  \t\n "), "");
}

TEST(BackendUserName, RefusesPathsAndOddNames) {
  for (const char* bad : {"", "..", "../root", "a/b", "x..y", "-rf", "bad\nname"})
    EXPECT_FALSE(AcceptableUserName(bad)) << bad;
  EXPECT_FALSE(AcceptableUserName(nullptr));
  for (const char* good : {"ann", "lp", "first.last", "user_1", "ann-marie"}) EXPECT_TRUE(AcceptableUserName(good));
}

TEST(JobFolder, RefusesRelativeDotDotAndLinkedFolders) {
  TTempFolder tmp;
  fs::create_directory(tmp / "real");
  fs::create_directory_symlink(tmp / "real", tmp / "linked");
  EXPECT_FALSE(TJobFolder("relative/SEND").IsOpen());
  EXPECT_FALSE(TJobFolder((tmp / "real" / ".." / "real").string()).IsOpen());
  TJobFolder linked((tmp / "linked").string() + "/");  // the trailing slash must not make it follow
  EXPECT_FALSE(linked.IsOpen());
  EXPECT_NE(linked.Error().find("cannot open"), std::string::npos);
  EXPECT_TRUE(TJobFolder((tmp / "real").string() + "//").IsOpen());
}

TEST(JobFolder, NeverReplacesOrFollowsWhatIsThereAndLeavesNoPartOnFailure) {
  TTempFolder tmp;
  const fs::path send = tmp / "SEND";
  fs::create_directory(send);
  TTempFolder::WriteFile(tmp / "victim", "precious");
  // A link where the first job would go, and a stray description of the second.
  fs::create_symlink(tmp / "victim", send / "PD00000.APF");
  TTempFolder::WriteFile(send / "PD00001.ZRD", "old");

  TJobFolder folder(send.string());
  ASSERT_TRUE(folder.IsOpen());
  const int image = OpenText(tmp / "image", "APF10 image bytes");
  EXPECT_EQ(folder.Deliver(image, "1\r\n2\r\n3\r\n"), "PD00002");
  ::close(image);
  EXPECT_EQ(ReadAll(tmp / "victim"), "precious");
  EXPECT_EQ(ReadAll(send / "PD00001.ZRD"), "old");
  EXPECT_EQ(ReadAll(send / "PD00002.APF"), "APF10 image bytes");
  EXPECT_EQ(ReadAll(send / "PD00002.ZRD"), "1\r\n2\r\n3\r\n");
  struct stat st {};
  ASSERT_EQ(::stat((send / "PD00002.APF").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // An image that cannot be read: an error and no trace in the folder.
  const auto before = Names(send);
  EXPECT_EQ(folder.Deliver(-1, "x"), "");
  EXPECT_FALSE(folder.Error().empty());
  EXPECT_EQ(Names(send), before);
}
