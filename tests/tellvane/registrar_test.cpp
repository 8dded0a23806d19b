// The registry-script processor on its own: what a script writes and
// removes, and that a failed or malformed script leaves nothing behind.
#include <gtest/gtest.h>

#include <string>

#include "support/comtest.h"
#include "support/tempprefix.h"
#include "tellvane/registrar.h"

namespace {

using Tellvane::runRegistryScript;

// The tree below HKCU\Software\T as text: each key's path and ";", then its
// default value and its values N and B as "@name=" and the value's bytes
// (a text's code units) and ";".
std::string dump(const std::u16string& path = u"") {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, (u"Software\\T" + path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "";
  std::string out = std::string(path.begin(), path.end()) + ";";
  for (const char16_t* name : {u"", u"N", u"B"}) {
    BYTE data[512];
    DWORD type = 0, size = sizeof data;
    if (RegQueryValueExW(key, name[0] ? name : nullptr, nullptr, &type, data, &size) != ERROR_SUCCESS) continue;
    out += "@" + std::string(name, name + (name[0] ? 1 : 0)) + "=";
    for (DWORD i = 0; i + 2 < size || (type != REG_SZ && i < size); i += type == REG_SZ ? 2 : 1)
      out += type == REG_SZ ? std::string(1, static_cast<char>(data[i])) : std::to_string(data[i]) + ",";
    out += ";";
  }
  WCHAR child[256];
  for (DWORD i = 0, length = 256; RegEnumKeyExW(key, i, child, &length, nullptr, nullptr, nullptr, nullptr) == 0;
       ++i, length = 256)
    out += dump(path + u"\\" + child);
  RegCloseKey(key);
  return out;
}

HRESULT run(const std::u16string& script, bool registering = true) {
  return runRegistryScript(script, {{u"Module", u"C:\\it''s.dll"}, {u"APPID", u"{1}"}}, registering);
}

TEST(Registrar, WritesKeysAndValuesOfEveryKind) {
  tvtest::TempPrefix prefix;
  const struct {
    const char16_t* script;
    const char* written;
  } rows[] = {
      {u"HKCU { NoRemove Software { T = s 'x y' { val N = d '4294967295' \n val B = b '0aFF' } } }",
       ";@=x y;@N=255,255,255,255,;@B=10,255,;"},
      // Quotes, braces in names, replacements in any letter case, %% and ''.
      {u"hkey_current_user {\tSoftware\r\n{ T { '{a b}' = s '%MODULE% %% %appid%' \n {G-1} { ''''=s it's } } } }",
       ";\\{a b};@=C:\\it's.dll % {1};\\{G-1};\\{G-1}\\';@=it's;"},
  };
  for (const auto& row : rows) {
    RegDeleteTreeW(HKEY_CURRENT_USER, u"Software\\T");
    EXPECT_EQ(run(row.script), S_OK);
    EXPECT_EQ(dump(), row.written);
  }
  // Delete takes a key away; ForceRemove makes its key afresh.
  RegDeleteTreeW(HKEY_CURRENT_USER, u"Software\\T");
  comtest::createKey(HKEY_CURRENT_USER, u"Software\\T\\Gone\\Deep");
  comtest::createKey(HKEY_CURRENT_USER, u"Software\\T\\Fresh\\Old");
  EXPECT_EQ(run(u"HKCU { Software { T { Delete Gone \n ForceRemove Fresh { A } } } }"), S_OK);
  EXPECT_EQ(dump(), ";\\Fresh;\\Fresh\\A;");
}

TEST(Registrar, RemovesWhatItNamesButKeepsOthersKeys) {
  tvtest::TempPrefix prefix;
  const std::u16string script =
      u"HKCU { NoRemove Software { T { val N = d '1' \n Mine { A = s 'a' } \n Plain "
      u"\n ForceRemove Whole } } }";
  ASSERT_EQ(run(script), S_OK);
  comtest::createKey(HKEY_CURRENT_USER, u"Software\\T\\Plain\\Foreign");
  comtest::createKey(HKEY_CURRENT_USER, u"Software\\T\\Whole\\Foreign");
  EXPECT_EQ(run(script, false), S_OK);
  EXPECT_EQ(dump(), ";\\Plain;\\Plain\\Foreign;");
  EXPECT_EQ(run(script, false), S_OK);  // what is gone stays gone
  ASSERT_EQ(run(u"HKCU { Software { T } }", false), S_OK);
  EXPECT_EQ(dump(), ";\\Plain;\\Plain\\Foreign;");
}

TEST(Registrar, MalformedOrFailingScriptsLeaveNothingBehind) {
  tvtest::TempPrefix prefix;
  for (const char16_t* script :
       {u"HKCU { Software { T = s '%NOPE%' } }", u"HKCU { Software { T = s 'open } } }", u"HKCU { Software { T = x 'y' } }",
        u"HKCU { Software { T = d '4294967296' } }", u"HKCU { Software { T = b 'abc' } }",
        u"HKCU { Software { T { val N } } }", u"HKXX { T }", u"HKCU {Software}"}) {
    EXPECT_EQ(run(script), DISP_E_EXCEPTION) << std::string(script, script + 20);
    EXPECT_EQ(dump(), "");
  }
  // The first root is written, the second fails: the first is undone.
  EXPECT_EQ(run(u"HKCU { NoRemove Software { T { A = s '1' } } } HKPD { X }"),
            HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE));
  EXPECT_EQ(dump(), "");
  std::u16string deep = u"HKCU { ";
  for (int i = 0; i < 5000; ++i) deep += u"K { ";
  EXPECT_EQ(run(deep), DISP_E_EXCEPTION);
}

}  // namespace
