#include "win/firewall.hpp"

#include "win/last_error.hpp"

namespace brq_install::win {

namespace {

// What a lookup by image path returns when the list has no such entry:
// ERROR_FILE_NOT_FOUND as an HRESULT.
constexpr HRESULT entry_not_found = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

// Runs `call` with `text` as a BSTR that lives for that call only.
// E_OUTOFMEMORY, without the call, when the BSTR cannot be allocated.
template <typename Call>
HRESULT with_bstr(const std::wstring& text, Call call) {
  unique_bstr bstr(api.SysAllocString(text.c_str()));
  if (!bstr) return E_OUTOFMEMORY;
  return call(bstr.get());
}

HRESULT open_profile(com_ptr<INetFwProfile>& profile) {
  com_ptr<INetFwMgr> manager;
  HRESULT hr = api.CoCreateInstance(CLSID_NetFwMgr, nullptr, CLSCTX_ALL, IID_INetFwMgr, manager.put_void());
  if (FAILED(hr)) return hr;

  com_ptr<INetFwPolicy> policy;
  hr = manager->get_LocalPolicy(policy.put());
  if (FAILED(hr)) return hr;

  return policy->get_CurrentProfile(profile.put());
}

// The list's entry for `image_path` in `entry`, left empty when there is
// none.
HRESULT find_entry(INetFwProfile* profile, const std::wstring& image_path,
                   com_ptr<INetFwAuthorizedApplications>& applications, com_ptr<INetFwAuthorizedApplication>& entry) {
  HRESULT hr = profile->get_AuthorizedApplications(applications.put());
  if (FAILED(hr)) return hr;
  hr = with_bstr(image_path, [&](BSTR path) { return applications->Item(path, entry.put()); });
  if (hr == entry_not_found) entry.reset();
  return hr == entry_not_found ? S_OK : hr;
}

HRESULT entry_enabled(INetFwProfile* profile, const std::wstring& image_path, bool& enabled) {
  enabled = false;
  com_ptr<INetFwAuthorizedApplications> applications;
  com_ptr<INetFwAuthorizedApplication> entry;
  HRESULT hr = find_entry(profile, image_path, applications, entry);
  if (FAILED(hr) || !entry) return hr;

  VARIANT_BOOL value = VARIANT_FALSE;
  hr = entry->get_Enabled(&value);
  if (FAILED(hr)) return hr;
  enabled = value != VARIANT_FALSE;
  return S_OK;
}

HRESULT ensure_entry(INetFwProfile* profile, const std::wstring& image_path, const std::wstring& name) {
  bool enabled = false;
  HRESULT hr = entry_enabled(profile, image_path, enabled);
  if (FAILED(hr)) return hr;
  if (enabled) return S_OK;

  com_ptr<INetFwAuthorizedApplications> applications;
  hr = profile->get_AuthorizedApplications(applications.put());
  if (FAILED(hr)) return hr;

  com_ptr<INetFwAuthorizedApplication> entry;
  hr = api.CoCreateInstance(CLSID_NetFwAuthorizedApplication, nullptr, CLSCTX_INPROC_SERVER,
                            IID_INetFwAuthorizedApplication, entry.put_void());
  if (FAILED(hr)) return hr;

  hr = with_bstr(image_path, [&](BSTR path) { return entry->put_ProcessImageFileName(path); });
  if (FAILED(hr)) return hr;
  hr = with_bstr(name, [&](BSTR text) { return entry->put_Name(text); });
  if (FAILED(hr)) return hr;
  hr = entry->put_Enabled(VARIANT_TRUE);
  if (FAILED(hr)) return hr;

  return applications->Add(entry.get());
}

HRESULT remove_entry(INetFwProfile* profile, const std::wstring& image_path, bool& removed) {
  removed = false;
  com_ptr<INetFwAuthorizedApplications> applications;
  com_ptr<INetFwAuthorizedApplication> entry;
  HRESULT hr = find_entry(profile, image_path, applications, entry);
  if (FAILED(hr) || !entry) return hr;
  hr = with_bstr(image_path, [&](BSTR path) { return applications->Remove(path); });
  removed = SUCCEEDED(hr);
  return hr;
}

}  // namespace

DWORD open_current_firewall_profile(com_ptr<INetFwProfile>& profile) {
  return error_from_hresult(open_profile(profile));
}

DWORD firewall_exception_enabled(INetFwProfile* profile, const std::wstring& image_path, bool& enabled) {
  return error_from_hresult(entry_enabled(profile, image_path, enabled));
}

DWORD ensure_firewall_exception(INetFwProfile* profile, const std::wstring& image_path, const std::wstring& name) {
  return error_from_hresult(ensure_entry(profile, image_path, name));
}

DWORD remove_firewall_exception(INetFwProfile* profile, const std::wstring& image_path, bool& removed) {
  return error_from_hresult(remove_entry(profile, image_path, removed));
}

}  // namespace brq_install::win
