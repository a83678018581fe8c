// One run at a time: the named mutex, whose owner it takes to be trusted when
// it was there already, the waiting line, and what a run that cannot get the
// lock prints.
#include "unit_prelude.hpp"

#include <deque>

#include "cancellation.hpp"
#include "fake_named_mutex.hpp"
#include "installation_lock.hpp"

namespace brq_install {
namespace {

HANDLE const fake_mutex = reinterpret_cast<HANDLE>(0x3A7E);
PSECURITY_DESCRIPTOR const fake_descriptor = reinterpret_cast<PSECURITY_DESCRIPTOR>(0x5DE5);

// Whether the mutex was there already, and who owns it, as GetSecurityInfo
// tells: no owner at all is what Wine tells.
enum found : int {
  nothing = -2,
  no_owner = -1,
  administrators = WinBuiltinAdministratorsSid,
  system_account = WinLocalSystemSid,
  users = WinBuiltinUsersSid,
  local_service = WinLocalServiceSid,
};

struct lock_system {
  DWORD create_error = 0;          // CreateMutexExW fails with this unless 0
  std::deque<DWORD> wait_results;  // what each WaitForSingleObject answers
  DWORD wait_error = 0;            // the last error after WAIT_FAILED
  std::vector<DWORD> timeouts;
  std::wstring name;
  DWORD access = 0;
  int released = 0, closed = 0;
  found existing = nothing;
  DWORD security_result = 0;  // GetSecurityInfo fails with this unless 0...
  DWORD security_error = 0;   // ...and sets this last error
  BYTE owner[SECURITY_MAX_SID_SIZE] = {};
  int owner_reads = 0, descriptors_given = 0, descriptors_freed = 0;
  size_t cancel_at_wait = 0;  // Ctrl+C during this wait, counted from 1
  test::fake_clock* clock = nullptr;
};
lock_system* sys = nullptr;

HANDLE WINAPI create_mutex(SECURITY_ATTRIBUTES*, const wchar_t* name, DWORD flags, DWORD access) {
  EXPECT_EQ(flags, 0u);  // not owned at creation: ownership comes from the wait
  sys->name = name;
  sys->access = access;
  ::SetLastError(sys->create_error != 0 ? sys->create_error : sys->existing != nothing ? ERROR_ALREADY_EXISTS : 0);
  return sys->create_error != 0 ? nullptr : fake_mutex;
}
DWORD WINAPI get_security_info(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID* owner, PSID*, PACL*,
                               PACL*, PSECURITY_DESCRIPTOR* descriptor) {
  EXPECT_EQ(handle, fake_mutex);
  EXPECT_EQ(type, SE_KERNEL_OBJECT);
  EXPECT_EQ(what, static_cast<SECURITY_INFORMATION>(OWNER_SECURITY_INFORMATION));
  ++sys->owner_reads;
  if (sys->security_result != 0) {
    ::SetLastError(sys->security_error);
    return sys->security_result;
  }
  *owner = sys->existing == no_owner ? nullptr : sys->owner;
  *descriptor = fake_descriptor;
  ++sys->descriptors_given;
  return ERROR_SUCCESS;
}
decltype(win::api.LocalFree) local_free_below = nullptr;  // what frees the system's messages
HLOCAL WINAPI local_free(HLOCAL memory) {
  if (memory != fake_descriptor) return local_free_below(memory);
  ++sys->descriptors_freed;
  return nullptr;
}
DWORD WINAPI wait(HANDLE handle, DWORD timeout) {
  EXPECT_EQ(handle, fake_mutex);
  sys->timeouts.push_back(timeout);
  // Held for good once the script is out.
  DWORD result = sys->wait_results.empty() ? WAIT_TIMEOUT : sys->wait_results.front();
  if (!sys->wait_results.empty()) sys->wait_results.pop_front();
  if (result == WAIT_TIMEOUT) sys->clock->now += timeout;
  if (sys->timeouts.size() == sys->cancel_at_wait) request_cancel();
  ::SetLastError(result == WAIT_FAILED ? sys->wait_error : 0);
  return result;
}
BOOL WINAPI release(HANDLE handle) {
  EXPECT_EQ(handle, fake_mutex);
  ++sys->released;
  return TRUE;
}
BOOL WINAPI close(HANDLE handle) {
  if (handle != fake_mutex) return test::beneath().CloseHandle(handle);
  ++sys->closed;
  return TRUE;
}

const std::string waiting = "Waiting for another installation to finish...\n";

// The wait's timeouts: at once, then `seconds` waits of a second.
std::vector<DWORD> slices(size_t seconds) {
  std::vector<DWORD> timeouts(seconds + 1, 1000);
  timeouts[0] = 0;
  return timeouts;
}

TEST(installation_lock, waits_for_another_run_and_fails_only_when_the_lock_cannot_be_had) {
  struct {
    const char* what;
    DWORD create_error;
    std::deque<DWORD> waits;
    DWORD wait_error;
    std::vector<DWORD> timeouts;
    std::string waiting_line;
    DWORD reported;  // 0: the lock was had
    found existing = nothing;
    DWORD security_result = 0, security_error = 0;
    bool refused = false;  // for its owner, at once
    bool abandoned = false;
    size_t cancel_at_wait = 0;
  } cases[] = {
      {"free", 0, {WAIT_OBJECT_0}, 0, {0}, "", 0},
      {"left by a run that died", 0, {WAIT_ABANDONED}, 0, {0}, "", 0, nothing, 0, 0, false, true},
      {"held, then released", 0, {WAIT_TIMEOUT, WAIT_TIMEOUT, WAIT_OBJECT_0}, 0, slices(2), waiting, 0},
      {"held, then its run died",
       0,
       {WAIT_TIMEOUT, WAIT_ABANDONED},
       0,
       slices(1),
       waiting,
       0,
       nothing,
       0,
       0,
       false,
       true},
      {"held for ten minutes", 0, {}, 0, slices(600), waiting, ERROR_INSTALL_ALREADY_RUNNING},
      {"Ctrl+C while waiting", 0, {}, 0, slices(3), waiting, ERROR_CANCELLED, nothing, 0, 0, false, false, 4},
      {"cannot be created", ERROR_ACCESS_DENIED, {}, 0, {}, "", ERROR_ACCESS_DENIED},
      {"wait fails", 0, {WAIT_FAILED}, ERROR_INVALID_HANDLE, {0}, "", ERROR_INVALID_HANDLE},
      {"wait fails without a code", 0, {WAIT_TIMEOUT, WAIT_FAILED}, 0, slices(1), waiting, ERROR_FUNCTION_FAILED},
      {"there already, Administrators'", 0, {WAIT_OBJECT_0}, 0, {0}, "", 0, administrators},
      {"there already, Administrators', held",
       0,
       {WAIT_TIMEOUT, WAIT_OBJECT_0},
       0,
       slices(1),
       waiting,
       0,
       administrators},
      {"there already, SYSTEM's, held",
       0,
       {WAIT_TIMEOUT, WAIT_ABANDONED},
       0,
       slices(1),
       waiting,
       0,
       system_account,
       0,
       0,
       false,
       true},
      {"there already, Users'", 0, {}, 0, {}, "", ERROR_ACCESS_DENIED, users, 0, 0, true},
      {"there already, LOCAL SERVICE's", 0, {}, 0, {}, "", ERROR_ACCESS_DENIED, local_service, 0, 0, true},
      {"there already, no owner (Wine)", 0, {WAIT_OBJECT_0}, 0, {0}, "", 0, no_owner},
      {"owner cannot be read",
       0,
       {},
       0,
       {},
       "",
       ERROR_ACCESS_DENIED,
       administrators,
       ERROR_ACCESS_DENIED,
       ERROR_GEN_FAILURE},
      {"owner cannot be read, last error 0",
       0,
       {},
       0,
       {},
       "",
       ERROR_NOT_ENOUGH_MEMORY,
       administrators,
       ERROR_NOT_ENOUGH_MEMORY,
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::scoped_platform platform;
    lock_system system{c.create_error, c.waits, c.wait_error};
    system.existing = c.existing;
    system.security_result = c.security_result;
    system.security_error = c.security_error;
    system.cancel_at_wait = c.cancel_at_wait;
    test::fake_clock clock;
    system.clock = &clock;
    console_cancel cancel;
    DWORD size = sizeof system.owner;  // a real SID, made without the table
    if (c.existing >= 0) {
      ASSERT_TRUE(CreateWellKnownSid(static_cast<WELL_KNOWN_SID_TYPE>(c.existing), nullptr, system.owner, &size));
    }
    sys = &system;
    test::console_recorder console;
    win::api.CreateMutexExW = &create_mutex;
    win::api.WaitForSingleObject = &wait;
    win::api.ReleaseMutex = &release;
    win::api.CloseHandle = &close;
    win::api.GetSecurityInfo = &get_security_info;
    local_free_below = test::beneath().LocalFree;
    win::api.LocalFree = &local_free;
    {
      installation_lock lock;
      EXPECT_EQ(lock.acquire(), c.reported == 0);
      EXPECT_EQ(lock.abandoned(), c.abandoned);
    }
    EXPECT_EQ(system.name, L"Global\\Quorvanta.QZV.UA.brq.install");
    if (c.create_error == 0) {
      EXPECT_EQ(system.access, static_cast<DWORD>(SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL));
      EXPECT_EQ(system.owner_reads, c.existing != nothing ? 1 : 0);
    }
    EXPECT_EQ(system.descriptors_freed, system.descriptors_given);
    EXPECT_EQ(system.timeouts, c.timeouts);
    EXPECT_EQ(system.released, c.reported == 0 ? 1 : 0);
    EXPECT_EQ(system.closed, c.create_error == 0 ? 1 : 0);
    std::vector<run> expected;
    if (!c.waiting_line.empty()) expected.push_back({c.waiting_line, plain});
    if (c.reported != 0) {
      std::string headline = c.refused ? "Failed to lock the installation: its mutex belongs to an account that is "
                                         "not an administrator\n"
                                       : "Failed to lock the installation\n";
      expected.push_back({headline + text_of(c.reported) + "\n", color_error});
    }
    EXPECT_EQ(console.runs(), expected);
  }
}

// A run holds the lock in one process while another run, under another
// account, starts in another: the second waits its ten minutes whoever ran
// first; a mutex someone else made and owns is refused at once.
TEST(installation_lock, every_administrator_and_local_system_wait_for_each_other) {
  using mutexes = test::fake_named_mutex;
  const std::string refused =
      "Failed to lock the installation: its mutex belongs to an account that is not an "
      "administrator\n";
  struct {
    const char* what;
    const mutexes::account *first, *second;  // first: none, a user's mutex is there
    std::string headline;
    DWORD reported;
  } cases[] = {
      {"an agent's run, then an administrator's", &mutexes::local_system, &mutexes::elevated_administrator,
       "Failed to lock the installation\n", ERROR_INSTALL_ALREADY_RUNNING},
      {"an administrator's run, then an agent's", &mutexes::elevated_administrator, &mutexes::local_system,
       "Failed to lock the installation\n", ERROR_INSTALL_ALREADY_RUNNING},
      {"under \"Object creator\", then an agent's", &mutexes::object_creator, &mutexes::local_system,
       "Failed to lock the installation\n", ERROR_INSTALL_ALREADY_RUNNING},
      {"under \"Object creator\", then another administrator's", &mutexes::object_creator,
       &mutexes::elevated_administrator, "Failed to lock the installation\n", ERROR_INSTALL_ALREADY_RUNNING},
      {"a user's mutex", nullptr, &mutexes::elevated_administrator, refused, ERROR_ACCESS_DENIED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::fake_clock clock;
    mutexes system;
    system.clock = &clock;
    console_cancel cancel;
    test::console_recorder console;
    if (c.first == nullptr) {
      system.objects[installation_mutex_name] = {L"O:S-1-5-21-7-7-7-1000D:(A;;GA;;;WD)", 1, 7, 1};
    }
    {
      installation_lock first;
      if (c.first != nullptr) system.caller = *c.first;
      ASSERT_TRUE(c.first == nullptr || first.acquire());
      system.caller = *c.second;
      system.process = 2;
      EXPECT_FALSE(installation_lock().acquire());
      system.process = 1;
    }
    std::vector<run> expected{{c.headline + text_of(c.reported) + "\n", color_error}};
    if (c.reported == ERROR_INSTALL_ALREADY_RUNNING) expected.insert(expected.begin(), {waiting, plain});
    EXPECT_EQ(console.runs(), expected);
  }
}

}  // namespace
}  // namespace brq_install
