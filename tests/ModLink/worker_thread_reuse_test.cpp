// A connection opened again runs its worker on the thread the last one parked on, unless
// that worker's priority was changed: the thread may keep it, so the next worker gets a
// new one.
#include <gtest/gtest.h>

#include <mutex>

#include "ClientTestSupport.h"
#include "platform/ThreadPriority.h"

namespace {

using namespace serialtest;

TEST(WorkerThreadReuse, ReopeningWakesTheParkedThreadUnlessItsPriorityChanged) {
  for (const TThreadPriority Priority : {tpNormal, tpLowest}) {
    TClientRig Rig;
    Rig.Connection.SetReceiveTimeout(50);  // nobody answers
    std::mutex Lock;
    TNativeThreadId Sender = 0;  // the system's id: a library's thread id may be reused
    Rig.Connection.OnBeforeFrameSendAsync = [&](TModbusConnection&) {
      std::lock_guard Guard(Lock);
      Sender = CurrentNativeThreadId();
    };
    const auto WorkerOfOneOpening = [&] {
      {
        std::lock_guard Guard(Lock);
        Sender = 0;
      }
      Rig.Connection.Open();
      Rig.Client.ReadHoldingRegisters(0, 1);
      EXPECT_TRUE(TClientRig::RunUntil([&] {
        std::lock_guard Guard(Lock);
        return Sender != 0;
      }));
      Rig.Connection.Close();
      TClientRig::Main().ProcessMessages();
      std::lock_guard Guard(Lock);
      return Sender;
    };
    Rig.Connection.SetThreadPriority(Priority);
    const TNativeThreadId First = WorkerOfOneOpening();
    Rig.Connection.SetThreadPriority(tpNormal);
    const TNativeThreadId Second = WorkerOfOneOpening();
    EXPECT_EQ(First == Second, Priority == tpNormal) << "priority " << int(Priority);
  }
}

}  // namespace
