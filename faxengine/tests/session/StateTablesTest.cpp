// The four state machines' tables: each is indexed by its state, and every
// state keeps the name and number the session log and the history files
// have always shown for it.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "faxengine/class1/ReceiveMachine1.h"
#include "faxengine/class1/SendMachine1.h"
#include "faxengine/class2/ReceiveMachine2.h"
#include "faxengine/class2/SendMachine2.h"
#include "faxengine/session/FaxSession.h"

namespace {

// The send states in the order of their numbers, from 30.
const std::vector<std::string> kSendNumbers = {
    "tfNone", "tfGetEntry", "tfInit", "tf1Init1", "tf2Init1", "tf2Init1A", "tf2Init1B", "tf2Init2", "tf2Init3",
    "tfDial", "tfRetryWait", "tf1Connect", "tf1SendTSI", "tf1TSIResponse", "tf1DCSResponse", "tf1TrainStart",
    "tf1TrainFinish", "tf1WaitCFR", "tf1WaitPgCn", "tf2Connect", "tf2GetParams", "tfWaitXon", "tfWaitFrHead",
    "tfSndPgeHdr", "tfOpenCover", "tfSendCover", "tfPrepPage", "tfSendPage", "tfDrainPage", "tf1PageEnd",
    "tf1PrepEOP", "tf1SendEOP", "tf1WaitMPS", "tf1WaitEOP", "tf1WaitMCF", "tf1SendDCN", "tf1Hangup",
    "tf1WaitHngp", "tf2SendEOP", "tf2WaitFPTS", "tf2WaitFET", "tf2WaitPgOK", "tf2SndNwPrm", "tf2NextPage",
    "tf20ChckPg", "tfClose", "tfCompleteOK", "tfAbort", "tfDone"};
// The receive states in the order of their numbers, from 79.
const std::vector<std::string> kReceiveNumbers = {
    "rfNone", "rfInit", "rf1Init1", "rf2Init1", "rf2Init1A", "rf2Init1B", "rf2Init2", "rf2Init3", "rfWaiting",
    "rfAnswer", "rf1SendCSI", "rf1SendDIS", "rf1CollFrames", "rf1CollRtry1", "rf1CollRtry2", "rf1StartTrain",
    "rf1CollTrn", "rf1Timeout", "rf1Retrain", "rf1FinishTrain", "rf1SendCFR", "rf1WtPgCnnct", "rf2ValCnnct",
    "rf2GtSndID", "rf2GtCnnct", "rfStartPage", "rfGtPgDta", "rf1FinPage", "rf1WaitEOP", "rf1WritePage",
    "rf1SendMCF", "rf1WaitDCN", "rf1WtHngp", "rf2GtPgRslt", "rf2GetFHNG", "rfComplete", "rfAbort", "rfDone"};

// Checks one table; `other` is the prefix of the other class's own states
// ("tf2" for a Class 1 table), which it must not have.
template <class Table>
void CheckTable(const Table& table, const std::vector<std::string>& numbers, int first, const std::string& other) {
  std::set<std::string> names;
  std::set<int> logs;
  for (size_t i = 0; i < table.size(); ++i) {
    const auto& row = table[i];
    const std::string name = row.name;
    SCOPED_TRACE(name);
    EXPECT_EQ(static_cast<size_t>(row.state), i) << "the table is indexed by state";
    EXPECT_TRUE(names.insert(name).second) << "name twice";
    EXPECT_TRUE(logs.insert(row.log).second) << "log number twice";
    EXPECT_NE(row.handler, nullptr);
    ASSERT_GE(row.log, first);
    ASSERT_LT(static_cast<size_t>(row.log - first), numbers.size());
    EXPECT_EQ(numbers[static_cast<size_t>(row.log - first)], name) << "number " << int{row.log};
    EXPECT_NE(name.rfind(other, 0), 0u) << "a state of the other class";
  }
  // Every machine begins, ends and fails through the shared states.
  for (const char* shared : {"None", "Abort", "Done"})
    EXPECT_EQ(names.count(std::string(numbers[0].substr(0, 2)) + shared), 1u) << shared;
}

}  // namespace

TEST(StateTables, EachMachineHasItsStatesUnderTheirLoggedNamesAndNumbers) {
  CheckTable(TFxSendMachine1::kStates, kSendNumbers, 30, "tf2");
  CheckTable(TFxSendMachine2::kStates, kSendNumbers, 30, "tf1");
  CheckTable(TFxReceiveMachine1::kStates, kReceiveNumbers, 79, "rf2");
  CheckTable(TFxReceiveMachine2::kStates, kReceiveNumbers, 79, "rf1");
}

TEST(StateTables, TheLogNamesEveryStateNumberAsBefore) {
  // Together the machines cover every number the log and the history show;
  // a shared state has one name in every machine.
  for (size_t i = 0; i < kSendNumbers.size(); ++i)
    EXPECT_EQ(FxStateLogName(static_cast<uint8_t>(30 + i)), kSendNumbers[i]);
  for (size_t i = 0; i < kReceiveNumbers.size(); ++i)
    EXPECT_EQ(FxStateLogName(static_cast<uint8_t>(79 + i)), kReceiveNumbers[i]);
  EXPECT_EQ(FxStateLogName(29), "");
  EXPECT_EQ(FxStateLogName(79 + 38), "");
}
