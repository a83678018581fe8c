// One run at a time: the named mutex, the waiting line, and what a run that
// cannot get the lock prints.
#include <gtest/gtest.h>

#include <deque>

#include "console/console.hpp"
#include "console_recorder.hpp"
#include "installation_lock.hpp"

namespace brq_install {
namespace {

using testing::text_of;
using run = testing::console_recorder::run;
constexpr WORD plain = testing::console_recorder::plain;

HANDLE const fake_mutex = reinterpret_cast<HANDLE>(0x3A7E);

struct lock_system {
  DWORD create_error = 0;          // CreateMutexExW fails with this unless 0
  std::deque<DWORD> wait_results;  // what each WaitForSingleObject answers
  DWORD wait_error = 0;            // the last error after WAIT_FAILED
  std::vector<DWORD> timeouts;
  std::wstring name;
  DWORD access = 0;
  int released = 0, closed = 0;
};
lock_system* sys = nullptr;

HANDLE WINAPI create_mutex(SECURITY_ATTRIBUTES* security, const wchar_t* name, DWORD flags, DWORD access) {
  EXPECT_EQ(security, nullptr);
  EXPECT_EQ(flags, 0u);  // not owned at creation: ownership comes from the wait
  sys->name = name;
  sys->access = access;
  ::SetLastError(sys->create_error);
  return sys->create_error != 0 ? nullptr : fake_mutex;
}
DWORD WINAPI wait(HANDLE handle, DWORD timeout) {
  EXPECT_EQ(handle, fake_mutex);
  sys->timeouts.push_back(timeout);
  DWORD result = sys->wait_results.front();
  sys->wait_results.pop_front();
  ::SetLastError(result == WAIT_FAILED ? sys->wait_error : 0);
  return result;
}
BOOL WINAPI release(HANDLE handle) {
  EXPECT_EQ(handle, fake_mutex);
  ++sys->released;
  return TRUE;
}
BOOL WINAPI close(HANDLE handle) {
  if (handle != fake_mutex) return win::real_api.CloseHandle(handle);
  ++sys->closed;
  return TRUE;
}

const std::string waiting = "Waiting for another installation to finish...\n";

TEST(installation_lock, waits_for_another_run_and_fails_only_when_the_lock_cannot_be_had) {
  struct {
    const char* what;
    DWORD create_error;
    std::deque<DWORD> waits;
    DWORD wait_error;
    std::vector<DWORD> timeouts;
    std::string waiting_line;
    DWORD reported;  // 0: the lock was had
  } cases[] = {
      {"free", 0, {WAIT_OBJECT_0}, 0, {0}, "", 0},
      {"left by a run that died", 0, {WAIT_ABANDONED}, 0, {0}, "", 0},
      {"held, then released", 0, {WAIT_TIMEOUT, WAIT_OBJECT_0}, 0, {0, 600000}, waiting, 0},
      {"held, then its run died", 0, {WAIT_TIMEOUT, WAIT_ABANDONED}, 0, {0, 600000}, waiting, 0},
      {"held for ten minutes", 0, {WAIT_TIMEOUT, WAIT_TIMEOUT}, 0, {0, 600000}, waiting,
       ERROR_INSTALL_ALREADY_RUNNING},
      {"cannot be created", ERROR_ACCESS_DENIED, {}, 0, {}, "", ERROR_ACCESS_DENIED},
      {"wait fails", 0, {WAIT_FAILED}, ERROR_INVALID_HANDLE, {0}, "", ERROR_INVALID_HANDLE},
      {"wait fails without a code", 0, {WAIT_TIMEOUT, WAIT_FAILED}, 0, {0, 600000}, waiting,
       ERROR_FUNCTION_FAILED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    lock_system system{c.create_error, c.waits, c.wait_error};
    sys = &system;
    testing::console_recorder console;
    win::api.CreateMutexExW = &create_mutex;
    win::api.WaitForSingleObject = &wait;
    win::api.ReleaseMutex = &release;
    win::api.CloseHandle = &close;
    {
      installation_lock lock;
      EXPECT_EQ(lock.acquire(), c.reported == 0);
    }
    EXPECT_EQ(system.name, L"Global\\Quorvanta.QZV.UA.brq.install");
    if (c.create_error == 0) {
      EXPECT_EQ(system.access, static_cast<DWORD>(SYNCHRONIZE | MUTEX_MODIFY_STATE));
    }
    EXPECT_EQ(system.timeouts, c.timeouts);
    EXPECT_EQ(system.released, c.reported == 0 ? 1 : 0);
    EXPECT_EQ(system.closed, c.create_error == 0 ? 1 : 0);
    std::vector<run> expected;
    if (!c.waiting_line.empty()) expected.push_back({c.waiting_line, plain});
    if (c.reported != 0) {
      expected.push_back({"Failed to lock the installation\n" + text_of(c.reported) + "\n", color_error});
    }
    EXPECT_EQ(console.runs(), expected);
  }
}

}  // namespace
}  // namespace brq_install
