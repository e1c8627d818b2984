// Triggers and their delivery, over a pseudo-terminal.

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "faxengine/port/ComDevice.h"
#include "testsupport/Pty.h"
#include "faxengine/port/ComPort.h"
#include "faxengine/port/PortErrors.h"
#include "faxengine/port/PortRegistry.h"

namespace {

struct TNote {
  uint16_t msg;
  uint16_t wParam;
  uint32_t lParam;
};

class TriggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLockFolder(locks_.Path());
    port_.SetDeviceName(pty_.SlavePath());
    port_.SetOpen(true);
    d_ = port_.Dispatcher();
    ASSERT_NE(d_, nullptr);
    d_->AddMethodHandler([this](uint16_t msg, uint16_t w, uint32_t l) {
      std::lock_guard lock(m_);
      notes_.push_back({msg, w, l});
    });
  }
  void TearDown() override {
    port_.SetOpen(false);
    SetLockFolder({});
  }

  std::vector<TNote> Notes() {
    std::lock_guard lock(m_);
    return notes_;
  }
  size_t Count(TTriggerMsg msg, int wParam = -1) {
    size_t n = 0;
    for (const auto& note : Notes())
      if (note.msg == static_cast<uint16_t>(msg) && (wParam < 0 || note.wParam == wParam)) ++n;
    return n;
  }

  TTempFolder locks_;
  TPty pty_;
  TFxComPort port_;
  TFxPosixDispatcher* d_ = nullptr;
  std::mutex m_;
  std::vector<TNote> notes_;
};

TEST_F(TriggerTest, DataTriggersMatchWithAndWithoutLetterCase) {
  const int exact = d_->AddDataTrigger("CONNECT", false);
  const int folded = d_->AddDataTrigger("ok", true);
  ASSERT_GT(exact, 0);
  ASSERT_GT(folded, 0);
  pty_.Write("\r\nconnect 9600\r\nOk\r\n");
  ASSERT_TRUE(WaitFor([&] { return Count(TTriggerMsg::tmData, folded) == 1; }));
  EXPECT_EQ(Count(TTriggerMsg::tmData, exact), 0u);
  pty_.Write("CONNECT");
  ASSERT_TRUE(WaitFor([&] { return Count(TTriggerMsg::tmData, exact) == 1; }));
  for (const auto& n : Notes()) {
    if (n.msg == static_cast<uint16_t>(TTriggerMsg::tmData) && n.wParam == exact) {
      EXPECT_EQ(n.lParam & 0xFFFF, 7u);
    }
  }
}

TEST_F(TriggerTest, DataTriggerFindsOverlappingTextAndLastRegisteredHearsFirst) {
  const int first = d_->AddDataTrigger("ABAC", false);
  const int second = d_->AddDataTrigger("AC", false);
  pty_.Write("ABABAC");
  ASSERT_TRUE(WaitFor([&] { return Count(TTriggerMsg::tmData) == 2; }));
  const auto notes = Notes();
  EXPECT_EQ(notes[0].wParam, second);
  EXPECT_EQ(notes[1].wParam, first);
}

TEST_F(TriggerTest, AvailThresholdFiresOncePerArrivalAndHandlersConsume) {
  d_->SetAvailThreshold(4);
  pty_.Write("abc");
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(Count(TTriggerMsg::tmAvail), 0u);
  pty_.Write("d");
  ASSERT_TRUE(WaitFor([&] { return Count(TTriggerMsg::tmAvail) == 1; }));
  EXPECT_EQ(Notes()[0].wParam, 4);
  // Nobody consumed: no repeat until more bytes arrive.
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(Count(TTriggerMsg::tmAvail), 1u);
  EXPECT_EQ(d_->InputCount(), 4u);

  // A consuming handler advances the ring by the most any handler read.
  d_->AddMethodHandler([this](uint16_t msg, uint16_t w, uint32_t) {
    if (msg != static_cast<uint16_t>(TTriggerMsg::tmAvail)) return;
    std::vector<uint8_t> buf(w);
    d_->ReadBlock(buf.data(), 2);
  });
  d_->AddMethodHandler([this](uint16_t msg, uint16_t w, uint32_t) {
    if (msg != static_cast<uint16_t>(TTriggerMsg::tmAvail)) return;
    std::vector<uint8_t> buf(w);
    d_->ReadBlock(buf.data(), w);
  });
  pty_.Write("e");
  ASSERT_TRUE(WaitFor([&] { return Count(TTriggerMsg::tmAvail) == 2; }));
  ASSERT_TRUE(WaitFor([&] { return d_->InputCount() == 0; }));
  EXPECT_EQ(d_->DropTrigger(TFxPosixDispatcher::kAvailHandle), 0);
  pty_.Write("fghij");
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(Count(TTriggerMsg::tmAvail), 2u);
}

TEST_F(TriggerTest, AvailGoesBeforeDataWhenEnoughBytesPrecedeTheMatch) {
  d_->SetAvailThreshold(3);
  const int ok = d_->AddDataTrigger("OK", false);
  d_->HoldDispatch(true);
  pty_.Write("12345OK");
  ASSERT_TRUE(WaitFor([&] { return d_->InputCount() == 7; }));
  d_->HoldDispatch(false);
  ASSERT_TRUE(WaitFor([&] { return Count(TTriggerMsg::tmData, ok) == 1; }));
  const auto notes = Notes();
  ASSERT_GE(notes.size(), 2u);
  EXPECT_EQ(notes[0].msg, static_cast<uint16_t>(TTriggerMsg::tmAvail));
  EXPECT_EQ(notes[0].wParam, 5);
  EXPECT_EQ(notes[1].msg, static_cast<uint16_t>(TTriggerMsg::tmData));
}

TEST_F(TriggerTest, TimerFiresOnceAndAgainWhenReArmed) {
  const int t = d_->NewTimerTrigger();
  ASSERT_GT(t, 0);
  EXPECT_EQ(t % 8, 0);
  EXPECT_EQ(d_->ArmTimerTrigger(t, 2, true), 0);
  ASSERT_TRUE(WaitFor([&] { return Count(TTriggerMsg::tmTimer, t) == 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  EXPECT_EQ(Count(TTriggerMsg::tmTimer, t), 1u);
  // Zero keeps the previous interval.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(d_->ArmTimerTrigger(t, 0, true), 0);
  ASSERT_TRUE(WaitFor([&] { return Count(TTriggerMsg::tmTimer, t) == 2; }));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  // Armed and then disarmed: silence.
  EXPECT_EQ(d_->ArmTimerTrigger(t, 1, true), 0);
  EXPECT_EQ(d_->ArmTimerTrigger(t, 0, false), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(Count(TTriggerMsg::tmTimer, t), 2u);
  EXPECT_EQ(d_->DropTrigger(t), 0);
  EXPECT_EQ(d_->ArmTimerTrigger(t, 1, true), fxcode::ecBadTriggerHandle);
  EXPECT_EQ(d_->DropTrigger(t), fxcode::ecBadTriggerHandle);
}

TEST_F(TriggerTest, AMillisecondTimerFiresAtItsTimeNotAtTheNextTick) {
  // The pauses before modem commands are this timer: it must not fire early,
  // nor wait for the next tick or dispatch pass.
  const int t = d_->NewTimerTrigger();
  using Clock = std::chrono::steady_clock;
  std::atomic<Clock::rep> fired{0};
  const THandlerId h = d_->AddMethodHandler([&](uint16_t msg, uint16_t w, uint32_t) {
    if (msg == static_cast<uint16_t>(TTriggerMsg::tmTimer) && w == t) fired = Clock::now().time_since_epoch().count();
  });
  for (int ms : {7, 30, 100}) {
    SCOPED_TRACE(ms);
    fired = 0;
    const auto start = Clock::now();
    EXPECT_EQ(d_->ArmTimerTriggerMs(t, std::chrono::milliseconds(ms)), 0);
    ASSERT_TRUE(WaitFor([&] { return fired.load() != 0; }));
    const auto took = Clock::time_point(Clock::duration(fired.load())) - start;
    EXPECT_GE(took, std::chrono::milliseconds(ms));
    EXPECT_LT(took, std::chrono::milliseconds(ms + 20));
  }
  // Disarmed before its time: silence.
  fired = 0;
  EXPECT_EQ(d_->ArmTimerTriggerMs(t, std::chrono::milliseconds(40)), 0);
  EXPECT_EQ(d_->ArmTimerTrigger(t, 0, false), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(fired.load(), 0);
  EXPECT_EQ(d_->ArmTimerTriggerMs(t + 1, std::chrono::milliseconds(1)), fxcode::ecBadTriggerHandle);
  d_->RemoveMethodHandler(h);
}

TEST_F(TriggerTest, OutputStatusTriggersFireOnceWithTheirCounts) {
  // The default output ring holds 4096 bytes.
  const int freeT = d_->NewStatusTrigger(3);
  const int usedT = d_->NewStatusTrigger(4);
  const int sentT = d_->NewStatusTrigger(5);
  EXPECT_EQ(freeT & 7, 3);
  EXPECT_EQ(usedT & 7, 4);
  EXPECT_EQ(sentT & 7, 5);
  EXPECT_EQ(d_->ArmStatusTrigger(freeT, 4096, true), 0);
  ASSERT_TRUE(WaitFor([&] { return Count(TTriggerMsg::tmStatus, freeT) == 1; }));
  for (const auto& n : Notes()) {
    if (n.wParam == freeT) {
      EXPECT_EQ(n.lParam & 0xFFFF, 4096u);
    }
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  EXPECT_EQ(Count(TTriggerMsg::tmStatus, freeT), 1u);
  EXPECT_EQ(d_->ArmStatusTrigger(freeT, 4096, true), 0);
  ASSERT_TRUE(WaitFor([&] { return Count(TTriggerMsg::tmStatus, freeT) == 2; }));

  // Fill the pty until the far end must read, then watch the ring drain.
  const std::string block(4000, 'x');
  size_t queued = 0;
  while (queued < 200000) {
    if (port_.OutputFree() >= block.size()) {
      port_.WriteString(block);
      queued += block.size();
    } else {
      break;
    }
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(d_->ArmStatusTrigger(usedT, 0, true), 0);
  EXPECT_EQ(d_->ArmStatusTrigger(sentT, 0, true), 0);
  EXPECT_EQ(pty_.Read(queued).size(), queued);
  ASSERT_TRUE(WaitFor([&] { return Count(TTriggerMsg::tmStatus, usedT) == 1; }));
  ASSERT_TRUE(WaitFor([&] { return Count(TTriggerMsg::tmStatus, sentT) == 1; }));

  EXPECT_EQ(d_->NewStatusTrigger(6), fxcode::ecBadArgument);
  EXPECT_EQ(d_->NewStatusTrigger(0), fxcode::ecBadArgument);
  EXPECT_EQ(d_->ArmStatusTrigger(freeT + 8, 1, true), fxcode::ecBadTriggerHandle);
}

TEST_F(TriggerTest, ModemStatusIsAbsentOnAPseudoTerminal) {
  EXPECT_FALSE(d_->ModemStatusPresent());
  EXPECT_FALSE(port_.CarrierPresent());
  port_.SetDTR(false);  // not present: no error
  port_.SetRTS(false);
  const int ms = d_->NewStatusTrigger(1);
  EXPECT_EQ(d_->ArmStatusTrigger(ms, 0xF0, true), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  EXPECT_EQ(Count(TTriggerMsg::tmStatus, ms), 0u);
}

TEST_F(TriggerTest, HandleAfterTheFirst4096ReusesTheLowestFreeMultipleOf8) {
  std::vector<int> handles;
  for (int i = 0; i < 4096; ++i) handles.push_back(d_->NewTimerTrigger());
  EXPECT_EQ(handles.front(), 8);
  EXPECT_EQ(handles.back(), 4096 * 8);
  EXPECT_EQ(d_->NewTimerTrigger(), fxcode::ecNoMoreTriggers);
  EXPECT_EQ(d_->DropTrigger(200), 0);
  EXPECT_EQ(d_->DropTrigger(48), 0);
  EXPECT_EQ(d_->NewStatusTrigger(2), 48 | 2);
  EXPECT_EQ(d_->AddDataTrigger("RING", false), 200);
  EXPECT_EQ(d_->NewTimerTrigger(), fxcode::ecNoMoreTriggers);
}

TEST_F(TriggerTest, HandlerRemovedDuringDeliveryDoesNotDisturbTheOthers) {
  const int ok = d_->AddDataTrigger("OK", false);
  std::atomic<int> a{0}, b{0}, c{0};
  std::atomic<THandlerId> idA{0}, idB{0};
  idA = d_->AddMethodHandler([&](uint16_t msg, uint16_t, uint32_t) {
    if (msg != static_cast<uint16_t>(TTriggerMsg::tmData)) return;
    ++a;
    d_->RemoveMethodHandler(idA);  // itself
  });
  idB = d_->AddMethodHandler([&](uint16_t msg, uint16_t, uint32_t) {
    if (msg == static_cast<uint16_t>(TTriggerMsg::tmData)) ++b;
  });
  d_->AddMethodHandler([&](uint16_t msg, uint16_t, uint32_t) {
    if (msg != static_cast<uint16_t>(TTriggerMsg::tmData)) return;
    ++c;
  });
  pty_.Write("OK");
  ASSERT_TRUE(WaitFor([&] { return c == 1; }));
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 1);
  pty_.Write("OK");
  ASSERT_TRUE(WaitFor([&] { return c == 2; }));
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
  EXPECT_EQ(Count(TTriggerMsg::tmData, ok), 2u);

  // A handler that removes a later one: that one misses this notification.
  std::atomic<int> d{0};
  std::atomic<THandlerId> idD{0};
  d_->AddMethodHandler([&](uint16_t msg, uint16_t, uint32_t) {
    if (msg == static_cast<uint16_t>(TTriggerMsg::tmData)) d_->RemoveMethodHandler(idD);
  });
  idD = d_->AddMethodHandler([&](uint16_t, uint16_t, uint32_t) { ++d; });
  pty_.Write("OK");
  ASSERT_TRUE(WaitFor([&] { return c == 3; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(d, 0);
  (void)idB;
}

std::atomic<int> procCalls{0};
std::atomic<uint32_t> procLParam{0};
void CountingProc(uint16_t msg, uint16_t, uint32_t lParam) {
  if (msg == static_cast<uint16_t>(TTriggerMsg::tmTimer)) {
    procLParam = lParam;
    ++procCalls;
  }
}

TEST_F(TriggerTest, ProcedureHandlersFindTheirPortThroughTheRegistry) {
  int session = 42;
  EXPECT_EQ(d_->SetDataPointer(&session, 2), 0);
  EXPECT_EQ(d_->SetDataPointer(&session, 0), fxcode::ecBadArgument);
  EXPECT_EQ(d_->SetDataPointer(&session, 4), fxcode::ecBadArgument);
  d_->AddProcHandler(CountingProc);
  const int t = d_->NewTimerTrigger();
  d_->ArmTimerTrigger(t, 1, true);
  ASSERT_TRUE(WaitFor([&] { return procCalls == 1; }));
  const auto entry = FxPortRegistry::Find(FxPortRegistry::PositionOf(procLParam));
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ(entry->port, &port_);
  void* slot = nullptr;
  EXPECT_EQ(entry->dispatcher->GetDataPointer(slot, 2), 0);
  EXPECT_EQ(slot, &session);
  d_->RemoveProcHandler(CountingProc);
  d_->ArmTimerTrigger(t, 1, true);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(procCalls, 1);
}

TEST_F(TriggerTest, HoldDispatchKeepsTriggersForLater) {
  const int ok = d_->AddDataTrigger("OK", false);
  const int t = d_->NewTimerTrigger();
  EXPECT_FALSE(d_->HoldDispatch(true));
  EXPECT_TRUE(d_->HoldDispatch(true));
  d_->ArmTimerTrigger(t, 1, true);
  pty_.Write("OK");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(Notes().empty());
  EXPECT_TRUE(d_->HoldDispatch(false));
  ASSERT_TRUE(WaitFor([&] { return Count(TTriggerMsg::tmData, ok) == 1 && Count(TTriggerMsg::tmTimer, t) == 1; }));
}

// A partial match must not outlive the input it was made of: bytes purged or
// read past the scan never join bytes that arrive later.
TEST_F(TriggerTest, DataTriggerForgetsPartialMatchesOfDiscardedInput) {
  const int abcd = d_->AddDataTrigger("ABCD", false);
  const int seen = d_->AddDataTrigger("B", false);  // tells when "AB" was scanned
  pty_.Write("AB");
  ASSERT_TRUE(WaitFor([&] { return Count(TTriggerMsg::tmData, seen) == 1; }));
  d_->PurgeInput();
  EXPECT_EQ(d_->InputCount(), 0u);
  pty_.Write("CD");
  ASSERT_TRUE(WaitFor([&] { return d_->InputCount() == 2; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(Count(TTriggerMsg::tmData, abcd), 0u);

  // Read by the program before the triggers saw them: skipped, not scanned.
  d_->PurgeInput();
  pty_.Write("AB");
  ASSERT_TRUE(WaitFor([&] { return Count(TTriggerMsg::tmData, seen) == 2; }));
  d_->HoldDispatch(true);
  pty_.Write("XY");
  ASSERT_TRUE(WaitFor([&] { return d_->InputCount() == 4; }));
  uint8_t buf[4];
  EXPECT_EQ(d_->ReadBlock(buf, sizeof buf), 4u);
  d_->HoldDispatch(false);
  pty_.Write("CD");
  ASSERT_TRUE(WaitFor([&] { return d_->InputCount() == 2; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(Count(TTriggerMsg::tmData, abcd), 0u);

  // Whole text after a purge still fires.
  pty_.Write("ABCD");
  ASSERT_TRUE(WaitFor([&] { return Count(TTriggerMsg::tmData, abcd) == 1; }));
}

}  // namespace
