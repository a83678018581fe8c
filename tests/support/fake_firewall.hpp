#pragma once
// A firewall made of hand-written COM objects, handed to the installer
// through the platform table (CoCreateInstance), with COM entry and BSTRs
// faked alongside. Every firewall call is logged in order, any one of them
// can be made to fail, and the objects count AddRef and Release; the fake
// checks at its end that every reference and every BSTR was given back.
#include <windows.h>
#include <netfw.h>

#include <set>
#include <string>
#include <vector>

#include "platform_override.hpp"

namespace brq_install::test {

class fake_firewall;

// Methods the installer never calls: each answers E_NOTIMPL. A property
// stands for its get_ and put_ methods.
#define BRQ_NOT_CALLED(method, ...) \
  HRESULT STDMETHODCALLTYPE method(__VA_ARGS__) override { return E_NOTIMPL; }
#define BRQ_NOT_CALLED_PROPERTY(name, type) \
  BRQ_NOT_CALLED(get_##name, type*)         \
  BRQ_NOT_CALLED(put_##name, type)

// IUnknown with counted references, and IDispatch, which the installer
// never uses. Objects live in the fake_firewall; a reference count of zero
// does not delete them.
template <typename Interface>
class fake_com_object : public Interface {
 public:
  explicit fake_com_object(fake_firewall& owner) : owner_(owner) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    if (out) *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    ++add_refs;
    return static_cast<ULONG>(++references);
  }
  ULONG STDMETHODCALLTYPE Release() override {
    ++releases;
    return static_cast<ULONG>(--references);
  }
  BRQ_NOT_CALLED(GetTypeInfoCount, UINT*)
  BRQ_NOT_CALLED(GetTypeInfo, UINT, LCID, ITypeInfo**)
  BRQ_NOT_CALLED(GetIDsOfNames, REFIID, LPOLESTR*, UINT, LCID, DISPID*)
  BRQ_NOT_CALLED(Invoke, DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)

  // Gives the caller a reference through an out pointer, as COM does.
  template <typename Out>
  HRESULT hand_out(Out** out) {
    AddRef();
    *out = this;
    return S_OK;
  }

  long references = 0;
  int add_refs = 0;
  int releases = 0;

 protected:
  fake_firewall& owner_;
};

class fake_manager : public fake_com_object<INetFwMgr> {
 public:
  using fake_com_object::fake_com_object;
  HRESULT STDMETHODCALLTYPE get_LocalPolicy(INetFwPolicy** policy) override;
  BRQ_NOT_CALLED(get_CurrentProfileType, NET_FW_PROFILE_TYPE*)
  BRQ_NOT_CALLED(RestoreDefaults)
  BRQ_NOT_CALLED(IsPortAllowed, BSTR, NET_FW_IP_VERSION, LONG, BSTR, NET_FW_IP_PROTOCOL, VARIANT*, VARIANT*)
  BRQ_NOT_CALLED(IsIcmpTypeAllowed, NET_FW_IP_VERSION, BSTR, BYTE, VARIANT*, VARIANT*)
};

class fake_policy : public fake_com_object<INetFwPolicy> {
 public:
  using fake_com_object::fake_com_object;
  HRESULT STDMETHODCALLTYPE get_CurrentProfile(INetFwProfile** profile) override;
  BRQ_NOT_CALLED(GetProfileByType, NET_FW_PROFILE_TYPE, INetFwProfile**)
};

class fake_profile : public fake_com_object<INetFwProfile> {
 public:
  using fake_com_object::fake_com_object;
  HRESULT STDMETHODCALLTYPE get_AuthorizedApplications(INetFwAuthorizedApplications** apps) override;
  BRQ_NOT_CALLED(get_Type, NET_FW_PROFILE_TYPE*)
  BRQ_NOT_CALLED_PROPERTY(FirewallEnabled, VARIANT_BOOL)
  BRQ_NOT_CALLED_PROPERTY(ExceptionsNotAllowed, VARIANT_BOOL)
  BRQ_NOT_CALLED_PROPERTY(NotificationsDisabled, VARIANT_BOOL)
  BRQ_NOT_CALLED_PROPERTY(UnicastResponsesToMulticastBroadcastDisabled, VARIANT_BOOL)
  BRQ_NOT_CALLED(get_RemoteAdminSettings, INetFwRemoteAdminSettings**)
  BRQ_NOT_CALLED(get_IcmpSettings, INetFwIcmpSettings**)
  BRQ_NOT_CALLED(get_GloballyOpenPorts, INetFwOpenPorts**)
  BRQ_NOT_CALLED(get_Services, INetFwServices**)
};

class fake_application : public fake_com_object<INetFwAuthorizedApplication> {
 public:
  using fake_com_object::fake_com_object;
  HRESULT STDMETHODCALLTYPE put_Name(BSTR name) override;
  HRESULT STDMETHODCALLTYPE put_ProcessImageFileName(BSTR path) override;
  HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* enabled) override;
  HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL enabled) override;
  BRQ_NOT_CALLED(get_Name, BSTR*)
  BRQ_NOT_CALLED(get_ProcessImageFileName, BSTR*)
  BRQ_NOT_CALLED_PROPERTY(IpVersion, NET_FW_IP_VERSION)
  BRQ_NOT_CALLED_PROPERTY(Scope, NET_FW_SCOPE)
  BRQ_NOT_CALLED_PROPERTY(RemoteAddresses, BSTR)

  // What was set on the object.
  std::wstring path, name;
  VARIANT_BOOL enabled = VARIANT_FALSE;
};

class fake_applications : public fake_com_object<INetFwAuthorizedApplications> {
 public:
  using fake_com_object::fake_com_object;
  HRESULT STDMETHODCALLTYPE Item(BSTR path, INetFwAuthorizedApplication** app) override;
  HRESULT STDMETHODCALLTYPE Add(INetFwAuthorizedApplication* app) override;
  BRQ_NOT_CALLED(get_Count, LONG*)
  HRESULT STDMETHODCALLTYPE Remove(BSTR path) override;
  BRQ_NOT_CALLED(get__NewEnum, IUnknown**)
};
#undef BRQ_NOT_CALLED_PROPERTY
#undef BRQ_NOT_CALLED

// An entry as Add received it.
struct added_application {
  std::wstring path, name;
  VARIANT_BOOL enabled;
  bool operator==(const added_application&) const = default;
};

class fake_firewall {
 public:
  enum class entry { absent, enabled, disabled };

  // Replaces CoInitializeEx, CoUninitialize, CoCreateInstance,
  // SysAllocString and SysFreeString until the end of the scope.
  fake_firewall();
  ~fake_firewall();  // also checks that everything was given back
  fake_firewall(const fake_firewall&) = delete;
  fake_firewall& operator=(const fake_firewall&) = delete;

  // Set-up.
  // What a lookup by any path finds; Add makes it enabled, Remove absent.
  entry existing = entry::absent;
  VARIANT_BOOL enabled_value = VARIANT_TRUE;  // get_Enabled of an enabled entry
  HRESULT co_initialize_result = S_OK;
  int fail_call = 0;  // the 1st, 2nd, ... logged firewall call fails; 0: none
  HRESULT fail_result = E_ACCESSDENIED;
  int fail_allocation = 0;  // the 1st, 2nd, ... SysAllocString fails; 0: none

  // What happened.
  std::vector<std::string> calls;  // firewall calls in order, with their arguments
  std::vector<added_application> added;
  int co_initialize_calls = 0;
  DWORD co_initialize_flags = 0;
  int co_uninitialize_calls = 0;
  int allocations = 0;  // BSTRs handed out
  int frees = 0;        // BSTRs freed

  fake_manager manager{*this};
  fake_policy policy{*this};
  fake_profile profile{*this};
  fake_applications applications{*this};
  fake_application existing_entry{*this};  // what Item finds
  fake_application new_entry{*this};       // what CoCreateInstance creates

  // Logs a call and gives its result: fail_result for the call chosen by
  // fail_call, S_OK for the others.
  HRESULT call(std::string description);

  // Checks that `text` is a BSTR that is allocated and not yet freed, and
  // returns it as a wide string.
  std::wstring live_text(BSTR text);

  // Whether every object has as many Release calls as AddRef calls.
  bool references_balanced() const;

  static fake_firewall* current;
  std::set<BSTR> live_bstrs;
  int allocation_calls = 0;

 private:
  scoped_platform saved_;
};

}  // namespace brq_install::test
