// The named-mutex seam's contract: one exclusion per name across handles, threads and processes.
//
// Where the backends differ, and why the contract is written around it:
// - Windows mutexes belong to a thread (a second wait by the owning thread succeeds again),
//   Linux locks to a handle (a second handle blocks even in the owning thread). Every holder
//   here is a thread of its own with a handle of its own, which both answer alike.
// - The holder's death: on Linux a forked child killed with SIGKILL while holding the lock. The
//   Windows test program cannot fork, and a second copy of it started under Wine would pay the
//   start-up of a whole process; Windows abandons a mutex whose owning thread ends without
//   releasing it exactly as it does for a dying process (every thread of it ends), so there the
//   holder is a thread that takes the mutex and exits.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "contract/backends.h"

namespace {

using platform::MutexWait;
using namespace std::chrono_literals;

class NamedMutexContract : public ::testing::Test {
 protected:
  std::unique_ptr<contract::MutexBackend> b_ = contract::MakeMutexBackend();
  platform::NamedMutexes& m_ = *b_->mutexes;
  const std::string name_ = b_->UniqueName();
};

TEST_F(NamedMutexContract, OneHolderAtATimeAcrossHandles) {
  uint32_t error = 0;
  platform::MutexHandle created = platform::kNoMutex;
  for (const std::string& name : {name_, name_ + "_none"}) {  // before any and beside another
    EXPECT_EQ(m_.Open(name, &error), platform::kNoMutex) << name;
    EXPECT_EQ(error, win::kErrorFileNotFound) << "nobody created " << name;
    if (created == platform::kNoMutex) created = m_.Create(name_, &error);
    ASSERT_NE(created, platform::kNoMutex) << error;
  }
  const platform::MutexHandle opened = m_.Open(name_, &error);
  ASSERT_NE(opened, platform::kNoMutex) << error;

  std::promise<MutexWait> taken;
  std::promise<void> release;
  std::thread holder([&] {  // created again by name: the same mutex
    uint32_t code = 0;
    const platform::MutexHandle own = m_.Create(name_, &code);
    taken.set_value(m_.Wait(own, 0ms, &code));
    release.get_future().wait();
    m_.Release(own);
    m_.Close(own);
  });
  ASSERT_EQ(taken.get_future().get(), MutexWait::kAcquired);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(m_.Wait(opened, 300ms, &error), MutexWait::kTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 250ms) << "gave up before the timeout";
  release.set_value();
  EXPECT_EQ(m_.Wait(opened, 10s, &error), MutexWait::kAcquired) << error;
  holder.join();

  // Held by this thread, the mutex is refused to another; released, it is taken at once.
  std::thread([&] { EXPECT_EQ(m_.Wait(created, 0ms, &error), MutexWait::kTimeout); }).join();
  m_.Release(opened);
  std::thread([&] {
    EXPECT_EQ(m_.Wait(created, 0ms, &error), MutexWait::kAcquired);
    m_.Release(created);
  }).join();
  m_.Close(opened);
  m_.Close(created);
}

TEST_F(NamedMutexContract, AHolderThatDiesLeavesItFree) {
  uint32_t error = 0;
  const platform::MutexHandle mine = m_.Create(name_, &error);
  ASSERT_NE(mine, platform::kNoMutex) << error;
  b_->DieHolding(name_);
  EXPECT_EQ(m_.Wait(mine, 10s, &error), MutexWait::kAcquired) << error;
  m_.Release(mine);
  m_.Close(mine);
}

}  // namespace
