// Resources embedded in a module by the build, and string tables.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/wide.h"

namespace {

class Resources : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string path = TV_TEST_MODULE;
    module_ = LoadLibraryW(std::u16string(path.begin(), path.end()).c_str());
    ASSERT_NE(module_, nullptr);
  }
  void TearDown() override { FreeLibrary(module_); }

  std::string bytes(LPCWSTR name, LPCWSTR type) {
    HRSRC found = FindResourceW(module_, name, type);
    if (found == nullptr) return "<not found>";
    HGLOBAL loaded = LoadResource(module_, found);
    auto* data = static_cast<const char*>(LockResource(loaded));
    return std::string(data, SizeofResource(module_, found));
  }

  HMODULE module_ = nullptr;
};

TEST_F(Resources, FoundByTypeAndIdentifierInAnyOfTheirForms) {
  std::string script = bytes(MAKEINTRESOURCEW(101), WSTR("REGISTRY"));
  EXPECT_NE(script.find("ForceRemove {00000000-0000-0000-0000-000000000001}"), std::string::npos);
  EXPECT_EQ(bytes(WSTR("#101"), WSTR("registry")), script);
  EXPECT_EQ(bytes(WSTR("module"), WSTR("Registry")), script);
  EXPECT_EQ(bytes(MAKEINTRESOURCEW(1), WSTR("TYPELIB")), std::string("typelib bytes \0\1\2\xff\n", 19));
  EXPECT_NE(bytes(MAKEINTRESOURCEW(2), RT_MANIFEST).find("<assembly"), std::string::npos);
}

TEST_F(Resources, MissingTypeAndMissingNameAreTold) {
  struct Case {
    LPCWSTR name;
    LPCWSTR type;
    DWORD error;
  } cases[] = {
      {MAKEINTRESOURCEW(101), WSTR("NOSUCHTYPE"), ERROR_RESOURCE_TYPE_NOT_FOUND},
      {MAKEINTRESOURCEW(102), WSTR("REGISTRY"), ERROR_RESOURCE_NAME_NOT_FOUND},
      {WSTR("#1x"), WSTR("TYPELIB"), ERROR_RESOURCE_NAME_NOT_FOUND},
      {MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(4), ERROR_RESOURCE_TYPE_NOT_FOUND},  // RT_MENU
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(FindResourceW(module_, c.name, c.type), nullptr);
    EXPECT_EQ(GetLastError(), c.error);
  }
  // A module built without resources has none to find.
  SetLastError(0);
  EXPECT_EQ(FindResourceW(GetModuleHandleW(WSTR("libtellvane-platform.so")), MAKEINTRESOURCEW(1), RT_STRING),
            nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
  // An HRSRC of one module is not a resource of another.
  HRSRC found = FindResourceW(module_, MAKEINTRESOURCEW(1), WSTR("TYPELIB"));
  EXPECT_EQ(LoadResource(nullptr, found), nullptr);
}

TEST_F(Resources, LoadStringReadsStringTablesTruncatesOrLendsThePointer) {
  const struct {
    UINT id;
    std::u16string text;
  } cases[] = {
      {100, u"Tellvane"},         {101, u"Клиентская библиотека ЭП"}, {103, u"say \"hi\" # not a comment"},
      {111, u""},                 {112, u"first of the next block"},  {65535, u"last identifier"},
      {102, u""},  // a gap inside a block
  };
  for (const auto& c : cases) {
    WCHAR buffer[64];
    const int length = LoadStringW(module_, c.id, buffer, 64);
    EXPECT_EQ(std::u16string(buffer, length), c.text) << c.id;
    EXPECT_EQ(buffer[length], 0);
  }
  WCHAR small[5];
  EXPECT_EQ(LoadStringW(module_, 5000, small, 5), 0);  // no such block
  EXPECT_EQ(LoadStringW(module_, 100, small, 5), 4);
  EXPECT_EQ(std::u16string(small), u"Tell");
  // With no room, the caller receives a read-only pointer into the
  // resource; the string is not terminated there.
  const WCHAR* lent = nullptr;
  const int length = LoadStringW(module_, 100, reinterpret_cast<LPWSTR>(&lent), 0);
  EXPECT_EQ(std::u16string(lent, length), u"Tellvane");
}

// The version resource as version readers walk it: each block's key is
// followed by its value at the next 4-byte boundary.
TEST_F(Resources, VersionResourceHasTheLayoutVersionReadersWalk) {
  const std::string version = bytes(MAKEINTRESOURCEW(1), RT_VERSION);
  auto utf16 = [](const std::u16string& text) {  // with its zero
    return std::string(reinterpret_cast<const char*>(text.c_str()), 2 * text.size() + 2);
  };
  auto valueOf = [&](const std::u16string& key, size_t size) {
    const size_t at = version.find(utf16(key));
    return at == std::string::npos ? "<no " + std::string(key.begin(), key.end()) + ">"
                                   : version.substr((at + 2 * key.size() + 2 + 3) & ~size_t(3), size);
  };
  DWORD fixed[13];  // VS_FIXEDFILEINFO
  std::memcpy(fixed, valueOf(u"VS_VERSION_INFO", sizeof fixed).data(), sizeof fixed);
  EXPECT_EQ(fixed[0], 0xFEEF04BDu);
  EXPECT_EQ(fixed[2], 0x00010002u);  // file version 1.2.3.4
  EXPECT_EQ(fixed[3], 0x00030004u);
  EXPECT_EQ(fixed[5], 0x00000001u);  // product version 1.0.0.1
  EXPECT_EQ(valueOf(u"040904B0", 0), "");
  EXPECT_EQ(valueOf(u"FileDescription", 50), utf16(u"Клиентская библиотека ЭП"));
  EXPECT_EQ(valueOf(u"Translation", 4), std::string("\x09\x04\xb0\x04", 4));  // US English, Unicode
}

TEST(ProgramResources, NullModuleNamesTheProgramsOwnResources) {
  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(7), RT_RCDATA);
  ASSERT_NE(found, nullptr);
  EXPECT_GT(SizeofResource(nullptr, found), 0u);
  WCHAR buffer[32];
  int length = LoadStringW(nullptr, 5, buffer, 32);
  EXPECT_EQ(std::u16string(buffer, length), u"program string");
}

}  // namespace
