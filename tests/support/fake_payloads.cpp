#include "fake_payloads.hpp"

#include <zlib.h>

namespace brq_install::test {

namespace {

fake_payloads* active = nullptr;
HMODULE const fake_module = reinterpret_cast<HMODULE>(0x400000);

// A found resource is the address of its stream in the map.
std::vector<uint8_t>* stream_of(HRSRC found) { return reinterpret_cast<std::vector<uint8_t>*>(found); }

HMODULE WINAPI get_module(const wchar_t* name) {
  return name == nullptr ? fake_module : win::real_api.GetModuleHandleW(name);
}

HRSRC WINAPI find(HMODULE module, const wchar_t* name, const wchar_t* type) {
  auto it = active->streams.find(static_cast<uint16_t>(reinterpret_cast<uintptr_t>(name)));
  if (module != fake_module || !IS_INTRESOURCE(name) || type != MAKEINTRESOURCEW(1001) || it == active->streams.end()) {
    ::SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HRSRC>(&it->second);
}

HGLOBAL WINAPI load(HMODULE, HRSRC found) { return reinterpret_cast<HGLOBAL>(found); }

void* WINAPI lock(HGLOBAL loaded) { return stream_of(reinterpret_cast<HRSRC>(loaded))->data(); }

DWORD WINAPI size_of(HMODULE, HRSRC found) { return static_cast<DWORD>(stream_of(found)->size()); }

}  // namespace

std::vector<uint8_t> zlib_stream(const std::string& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::vector<uint8_t> stream(size);
  compress2(stream.data(), &size, reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()), 9);
  stream.resize(size);
  return stream;
}

fake_payloads::fake_payloads() {
  active = this;
  win::api.GetModuleHandleW = &get_module;
  win::api.FindResourceW = &find;
  win::api.LoadResource = &load;
  win::api.LockResource = &lock;
  win::api.SizeofResource = &size_of;
}

fake_payloads::~fake_payloads() { active = nullptr; }

}  // namespace brq_install::test
