#include "fake_firewall.hpp"

#include <gtest/gtest.h>

#include "console/console.hpp"

namespace brq_install::test {

fake_firewall* fake_firewall::current = nullptr;

namespace {

// The firewall's published identifiers, written out here apart from the
// product's own definitions so that a wrong digit there is caught.
const GUID manager_class = {0x304CE942, 0x6E39, 0x40D8, {0x94, 0x3A, 0xB9, 0x13, 0xC4, 0x0C, 0x9C, 0xD4}};
const GUID manager_interface = {0xF7898AF5, 0xCAC4, 0x4632, {0xA2, 0xEC, 0xDA, 0x06, 0xE5, 0x11, 0x1A, 0xF2}};
const GUID application_class = {0xEC9846B3, 0x2762, 0x4A6B, {0xA2, 0x14, 0x6A, 0xCB, 0x60, 0x34, 0x62, 0xD2}};
const GUID application_interface = {0xB5E64FFA, 0xC2C5, 0x444E, {0xA3, 0x01, 0xFB, 0x5E, 0x00, 0x01, 0x80, 0x50}};

HRESULT WINAPI fake_co_initialize_ex(LPVOID reserved, DWORD flags) {
  fake_firewall& fw = *fake_firewall::current;
  EXPECT_EQ(reserved, nullptr);
  ++fw.co_initialize_calls;
  fw.co_initialize_flags = flags;
  return fw.co_initialize_result;
}

void WINAPI fake_co_uninitialize() {
  fake_firewall& fw = *fake_firewall::current;
  ++fw.co_uninitialize_calls;
  // Every firewall object must be released while COM is still entered.
  EXPECT_TRUE(fw.references_balanced()) << "COM left while a firewall object was held";
}

HRESULT WINAPI fake_co_create_instance(REFCLSID class_id, LPUNKNOWN outer, DWORD context, REFIID interface_id,
                                       LPVOID* out) {
  fake_firewall& fw = *fake_firewall::current;
  *out = nullptr;
  std::string what = "CoCreateInstance ";
  if (IsEqualGUID(class_id, manager_class) && IsEqualGUID(interface_id, manager_interface)) {
    what += "NetFwMgr";
  } else if (IsEqualGUID(class_id, application_class) && IsEqualGUID(interface_id, application_interface)) {
    what += "NetFwAuthorizedApplication";
  } else {
    what += "of an unknown class or interface";
  }
  what += ' ';
  what += std::to_string(context);
  if (outer) what += " with an outer object";
  if (HRESULT hr = fw.call(what); FAILED(hr)) return hr;

  if (IsEqualGUID(class_id, manager_class)) {
    return fw.manager.hand_out(reinterpret_cast<INetFwMgr**>(out));
  }
  if (IsEqualGUID(class_id, application_class)) {
    return fw.new_entry.hand_out(reinterpret_cast<INetFwAuthorizedApplication**>(out));
  }
  return REGDB_E_CLASSNOTREG;
}

BSTR WINAPI fake_sys_alloc_string(const OLECHAR* text) {
  fake_firewall& fw = *fake_firewall::current;
  if (++fw.allocation_calls == fw.fail_allocation) return nullptr;
  BSTR result = win::real_api.SysAllocString(text);
  if (result == nullptr) return nullptr;  // oleaut32 could not be loaded
  fw.live_bstrs.insert(result);
  ++fw.allocations;
  return result;
}

void WINAPI fake_sys_free_string(BSTR text) {
  fake_firewall& fw = *fake_firewall::current;
  if (fw.live_bstrs.erase(text) == 0) {
    ADD_FAILURE() << "SysFreeString of a BSTR that is not allocated";
    return;
  }
  ++fw.frees;
  win::real_api.SysFreeString(text);
}

}  // namespace

fake_firewall::fake_firewall() {
  current = this;
  win::api.CoInitializeEx = &fake_co_initialize_ex;
  win::api.CoUninitialize = &fake_co_uninitialize;
  win::api.CoCreateInstance = &fake_co_create_instance;
  win::api.SysAllocString = &fake_sys_alloc_string;
  win::api.SysFreeString = &fake_sys_free_string;
}

fake_firewall::~fake_firewall() {
  EXPECT_TRUE(references_balanced());
  EXPECT_EQ(manager.references, 0);
  EXPECT_EQ(policy.references, 0);
  EXPECT_EQ(profile.references, 0);
  EXPECT_EQ(applications.references, 0);
  EXPECT_EQ(existing_entry.references, 0);
  EXPECT_EQ(new_entry.references, 0);
  EXPECT_TRUE(live_bstrs.empty()) << live_bstrs.size() << " BSTR(s) not freed";
  EXPECT_EQ(allocations, frees);
  for (BSTR text : live_bstrs) win::real_api.SysFreeString(text);
  current = nullptr;
}

HRESULT fake_firewall::call(std::string description) {
  calls.push_back(std::move(description));
  return static_cast<int>(calls.size()) == fail_call ? fail_result : S_OK;
}

std::wstring fake_firewall::live_text(BSTR text) {
  if (live_bstrs.count(text) == 0) {
    ADD_FAILURE() << "a firewall call got a string that is not a live BSTR";
    return L"<not a BSTR>";
  }
  return text;
}

bool fake_firewall::references_balanced() const {
  auto balanced = [](const auto& object) { return object.references == 0 && object.add_refs == object.releases; };
  return balanced(manager) && balanced(policy) && balanced(profile) && balanced(applications) &&
         balanced(existing_entry) && balanced(new_entry);
}

HRESULT fake_manager::get_LocalPolicy(INetFwPolicy** policy) {
  *policy = nullptr;
  if (HRESULT hr = owner_.call("get_LocalPolicy"); FAILED(hr)) return hr;
  return owner_.policy.hand_out(policy);
}

HRESULT fake_policy::get_CurrentProfile(INetFwProfile** profile) {
  *profile = nullptr;
  if (HRESULT hr = owner_.call("get_CurrentProfile"); FAILED(hr)) return hr;
  return owner_.profile.hand_out(profile);
}

HRESULT fake_profile::get_AuthorizedApplications(INetFwAuthorizedApplications** apps) {
  *apps = nullptr;
  if (HRESULT hr = owner_.call("get_AuthorizedApplications"); FAILED(hr)) return hr;
  return owner_.applications.hand_out(apps);
}

HRESULT fake_applications::Item(BSTR path, INetFwAuthorizedApplication** app) {
  *app = nullptr;
  std::wstring text = owner_.live_text(path);
  if (HRESULT hr = owner_.call("Item " + wide_to_utf8(text)); FAILED(hr)) return hr;
  if (owner_.existing == fake_firewall::entry::absent) return static_cast<HRESULT>(0x80070002);
  return owner_.existing_entry.hand_out(app);
}

HRESULT fake_applications::Remove(BSTR path) {
  std::wstring text = owner_.live_text(path);
  if (HRESULT hr = owner_.call("Remove " + wide_to_utf8(text)); FAILED(hr)) return hr;
  if (owner_.existing == fake_firewall::entry::absent) return static_cast<HRESULT>(0x80070002);
  owner_.existing = fake_firewall::entry::absent;
  return S_OK;
}

HRESULT fake_applications::Add(INetFwAuthorizedApplication* app) {
  // Every string of the earlier calls must have been freed right after them.
  EXPECT_TRUE(owner_.live_bstrs.empty()) << "a BSTR was still allocated at Add";
  if (app != &owner_.new_entry) {
    owner_.call("Add of an unknown object");
    return E_INVALIDARG;
  }
  if (HRESULT hr = owner_.call("Add"); FAILED(hr)) return hr;
  owner_.added.push_back({owner_.new_entry.path, owner_.new_entry.name, owner_.new_entry.enabled});
  owner_.existing = fake_firewall::entry::enabled;
  return S_OK;
}

HRESULT fake_application::put_ProcessImageFileName(BSTR text) {
  std::wstring value = owner_.live_text(text);
  if (HRESULT hr = owner_.call("put_ProcessImageFileName " + wide_to_utf8(value)); FAILED(hr)) {
    return hr;
  }
  path = value;
  return S_OK;
}

HRESULT fake_application::put_Name(BSTR text) {
  std::wstring value = owner_.live_text(text);
  if (HRESULT hr = owner_.call("put_Name " + wide_to_utf8(value)); FAILED(hr)) return hr;
  name = value;
  return S_OK;
}

HRESULT fake_application::get_Enabled(VARIANT_BOOL* value) {
  *value = VARIANT_FALSE;
  if (HRESULT hr = owner_.call("get_Enabled"); FAILED(hr)) return hr;
  *value = owner_.existing == fake_firewall::entry::enabled ? owner_.enabled_value : VARIANT_FALSE;
  return S_OK;
}

HRESULT fake_application::put_Enabled(VARIANT_BOOL value) {
  if (HRESULT hr = owner_.call("put_Enabled " + std::to_string(value)); FAILED(hr)) return hr;
  enabled = value;
  return S_OK;
}

}  // namespace brq_install::test
