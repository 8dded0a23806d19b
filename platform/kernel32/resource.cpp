// kernel32 resources. A module carries its resources in its own shared
// object: the resource compiler of the build (cmake/tvrc.cpp) writes their
// bytes and one exported table, tellvane_module_resources_v1, found here with
// dlsym on the module's handle. An HRSRC points at the table's entry; the
// HGLOBAL of a loaded resource is the address of its bytes, which live as
// long as the module does.
#include "kernel32/module.h"
#include "internal/win32call.h"

#include <cstdint>
#include <cstring>

namespace tv {

namespace {

// The layout the resource compiler writes.
struct ResourceEntry {
  const char16_t* typeName;  // null when typeId names the type
  uint32_t typeId;
  const char16_t* name;  // null when id names the resource
  uint32_t id;
  const unsigned char* data;
  uint32_t size;
};

struct ResourceTable {
  uint32_t version;
  uint32_t count;
  const ResourceEntry* entries;
};

constexpr char tableSymbol[] = "tellvane_module_resources_v1";

const ResourceTable* tableOf(link_map* module) {
  void* symbol = ownSymbol(module, tableSymbol);
  if (symbol == nullptr) return nullptr;
  auto* table = static_cast<const ResourceTable*>(symbol);
  return table->version == 1 ? table : nullptr;
}

const ResourceTable& requireTable(HMODULE module) {
  const ResourceTable* table = tableOf(loadedModule(module));
  require(table != nullptr && table->count > 0, ERROR_RESOURCE_DATA_NOT_FOUND);
  return *table;
}

// A resource type or name as the caller gives it: an integer identifier,
// "#123" for the same, or a name compared without regard to case.
struct Designator {
  bool isId = false;
  uint32_t id = 0;
  LPCWSTR name = nullptr;
};

Designator designator(LPCWSTR value) {
  require(value != nullptr, ERROR_RESOURCE_NAME_NOT_FOUND);
  if (IS_INTRESOURCE(value)) return {true, static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(value)), nullptr};
  if (value[0] == u'#') {
    uint32_t id = 0;
    size_t i = 1;
    for (; value[i] >= u'0' && value[i] <= u'9' && id <= 0xFFFF; ++i) id = id * 10 + (value[i] - u'0');
    if (i > 1 && value[i] == 0 && id <= 0xFFFF) return {true, id, nullptr};
  }
  return {false, 0, value};
}

char16_t foldCase(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

bool matches(const Designator& wanted, const char16_t* name, uint32_t id) {
  if (wanted.isId) return name == nullptr && id == wanted.id;
  if (name == nullptr) return false;
  size_t i = 0;
  for (; wanted.name[i] != 0 && name[i] != 0; ++i)
    if (foldCase(wanted.name[i]) != foldCase(name[i])) return false;
  return wanted.name[i] == 0 && name[i] == 0;
}

const ResourceEntry& entryOf(HMODULE module, HRSRC resource) {
  const ResourceTable& table = requireTable(module);
  auto* entry = reinterpret_cast<const ResourceEntry*>(resource);
  for (uint32_t i = 0; i < table.count; ++i)
    if (&table.entries[i] == entry) return *entry;
  fail(ERROR_INVALID_HANDLE);
}

}  // namespace

}  // namespace tv

using namespace tv;

HRSRC WINAPI FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType) {
  return win32Value<HRSRC>(nullptr, [&] {
    const ResourceTable& table = requireTable(hModule);
    Designator type = designator(lpType);
    Designator name = designator(lpName);
    bool typeFound = false;
    for (uint32_t i = 0; i < table.count; ++i) {
      const ResourceEntry& e = table.entries[i];
      if (!matches(type, e.typeName, e.typeId)) continue;
      typeFound = true;
      if (matches(name, e.name, e.id)) return reinterpret_cast<HRSRC>(const_cast<ResourceEntry*>(&e));
    }
    fail(typeFound ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
  });
}

HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo) {
  return win32Value<HGLOBAL>(nullptr, [&] {
    require(hResInfo != nullptr, ERROR_INVALID_HANDLE);
    return static_cast<HGLOBAL>(const_cast<unsigned char*>(entryOf(hModule, hResInfo).data));
  });
}

DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo) {
  return win32Value<DWORD>(0, [&] {
    require(hResInfo != nullptr, ERROR_INVALID_HANDLE);
    return static_cast<DWORD>(entryOf(hModule, hResInfo).size);
  });
}

LPVOID WINAPI LockResource(HGLOBAL hResData) { return hResData; }

// String tables: string n is in block n/16 + 1, as the n%16-th of sixteen
// counted strings (a 16-bit length, then that many UTF-16 units, no zero).
int WINAPI LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax) {
  return win32Value<int>(0, [&]() -> int {
    require(lpBuffer != nullptr && cchBufferMax >= 0);
    HRSRC block = FindResourceW(hInstance, MAKEINTRESOURCEW((LOWORD(uID) >> 4) + 1), RT_STRING);
    if (block == nullptr) fail(GetLastError());
    const ResourceEntry& entry = entryOf(hInstance, block);
    const unsigned char* p = entry.data;
    size_t left = entry.size;
    auto unitAt = [&](size_t offset) {
      return static_cast<char16_t>(p[2 * offset] | (p[2 * offset + 1] << 8));
    };
    size_t units = left / 2;
    size_t at = 0;
    for (UINT skip = uID & 15; skip > 0; --skip) {
      require(at < units, ERROR_RESOURCE_NAME_NOT_FOUND);
      at += 1 + unitAt(at);
    }
    require(at < units, ERROR_RESOURCE_NAME_NOT_FOUND);
    size_t length = unitAt(at);
    require(at + 1 + length <= units, ERROR_RESOURCE_NAME_NOT_FOUND);
    // The block's bytes are little-endian UTF-16, which is the host's order.
    auto* text = reinterpret_cast<LPCWSTR>(p + 2 * (at + 1));
    if (cchBufferMax == 0) {
      // The caller gets a read-only pointer into the resource instead.
      *reinterpret_cast<LPCWSTR*>(lpBuffer) = text;
      return static_cast<int>(length);
    }
    size_t copied = length < static_cast<size_t>(cchBufferMax - 1) ? length : static_cast<size_t>(cchBufferMax - 1);
    std::memcpy(lpBuffer, text, copied * sizeof(WCHAR));
    lpBuffer[copied] = 0;
    return static_cast<int>(copied);
  });
}
