// The named-mutex seam's contract: one holder at a time per name. Where the backends differ:
// - a Windows mutex belongs to a thread (its owner may wait again and succeed), a Linux lock to
//   a handle: every holder here is a thread of its own with a handle of its own;
// - the dying holder is a forked child that exits holding the lock on Linux. The Windows program
//   cannot fork (a second process under Wine costs a whole start-up), and Windows abandons a
//   mutex whose owner thread ends unreleased as it does for a dying process: there it is a thread.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "contract/backends.h"

namespace {

using platform::kNoMutex, platform::MutexWait;
using namespace std::chrono_literals;

class NamedMutexContract : public ::testing::Test {
 protected:
  std::unique_ptr<contract::MutexBackend> b_ = contract::MakeMutexBackend();
  platform::NamedMutexes& m_ = *b_->mutexes;
  const std::string name_ = b_->UniqueName();
  uint32_t error_ = 0;
};

TEST_F(NamedMutexContract, OneHolderAtATimeAcrossHandles) {
  platform::MutexHandle created = kNoMutex;
  for (const std::string& name : {name_, name_ + "_none"}) {  // before any, and beside one
    EXPECT_EQ(m_.Open(name, &error_), kNoMutex) << name;
    EXPECT_EQ(error_, win::kErrorFileNotFound) << name;
    if (created == kNoMutex) created = m_.Create(name_, &error_);
  }
  ASSERT_NE(created, kNoMutex) << error_;
  const platform::MutexHandle opened = m_.Open(name_, &error_);
  ASSERT_NE(opened, kNoMutex) << error_;
  ASSERT_EQ(m_.Wait(opened, 0ms, &error_), MutexWait::kAcquired) << error_;
  std::thread([&] {  // another thread with another handle
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(m_.Wait(created, 300ms, &error_), MutexWait::kTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 250ms) << "gave up before the timeout";
  }).join();
  m_.Release(opened);
  std::thread([&] { EXPECT_EQ(m_.Wait(created, 0ms, &error_), MutexWait::kAcquired); m_.Release(created); }).join();
  for (const platform::MutexHandle handle : {opened, created}) m_.Close(handle);
}

TEST_F(NamedMutexContract, AHolderThatDiesLeavesItFree) {
  const platform::MutexHandle mine = m_.Create(name_, &error_);
  ASSERT_NE(mine, kNoMutex) << error_;
  b_->DieHolding(name_);
  EXPECT_EQ(m_.Wait(mine, 10s, &error_), MutexWait::kAcquired) << error_;
  m_.Close(mine);
}

}  // namespace
