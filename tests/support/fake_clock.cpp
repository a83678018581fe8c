#include "fake_clock.hpp"

#include <numeric>

namespace brq_install::test {

namespace {
fake_clock* active = nullptr;
DWORD WINAPI fake_tick_count() { return active->now; }
void WINAPI fake_sleep(DWORD milliseconds) {
  active->now += milliseconds;
  active->sleeps.push_back(milliseconds);
  if (active->on_sleep) active->on_sleep();
}
}  // namespace

fake_clock::fake_clock(DWORD start)
    : now(start), tick_(win::api.GetTickCount, &fake_tick_count), sleep_(win::api.Sleep, &fake_sleep) {
  active = this;
}

fake_clock::~fake_clock() { active = nullptr; }

DWORD fake_clock::slept() const { return std::accumulate(sleeps.begin(), sleeps.end(), DWORD{0}); }

}  // namespace brq_install::test
