// The registry: keys and values kept in .reg hive files under the prefix.
#include <windows.h>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/wide.h"
#include "support/comtest.h"
#include "support/tempprefix.h"

namespace {

using comtest::regText;

std::vector<BYTE> bytesOf(const std::u16string& text, bool terminated = true) {
  std::vector<BYTE> out;
  for (char16_t c : text) {
    out.push_back(static_cast<BYTE>(c & 0xFF));
    out.push_back(static_cast<BYTE>(c >> 8));
  }
  if (terminated) out.insert(out.end(), {0, 0});
  return out;
}

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// An open key that closes itself.
class Key {
 public:
  Key() = default;
  explicit Key(HKEY key) : key_(key) {}
  ~Key() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* out() { return &key_; }
  operator HKEY() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

class Registry : public ::testing::Test {
 protected:
  LSTATUS create(HKEY root, const std::u16string& path, Key& key, DWORD* disposition = nullptr) {
    return RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.out(), disposition);
  }
  LSTATUS open(HKEY root, const std::u16string& path, Key& key) {
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.out());
  }
  void setString(HKEY key, const char16_t* name, const std::u16string& text) {
    std::vector<BYTE> data = bytesOf(text);
    ASSERT_EQ(RegSetValueExW(key, name, 0, REG_SZ, data.data(), static_cast<DWORD>(data.size())), ERROR_SUCCESS);
  }
  std::vector<std::u16string> subkeys(HKEY key) {
    std::vector<std::u16string> names;
    for (DWORD i = 0;; ++i) {
      WCHAR name[256];
      DWORD length = 256;
      LSTATUS status = RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (status == ERROR_NO_MORE_ITEMS) break;
      EXPECT_EQ(status, ERROR_SUCCESS);
      if (status != ERROR_SUCCESS) break;
      names.emplace_back(name, length);
    }
    return names;
  }
  std::string machineFile() { return prefix_ / "registry/machine.reg"; }
  std::string userFile() { return prefix_ / "registry/user.reg"; }

  tvtest::TempPrefix prefix_;
};

struct ValueCase {
  const char16_t* name;
  DWORD type;
  std::vector<BYTE> data;
};

TEST_F(Registry, EveryValueTypeAndOddNamesSurviveTheHiveFile) {
  std::vector<BYTE> longBinary(300);
  for (size_t i = 0; i < longBinary.size(); ++i) longBinary[i] = static_cast<BYTE>(i * 7);
  std::vector<ValueCase> cases = {
      {u"", REG_SZ, bytesOf(u"")},  // an empty default value
      {u"plain", REG_SZ, bytesOf(u"Signer32 Class")},
      {u"quote\"and\\backslash", REG_SZ, bytesOf(u"C:\\Program Files\\\"x\"\\")},
      {u"{11A0581C-505A-4F0C-8AB3-D777BFB3C3BB}", REG_SZ, bytesOf(u"{braces} [brackets] = ; #")},
      {u"Юникод ключ 🔑", REG_SZ, bytesOf(u"Клиентская библиотека ЭП ✓ 🔏")},
      {u"=starts with equals", REG_EXPAND_SZ, bytesOf(u"%SystemRoot%\\system32")},
      {u"multi", REG_MULTI_SZ, bytesOf(std::u16string(u"one\0two\0\0", 9), false)},
      {u"dword", REG_DWORD, {0x2a, 0x00, 0x00, 0x80}},
      {u"qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 0xff}},
      {u"binary long", REG_BINARY, longBinary},
      {u"binary empty", REG_BINARY, {}},
      {u"none", REG_NONE, {0xde, 0xad}},
      // Strings whose quoted form would not give back the same bytes.
      {u"unterminated", REG_SZ, bytesOf(u"no zero", false)},
      {u"line breaks", REG_SZ, bytesOf(u"one\r\ntwo")},
      {u"odd size", REG_SZ, {0x41}},
      {u"short dword", REG_DWORD, {1, 2}},
  };
  {
    Key key;
    ASSERT_EQ(create(HKEY_CURRENT_USER, u"Software\\Tellvane Test\\{Odd] [Key}\\Ключ", key), ERROR_SUCCESS);
    for (const ValueCase& c : cases)
      ASSERT_EQ(RegSetValueExW(key, c.name, 0, c.type, c.data.data(), static_cast<DWORD>(c.data.size())),
                ERROR_SUCCESS);
  }
  Key key;
  ASSERT_EQ(open(HKEY_CURRENT_USER, u"Software\\Tellvane Test\\{Odd] [Key}\\Ключ", key), ERROR_SUCCESS);
  for (const ValueCase& c : cases) {
    std::vector<BYTE> data(400);
    DWORD size = static_cast<DWORD>(data.size());
    DWORD type = 0xFFFF;
    ASSERT_EQ(RegQueryValueExW(key, c.name, nullptr, &type, data.data(), &size), ERROR_SUCCESS);
    data.resize(size);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(data, c.data);
  }
}

TEST_F(Registry, HiveFileIsRegeditText) {
  {
    Key key;
    ASSERT_EQ(create(HKEY_CURRENT_USER, u"Software\\Classes\\Tellvane.Signer32", key), ERROR_SUCCESS);
    setString(key, nullptr, u"");
    setString(key, u"Say \"hi\"", u"C:\\dir\\");
    DWORD number = 0x2a;
    RegSetValueExW(key, u"Count", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4);
    BYTE q[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    RegSetValueExW(key, u"Big", 0, REG_QWORD, q, 8);
  }
  std::string text = readText(userFile());
  EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\r\n\r\n", 0), 0u);
  for (const char* line : {"[HKEY_CURRENT_USER\\Software\\Classes\\Tellvane.Signer32]\r\n", "@=\"\"\r\n",
                           "\"Say \\\"hi\\\"\"=\"C:\\\\dir\\\\\"\r\n", "\"Count\"=dword:0000002a\r\n",
                           "\"Big\"=hex(b):01,00,00,00,00,00,00,00\r\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << "\nin\n" << text;
}

TEST_F(Registry, ReadsWhatRegeditExports) {
  // Regedit writes UTF-16 with a byte-order mark, and long hex data over
  // several lines.
  std::u16string exported =
      u"\uFEFFWindows Registry Editor Version 5.00\r\n\r\n"
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{11A0581C-505A-4F0C-8AB3-D777BFB3C3BB}\\InprocServer32]\r\n"
      u"@=\"C:\\\\Tellvane\\\\Tellvane.dll\"\r\n"
      u"\"ThreadingModel\"=\"Apartment\"\r\n"
      u"; a comment\r\n"
      u"\"Paths\"=hex(7):41,00,00,00,\\\r\n  42,00,00,00,00,00\r\n";
  std::string bytes;
  for (char16_t c : exported) bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  tvtest::writeFile(machineFile(), bytes);

  EXPECT_EQ(regText(HKEY_CLASSES_ROOT, u"CLSID\\{11a0581c-505a-4f0c-8ab3-d777bfb3c3bb}\\InprocServer32", nullptr),
            u"C:\\Tellvane\\Tellvane.dll");
  EXPECT_EQ(regText(HKEY_LOCAL_MACHINE,
                       u"Software\\Classes\\CLSID\\{11A0581C-505A-4F0C-8AB3-D777BFB3C3BB}\\InprocServer32",
                       u"threadingmodel"),
            u"Apartment");
  Key key;
  ASSERT_EQ(open(HKEY_CLASSES_ROOT, u"CLSID\\{11A0581C-505A-4F0C-8AB3-D777BFB3C3BB}\\InprocServer32", key),
            ERROR_SUCCESS);
  BYTE data[16];
  DWORD size = sizeof data;
  ASSERT_EQ(RegQueryValueExW(key, u"Paths", nullptr, nullptr, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::vector<BYTE>(data, data + size), (std::vector<BYTE>{0x41, 0, 0, 0, 0x42, 0, 0, 0, 0, 0}));
}

TEST_F(Registry, NamesCompareWithoutCaseAndKeepTheirCase) {
  DWORD disposition = 0;
  {
    Key key;
    ASSERT_EQ(create(HKEY_LOCAL_MACHINE, u"Software\\MixedCase\\Ключ", key, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    setString(key, u"ValueName", u"first");
  }
  Key again;
  ASSERT_EQ(create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\mixedcase\\КЛЮЧ", again, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  setString(again, u"VALUENAME", u"second");
  EXPECT_EQ(regText(HKEY_LOCAL_MACHINE, u"software\\MIXEDCASE\\ключ", u"valuename"), u"second");

  Key software;
  ASSERT_EQ(open(HKEY_LOCAL_MACHINE, u"software", software), ERROR_SUCCESS);
  EXPECT_EQ(subkeys(software), std::vector<std::u16string>{u"MixedCase"});
  std::string text = readText(machineFile());
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Software\\MixedCase\\Ключ]\r\n\"ValueName\"=\"second\""),
            std::string::npos)
      << text;
}

TEST_F(Registry, QueryValueFollowsTheSizeProtocol) {
  Key key;
  ASSERT_EQ(create(HKEY_CURRENT_USER, u"Software\\Sizes", key), ERROR_SUCCESS);
  setString(key, u"text", u"Tellvane");  // 18 bytes with the terminator

  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"text", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 18u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

  BYTE small[4] = {0xcc, 0xcc, 0xcc, 0xcc};
  size = sizeof small;
  type = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"text", nullptr, &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 18u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

  BYTE exact[18];
  size = sizeof exact;
  EXPECT_EQ(RegQueryValueExW(key, u"text", nullptr, nullptr, exact, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 18u);

  EXPECT_EQ(RegQueryValueExW(key, u"missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  // A key's default value that was never set does not exist either.
  EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExW(key, u"text", nullptr, nullptr, exact, nullptr), ERROR_INVALID_PARAMETER);

  // A string stored without its zero gets one when the buffer has room,
  // and never a byte beyond the buffer when it has not.
  const char16_t raw[] = {u'a', u'b', u'c'};
  ASSERT_EQ(RegSetValueExW(key, u"raw", 0, REG_SZ, reinterpret_cast<const BYTE*>(raw), 6), ERROR_SUCCESS);
  WCHAR roomy[4] = {0xcccc, 0xcccc, 0xcccc, 0xcccc};
  size = sizeof roomy;
  EXPECT_EQ(RegQueryValueExW(key, u"raw", nullptr, nullptr, reinterpret_cast<BYTE*>(roomy), &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(std::u16string(roomy), u"abc");
  auto tight = std::make_unique<BYTE[]>(6);
  size = 6;
  EXPECT_EQ(RegQueryValueExW(key, u"raw", nullptr, nullptr, tight.get(), &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 6u);
}

TEST_F(Registry, DeletingKeysValuesAndTrees) {
  Key root;
  ASSERT_EQ(create(HKEY_CURRENT_USER, u"Software\\Tree", root), ERROR_SUCCESS);
  for (const char16_t* path : {u"b\\deep\\deeper", u"A", u"c"}) {
    Key sub;
    ASSERT_EQ(create(root, path, sub), ERROR_SUCCESS);
    setString(sub, u"v", u"x");
  }
  EXPECT_EQ(subkeys(root), (std::vector<std::u16string>{u"A", u"b", u"c"}));
  WCHAR name[8];
  DWORD length = 1;
  EXPECT_EQ(RegEnumKeyExW(root, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);

  EXPECT_EQ(RegDeleteKeyW(root, u"b"), ERROR_ACCESS_DENIED);  // it has subkeys
  EXPECT_EQ(RegDeleteKeyW(root, u"nothing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyW(root, u"A"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTreeW(root, u"B"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTreeW(root, u"b"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(subkeys(root), std::vector<std::u16string>{u"c"});

  {
    Key c;
    ASSERT_EQ(open(root, u"c", c), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(c, u"V"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(c, u"v"), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegDeleteKeyW(root, u"c"), ERROR_SUCCESS);
    // The handle outlives its key.
    EXPECT_EQ(RegSetValueExW(c, u"v", 0, REG_BINARY, nullptr, 0), ERROR_KEY_DELETED);
    Key below;
    EXPECT_EQ(create(c, u"below", below), ERROR_KEY_DELETED);
  }
  setString(root, u"kept?", u"no");
  {
    Key sub;
    ASSERT_EQ(create(root, u"x\\y", sub), ERROR_SUCCESS);
  }
  // Without a subkey name the tree's key stays, emptied.
  EXPECT_EQ(RegDeleteTreeW(root, nullptr), ERROR_SUCCESS);
  EXPECT_TRUE(subkeys(root).empty());
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(root, u"kept?", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u""), ERROR_ACCESS_DENIED);
}

TEST_F(Registry, RejectsBadHandlesAndPaths) {
  Key key;
  EXPECT_EQ(RegOpenKeyExW(reinterpret_cast<HKEY>(0x1234), u"x", 0, KEY_READ, key.out()), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyExW(HKEY_USERS, u"x", 0, KEY_READ, key.out()), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(0x1234)), ERROR_INVALID_HANDLE);
  EXPECT_EQ(create(HKEY_CURRENT_USER, u"a\\\\b", key), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(create(HKEY_CURRENT_USER, u"line\nbreak", key), ERROR_INVALID_PARAMETER);
  // Names of up to 255 characters, keys up to 512 levels below the hive's root.
  EXPECT_EQ(create(HKEY_CURRENT_USER, std::u16string(255, u'n'), key), ERROR_SUCCESS);
  EXPECT_EQ(create(HKEY_CURRENT_USER, std::u16string(256, u'n'), key), ERROR_INVALID_PARAMETER);
  auto levels = [](size_t count) {
    std::u16string path = u"d";
    for (size_t i = 1; i < count; ++i) path += u"\\d";
    return path;
  };
  EXPECT_EQ(create(HKEY_CURRENT_USER, levels(513), key), ERROR_NO_SYSTEM_RESOURCES);
  EXPECT_EQ(create(HKEY_CLASSES_ROOT, levels(511), key), ERROR_NO_SYSTEM_RESOURCES);
  EXPECT_EQ(create(HKEY_CURRENT_USER, levels(5000), key), ERROR_NO_SYSTEM_RESOURCES);
  {
    Key deepest;
    ASSERT_EQ(create(HKEY_CURRENT_USER, levels(512), deepest), ERROR_SUCCESS);
    setString(deepest, u"v", u"at the bottom");
  }
  // The chain of empty keys above the value is written once, not once per level.
  EXPECT_LT(readText(userFile()).size(), 5000u);
  EXPECT_EQ(regText(HKEY_CURRENT_USER, levels(512), u"v"), u"at the bottom");
  EXPECT_EQ(open(HKEY_CURRENT_USER, u"Software\\Nothing", key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegSetValueExW(HKEY_CURRENT_USER, u"x", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"x", 0, nullptr, 0, KEY_READ, nullptr, nullptr, nullptr),
            ERROR_BADKEY);

  // A predefined key opened without a subkey is itself; the classes root
  // allows one leading backslash.
  HKEY same = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, &same), ERROR_SUCCESS);
  EXPECT_EQ(same, HKEY_LOCAL_MACHINE);
  Key classes;
  ASSERT_EQ(create(HKEY_LOCAL_MACHINE, u"Software\\Classes\\.txt", classes), ERROR_SUCCESS);
  EXPECT_EQ(open(HKEY_CLASSES_ROOT, u"\\.txt", key), ERROR_SUCCESS);
}

TEST_F(Registry, CorruptHiveIsReportedAndLeftAlone) {
  std::string deep = "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE";
  for (int i = 0; i < 300000; ++i) deep += "\\k";
  const std::string corrupt[] = {
      "",
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n",
      "Windows Registry Editor Version 5.00\r\n\"value before any key\"=\"x\"\r\n",
      "Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\Software]\r\n",  // another hive's key
      "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\Software\r\n",
      "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\"a\"=\"unterminated\r\n",
      "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\"a\"=dword:123456789\r\n",
      "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\"a\"=hex:1,zz\r\n",
      "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\"a\"=-\r\n",
      "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\Software\\\\Twice]\r\n",
      // Not UTF-8 (a CP1251 hive), and UTF-16 with a lone surrogate: never read with replacements.
      "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\\xCA\xEB\xFE\xF7]\r\n",
      std::string("\xFF\xFEW\0\0\xD8", 6),
      // Names the API refuses: with NUL or CR, longer than 255, deeper than 512 levels.
      std::string("Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\a\0b]\r\n", 64),
      "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\a\rb]\r\n",
      "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\a]\r\n\"x\ry\"=\"v\"\r\n",
      "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\" + std::string(256, 'n') + "]\r\n",
      deep.substr(0, 57 + 2 * 513) + "]\r\n",
      deep + "]\r\n",
  };
  for (const std::string& text : corrupt) {
    tvtest::writeFile(machineFile(), text);
    Key key;
    EXPECT_EQ(open(HKEY_LOCAL_MACHINE, u"Software", key), ERROR_BADDB) << text;
    EXPECT_EQ(create(HKEY_LOCAL_MACHINE, u"Software\\New", key), ERROR_BADDB) << text;
    EXPECT_EQ(RegSetValueExW(HKEY_LOCAL_MACHINE, u"v", 0, REG_BINARY, nullptr, 0), ERROR_BADDB) << text;
    EXPECT_EQ(readText(machineFile()), text);
  }
  // The other hive is not touched by it.
  Key user;
  EXPECT_EQ(create(HKEY_CURRENT_USER, u"Software\\Fine", user), ERROR_SUCCESS);
  // A FIFO in a hive's place is not waited on.
  std::filesystem::remove(machineFile());
  ASSERT_EQ(mkfifo(machineFile().c_str(), 0600), 0);
  Key key;
  EXPECT_EQ(open(HKEY_LOCAL_MACHINE, u"Software", key), ERROR_CANTREAD);
}

// ---- HKEY_CLASSES_ROOT ------------------------------------------------------------

class ClassesRoot : public Registry {
 protected:
  void make(HKEY root, const std::u16string& path, const char16_t* value = nullptr) {
    Key key;
    ASSERT_EQ(create(root, path, key), ERROR_SUCCESS);
    if (value != nullptr) setString(key, nullptr, value);
  }
  std::vector<std::u16string> subkeysOf(const std::u16string& path) {
    Key key;
    EXPECT_EQ(open(HKEY_CLASSES_ROOT, path, key), ERROR_SUCCESS);
    return subkeys(key);
  }
};

TEST_F(ClassesRoot, MergesUserClassesOverMachineClasses) {
  // The documented example: CLSID is merged key by key, while a class that
  // the user has hides the machine's class of that name.
  make(HKEY_LOCAL_MACHINE, u"Software\\Classes\\CLSID\\2");
  make(HKEY_LOCAL_MACHINE, u"Software\\Classes\\CLSID\\4\\InprocServer32", u"machine.dll");
  make(HKEY_LOCAL_MACHINE, u"Software\\Classes\\CLSID\\4\\LocalServer32");
  make(HKEY_LOCAL_MACHINE, u"Software\\Classes\\CLSID\\7");
  make(HKEY_LOCAL_MACHINE, u"Software\\Classes\\Machine.Only", u"from the machine");
  make(HKEY_LOCAL_MACHINE, u"Software\\Classes\\Both", u"from the machine");
  make(HKEY_CURRENT_USER, u"Software\\Classes\\CLSID\\1");
  make(HKEY_CURRENT_USER, u"Software\\Classes\\CLSID\\4\\LocalServer", u"user.exe");
  make(HKEY_CURRENT_USER, u"Software\\Classes\\CLSID\\6");
  make(HKEY_CURRENT_USER, u"Software\\Classes\\Both", u"from the user");

  EXPECT_EQ(subkeysOf(u"CLSID"), (std::vector<std::u16string>{u"1", u"2", u"4", u"6", u"7"}));
  EXPECT_EQ(subkeysOf(u"CLSID\\4"), std::vector<std::u16string>{u"LocalServer"});
  Key hidden;
  EXPECT_EQ(open(HKEY_CLASSES_ROOT, u"CLSID\\4\\InprocServer32", hidden), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(regText(HKEY_CLASSES_ROOT, u"Both", nullptr), u"from the user");
  EXPECT_EQ(regText(HKEY_CLASSES_ROOT, u"machine.only", nullptr), u"from the machine");
}

TEST_F(ClassesRoot, WritesWhereWindowsWrites) {
  make(HKEY_CURRENT_USER, u"Software\\Classes\\User.Class");
  make(HKEY_LOCAL_MACHINE, u"Software\\Classes\\Machine.Class");

  // New keys go to the machine's classes; values go where the key is seen.
  make(HKEY_CLASSES_ROOT, u"New.Class\\CLSID", u"{new}");
  make(HKEY_CLASSES_ROOT, u"User.Class", u"user value");
  make(HKEY_CLASSES_ROOT, u"Machine.Class", u"machine value");
  // Below a user class that hides the machine's, a machine key would not be
  // seen: the new key goes beside its parent.
  make(HKEY_CLASSES_ROOT, u"User.Class\\CurVer", u"User.Class.1");

  EXPECT_EQ(regText(HKEY_LOCAL_MACHINE, u"Software\\Classes\\New.Class\\CLSID", nullptr), u"{new}");
  EXPECT_EQ(regText(HKEY_CURRENT_USER, u"Software\\Classes\\User.Class", nullptr), u"user value");
  EXPECT_EQ(regText(HKEY_LOCAL_MACHINE, u"Software\\Classes\\Machine.Class", nullptr), u"machine value");
  EXPECT_EQ(regText(HKEY_CURRENT_USER, u"Software\\Classes\\User.Class\\CurVer", nullptr), u"User.Class.1");
  EXPECT_EQ(regText(HKEY_CLASSES_ROOT, u"User.Class\\CurVer", nullptr), u"User.Class.1");
  EXPECT_EQ(readText(userFile()).find("New.Class"), std::string::npos);

  // Deleting takes the key that is seen, revealing the machine's below it.
  make(HKEY_CURRENT_USER, u"Software\\Classes\\Machine.Class", u"user override");
  EXPECT_EQ(regText(HKEY_CLASSES_ROOT, u"Machine.Class", nullptr), u"user override");
  EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, u"Machine.Class"), ERROR_SUCCESS);
  EXPECT_EQ(regText(HKEY_CLASSES_ROOT, u"Machine.Class", nullptr), u"machine value");
}

TEST_F(ClassesRoot, OverrideSendsClassesToTheUserForThisProcess) {
  Key userClasses;
  ASSERT_EQ(create(HKEY_CURRENT_USER, u"Software\\Classes", userClasses), ERROR_SUCCESS);
  ASSERT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, userClasses), ERROR_SUCCESS);
  // The override keeps its own copy of the key.
  RegCloseKey(*userClasses.out());
  *userClasses.out() = nullptr;
  make(HKEY_CLASSES_ROOT, u"Per.User\\CLSID", u"{user}");
  make(HKEY_LOCAL_MACHINE, u"Software\\Classes\\Machine.Class");
  Key machineClass;
  EXPECT_EQ(open(HKEY_CLASSES_ROOT, u"Machine.Class", machineClass), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr), ERROR_SUCCESS);

  EXPECT_EQ(regText(HKEY_CURRENT_USER, u"Software\\Classes\\Per.User\\CLSID", nullptr), u"{user}");
  EXPECT_EQ(readText(machineFile()).find("Per.User"), std::string::npos);
  EXPECT_EQ(open(HKEY_CLASSES_ROOT, u"Machine.Class", machineClass), ERROR_SUCCESS);
  EXPECT_EQ(RegOverridePredefKey(reinterpret_cast<HKEY>(0x1234), nullptr), ERROR_INVALID_HANDLE);
}

// ---- Two processes ------------------------------------------------------------------

TEST_F(Registry, TwoProcessesWritingAtOnceKeepEveryChange) {
  constexpr int perProcess = 40;
  {
    Key race;
    ASSERT_EQ(create(HKEY_CURRENT_USER, u"Software\\Race", race), ERROR_SUCCESS);
    // This process has now read the hive; it must see the others' changes.
    EXPECT_TRUE(subkeys(race).empty());
  }
  pid_t children[2];
  for (int p = 0; p < 2; ++p) {
    children[p] = fork();
    ASSERT_GE(children[p], 0);
    if (children[p] == 0) {
      int failures = 0;
      for (int i = 0; i < perProcess; ++i) {
        std::string name = "Software\\Race\\p" + std::to_string(p) + "_" + std::to_string(i);
        std::u16string path(name.begin(), name.end());
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr) != ERROR_SUCCESS) {
          ++failures;
          continue;
        }
        DWORD value = static_cast<DWORD>(i);
        if (RegSetValueExW(key, u"i", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4) != ERROR_SUCCESS)
          ++failures;
        RegCloseKey(key);
      }
      _exit(failures == 0 ? 0 : 1);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  Key race;
  ASSERT_EQ(open(HKEY_CURRENT_USER, u"Software\\Race", race), ERROR_SUCCESS);
  EXPECT_EQ(subkeys(race).size(), 2u * perProcess);
  Key last;
  ASSERT_EQ(open(HKEY_CURRENT_USER, u"Software\\Race\\p1_39", last), ERROR_SUCCESS);
  DWORD value = 0, size = 4;
  EXPECT_EQ(RegQueryValueExW(last, u"i", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
  EXPECT_EQ(value, 39u);
  // Only the hives and their lock files remain: no temporary file is left.
  for (const auto& entry : std::filesystem::directory_iterator(prefix_ / "registry")) {
    std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "user.reg" || name == "user.reg.lock") << name;
  }
}

TEST_F(Registry, WriterKilledMidWayLeavesAWholeHiveAndNoLock) {
  for (int round = 0; round < 3; ++round) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Rewrites the hive as fast as it can until it is killed.
      HKEY key = nullptr;
      RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Killed", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
      std::vector<BYTE> data(20000, static_cast<BYTE>(round));
      for (DWORD i = 0; i < 100000; ++i) {
        data[0] = static_cast<BYTE>(i);
        RegSetValueExW(key, u"big", 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
      }
      _exit(0);
    }
    usleep(150000 + 50000 * round);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);

    // The hive parses, and the dead writer's lock is gone with it; a
    // temporary file it may have left is removed by the next writer, and
    // only that: a file of the user's of the same length stays.
    tvtest::writeFile(userFile() + ".tellvane-write-Xy12Zq", "half a hive");
    tvtest::writeFile(userFile() + ".backup", "the user's own");
    Key key;
    ASSERT_EQ(create(HKEY_CURRENT_USER, u"Software\\Killed", key), ERROR_SUCCESS);
    setString(key, u"after", u"written");
    EXPECT_EQ(regText(HKEY_CURRENT_USER, u"Software\\Killed", u"after"), u"written");
    for (const auto& entry : std::filesystem::directory_iterator(prefix_ / "registry")) {
      std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == "user.reg" || name == "user.reg.lock" || name == "user.reg.backup") << name;
    }
  }
}

}  // namespace
