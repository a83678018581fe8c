#include "win/named_mutex.hpp"

namespace brq_install::win {

DWORD open_named_mutex(const wchar_t* name, unique_handle& mutex) {
  mutex.reset(api.CreateMutexExW(nullptr, name, 0, SYNCHRONIZE | MUTEX_MODIFY_STATE));
  return mutex ? ERROR_SUCCESS : last_error();
}

DWORD own_mutex(HANDLE mutex, DWORD timeout_ms) {
  switch (api.WaitForSingleObject(mutex, timeout_ms)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:  // a run that died: its work is to be redone, by us
      return ERROR_SUCCESS;
    case WAIT_TIMEOUT:
      return WAIT_TIMEOUT;
    default:
      return last_error();
  }
}

}  // namespace brq_install::win
