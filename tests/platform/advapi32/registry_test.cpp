// The registry: keys and values kept in .reg hive files under the prefix.
#include <windows.h>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "support/comtest.h"
#include "support/tempprefix.h"

namespace {

using comtest::regText;

std::vector<BYTE> bytesOf(const std::u16string& text, bool terminated = true) {
  std::vector<BYTE> out;
  for (char16_t c : text) out.insert(out.end(), {static_cast<BYTE>(c & 0xFF), static_cast<BYTE>(c >> 8)});
  if (terminated) out.insert(out.end(), {0, 0});
  return out;
}

// An open key that closes itself.
class Key {
 public:
  Key() = default;
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
  // Creates root\path, with a default value when one is given.
  void make(HKEY root, const std::u16string& path, const char16_t* value = nullptr) {
    Key key;
    ASSERT_EQ(create(root, path, key), ERROR_SUCCESS);
    if (value != nullptr) setString(key, nullptr, value);
  }
  void setString(HKEY key, const char16_t* name, const std::u16string& text) {
    std::vector<BYTE> data = bytesOf(text);
    ASSERT_EQ(RegSetValueExW(key, name, 0, REG_SZ, data.data(), static_cast<DWORD>(data.size())), ERROR_SUCCESS);
  }
  std::vector<std::u16string> subkeys(HKEY root, const std::u16string& path = u"") {
    Key key;
    EXPECT_EQ(RegOpenKeyExW(root, path.empty() ? nullptr : path.c_str(), 0, KEY_READ, key.out()), ERROR_SUCCESS);
    std::vector<std::u16string> names;
    for (DWORD i = 0;; ++i) {
      WCHAR name[256];
      DWORD length = 256;
      if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.emplace_back(name, length);
    }
    return names;
  }
  // Every file of the registry folder is one of these.
  void expectOnlyFiles(const std::vector<std::string>& allowed) {
    for (const auto& entry : std::filesystem::directory_iterator(prefix_ / "registry")) {
      const std::string name = entry.path().filename().string();
      EXPECT_NE(std::find(allowed.begin(), allowed.end(), name), allowed.end()) << name;
    }
  }
  std::string machineFile() { return prefix_ / "registry/machine.reg"; }
  std::string userFile() { return prefix_ / "registry/user.reg"; }

  tvtest::TempPrefix prefix_;
};

TEST_F(Registry, EveryValueTypeAndOddNamesSurviveTheHiveFile) {
  std::vector<BYTE> longBinary(300);
  for (size_t i = 0; i < longBinary.size(); ++i) longBinary[i] = static_cast<BYTE>(i * 7);
  const struct {
    const char16_t* name;
    DWORD type;
    std::vector<BYTE> data;
  } cases[] = {
      {u"", REG_SZ, bytesOf(u"")},  // an empty default value
      {u"quote\"and\\backslash", REG_SZ, bytesOf(u"C:\\Program Files\\\"x\"\\ {braces} [brackets] = ; #")},
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
  const std::u16string path = u"Software\\Tellvane Test\\{Odd] [Key}\\Ключ";
  {
    Key key;
    ASSERT_EQ(create(HKEY_CURRENT_USER, path, key), ERROR_SUCCESS);
    for (const auto& c : cases)
      ASSERT_EQ(RegSetValueExW(key, c.name, 0, c.type, c.data.data(), static_cast<DWORD>(c.data.size())),
                ERROR_SUCCESS);
  }
  Key key;
  ASSERT_EQ(open(HKEY_CURRENT_USER, path, key), ERROR_SUCCESS);
  for (const auto& c : cases) {
    std::vector<BYTE> data(400);
    DWORD size = static_cast<DWORD>(data.size()), type = 0xFFFF;
    ASSERT_EQ(RegQueryValueExW(key, c.name, nullptr, &type, data.data(), &size), ERROR_SUCCESS);
    data.resize(size);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(data, c.data);
  }
  // The hive is regedit's text.
  const std::string text = tvtest::readFile(userFile());
  EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\r\n\r\n", 0), 0u);
  for (const char* line : {"[HKEY_CURRENT_USER\\Software\\Tellvane Test\\{Odd] [Key}\\Ключ]\r\n", "\r\n@=\"\"\r\n",
                           "\"quote\\\"and\\\\backslash\"=\"C:\\\\Program Files\\\\\\\"x\\\"\\\\ {braces}",
                           "\"qword\"=hex(b):01,02,03,04,05,06,07,ff\r\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << "\nin\n" << text;
}

TEST_F(Registry, ReadsWhatRegeditExports) {
  // Regedit's own export: UTF-16 with a byte-order mark, comments, hex data
  // over several lines.
  const std::u16string exported =
      u"\uFEFFWindows Registry Editor Version 5.00\r\n\r\n"
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{11A0581C-505A-4F0C-8AB3-D777BFB3C3BB}]\r\n"
      u"@=\"C:\\\\Tellvane\\\\Tellvane.dll\"\r\n"
      u"; a comment\r\n"
      u"\"Paths\"=hex(7):41,00,00,00,\\\r\n  42,00,00,00,00,00\r\n";
  std::string bytes;
  for (char16_t c : exported) bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  tvtest::writeFile(machineFile(), bytes);
  const std::u16string clsid = u"CLSID\\{11a0581c-505a-4f0c-8ab3-d777bfb3c3bb}";
  EXPECT_EQ(regText(HKEY_CLASSES_ROOT, clsid), u"C:\\Tellvane\\Tellvane.dll");
  Key key;
  ASSERT_EQ(open(HKEY_CLASSES_ROOT, clsid, key), ERROR_SUCCESS);
  BYTE data[16];
  DWORD size = sizeof data;
  ASSERT_EQ(RegQueryValueExW(key, u"paths", nullptr, nullptr, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::vector<BYTE>(data, data + size), (std::vector<BYTE>{0x41, 0, 0, 0, 0x42, 0, 0, 0, 0, 0}));
}

TEST_F(Registry, NamesCompareWithoutCaseAndKeepTheirCase) {
  DWORD dispositions[2] = {};
  for (const auto& [path, name, i] : {std::tuple{u"Software\\MixedCase\\Ключ", u"ValueName", 0},
                                      {u"SOFTWARE\\mixedcase\\КЛЮЧ", u"VALUENAME", 1}}) {
    Key key;
    ASSERT_EQ(create(HKEY_LOCAL_MACHINE, path, key, &dispositions[i]), ERROR_SUCCESS);
    setString(key, name, name);
  }
  EXPECT_EQ(dispositions[0] * 10 + dispositions[1], REG_CREATED_NEW_KEY * 10u + REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE, u"software"), std::vector<std::u16string>{u"MixedCase"});
  EXPECT_NE(tvtest::readFile(machineFile()).find("[HKEY_LOCAL_MACHINE\\Software\\MixedCase\\Ключ]\r\n\"ValueName\"=\"VALUENAME\""),
            std::string::npos);
}

TEST_F(Registry, QueryValueFollowsTheSizeProtocol) {
  Key key;
  ASSERT_EQ(create(HKEY_CURRENT_USER, u"Software\\Sizes", key), ERROR_SUCCESS);
  setString(key, u"text", u"Tellvane");  // 18 bytes with the terminator
  BYTE buffer[18];
  DWORD type = 0, size = 4;
  EXPECT_EQ(RegQueryValueExW(key, u"text", nullptr, &type, buffer, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size + type, 18u + REG_SZ);
  size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExW(key, u"text", nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(key, u"missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  // A key's default value that was never set does not exist either.
  EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExW(key, u"text", nullptr, nullptr, buffer, nullptr), ERROR_INVALID_PARAMETER);

  // A string stored without its zero gets one when the buffer has room,
  // and never a byte beyond the buffer when it has not.
  ASSERT_EQ(RegSetValueExW(key, u"raw", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"abc"), 6), ERROR_SUCCESS);
  WCHAR roomy[4] = {0xcccc, 0xcccc, 0xcccc, 0xcccc};
  size = sizeof roomy;
  EXPECT_EQ(RegQueryValueExW(key, u"raw", nullptr, nullptr, reinterpret_cast<BYTE*>(roomy), &size), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(roomy) + char16_t(size), u"abc\6");
  std::vector<BYTE> tight(6);
  size = 6;
  EXPECT_EQ(RegQueryValueExW(key, u"raw", nullptr, nullptr, tight.data(), &size), ERROR_SUCCESS);
}

TEST_F(Registry, DeletingKeysValuesAndTrees) {
  Key root;
  ASSERT_EQ(create(HKEY_CURRENT_USER, u"Software\\Tree", root), ERROR_SUCCESS);
  for (const char16_t* path : {u"b\\deep\\deeper", u"A", u"c"}) make(root, path, u"x");
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
    EXPECT_EQ(RegDeleteValueW(c, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(c, nullptr), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegDeleteKeyW(root, u"c"), ERROR_SUCCESS);
    // The handle outlives its key.
    EXPECT_EQ(RegSetValueExW(c, u"v", 0, REG_BINARY, nullptr, 0), ERROR_KEY_DELETED);
    Key below;
    EXPECT_EQ(create(c, u"below", below), ERROR_KEY_DELETED);
  }
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u""), ERROR_ACCESS_DENIED);
}

TEST_F(Registry, RejectsBadHandlesAndPaths) {
  auto levels = [](size_t count) {
    std::u16string path = u"d";
    for (size_t i = 1; i < count; ++i) path += u"\\d";
    return path;
  };
  // Names of up to 255 characters, keys up to 512 levels below the hive's root.
  const struct {
    HKEY root;
    std::u16string path;
    LSTATUS status;
  } cases[] = {
      {reinterpret_cast<HKEY>(0x1234), u"x", ERROR_INVALID_HANDLE},
      {HKEY_USERS, u"x", ERROR_INVALID_HANDLE},
      {HKEY_CURRENT_USER, u"a\\\\b", ERROR_INVALID_PARAMETER},
      {HKEY_CURRENT_USER, u"line\nbreak", ERROR_INVALID_PARAMETER},
      {HKEY_CURRENT_USER, std::u16string(255, u'n'), ERROR_SUCCESS},
      {HKEY_CURRENT_USER, std::u16string(256, u'n'), ERROR_INVALID_PARAMETER},
      {HKEY_CURRENT_USER, levels(513), ERROR_NO_SYSTEM_RESOURCES},
      {HKEY_CLASSES_ROOT, levels(511), ERROR_NO_SYSTEM_RESOURCES},  // below Software\Classes
      {HKEY_CURRENT_USER, levels(5000), ERROR_NO_SYSTEM_RESOURCES},
  };
  for (const auto& c : cases) {
    Key key;
    EXPECT_EQ(create(c.root, c.path, key), c.status) << c.path.size();
  }
  make(HKEY_CURRENT_USER, levels(512), u"at the bottom");
  // The chain of empty keys above the value is written once, not once per level.
  EXPECT_LT(tvtest::readFile(userFile()).size(), 5000u);
  EXPECT_EQ(regText(HKEY_CURRENT_USER, levels(512)), u"at the bottom");
  Key key;
  EXPECT_EQ(open(HKEY_CURRENT_USER, u"Software\\Nothing", key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(0x1234)), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegSetValueExW(HKEY_CURRENT_USER, u"x", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"x", 0, nullptr, 0, KEY_READ, nullptr, nullptr, nullptr),
            ERROR_BADKEY);
  // A predefined key opened without a subkey is itself; the classes root
  // allows one leading backslash.
  HKEY same = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, &same), ERROR_SUCCESS);
  EXPECT_EQ(same, HKEY_LOCAL_MACHINE);
  make(HKEY_LOCAL_MACHINE, u"Software\\Classes\\.txt");
  EXPECT_EQ(open(HKEY_CLASSES_ROOT, u"\\.txt", key), ERROR_SUCCESS);
}

TEST_F(Registry, CorruptHiveIsReportedAndLeftAlone) {
  const std::string header = "Windows Registry Editor Version 5.00\r\n";
  std::string deep = header + "[HKEY_LOCAL_MACHINE";
  for (int i = 0; i < 300000; ++i) deep += "\\k";
  const std::string corrupt[] = {
      "",
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n",
      header + "\"value before any key\"=\"x\"\r\n",
      header + "[HKEY_CURRENT_USER\\Software]\r\n",  // another hive's key
      header + "[HKEY_LOCAL_MACHINE\\Software\r\n",
      header + "[HKEY_LOCAL_MACHINE\\Software]\r\n\"a\"=\"unterminated\r\n",
      header + "[HKEY_LOCAL_MACHINE\\Software]\r\n\"a\"=dword:123456789\r\n",
      header + "[HKEY_LOCAL_MACHINE\\Software]\r\n\"a\"=hex:1,zz\r\n",
      header + "[HKEY_LOCAL_MACHINE\\Software]\r\n\"a\"=-\r\n",
      header + "[HKEY_LOCAL_MACHINE\\Software\\\\Twice]\r\n",
      // Not UTF-8 (a CP1251 hive), and UTF-16 with a lone surrogate: never read with replacements.
      header + "[HKEY_LOCAL_MACHINE\\\xCA\xEB\xFE\xF7]\r\n",
      std::string("\xFF\xFEW\0\0\xD8", 6),
      // Names the API refuses: with NUL or CR, longer than 255, deeper than 512 levels.
      header + std::string("[HKEY_LOCAL_MACHINE\\a\0b]\r\n", 26),
      header + "[HKEY_LOCAL_MACHINE\\a]\r\n\"x\ry\"=\"v\"\r\n",
      header + "[HKEY_LOCAL_MACHINE\\" + std::string(256, 'n') + "]\r\n",
      deep.substr(0, 57 + 2 * 513) + "]\r\n",
      deep + "]\r\n",
  };
  for (const std::string& text : corrupt) {
    SCOPED_TRACE(text.substr(0, 80));
    tvtest::writeFile(machineFile(), text);
    Key key;
    EXPECT_EQ(open(HKEY_LOCAL_MACHINE, u"Software", key), ERROR_BADDB);
    EXPECT_EQ(create(HKEY_LOCAL_MACHINE, u"Software\\New", key), ERROR_BADDB);
    EXPECT_EQ(RegSetValueExW(HKEY_LOCAL_MACHINE, u"v", 0, REG_BINARY, nullptr, 0), ERROR_BADDB);
    EXPECT_EQ(tvtest::readFile(machineFile()), text);
  }
  make(HKEY_CURRENT_USER, u"Software\\Fine");  // the other hive is not touched by it
  // A FIFO in a hive's place is not waited on.
  std::filesystem::remove(machineFile());
  ASSERT_EQ(mkfifo(machineFile().c_str(), 0600), 0);
  Key key;
  EXPECT_EQ(open(HKEY_LOCAL_MACHINE, u"Software", key), ERROR_CANTREAD);
}

TEST_F(Registry, ClassesRootMergesUserClassesOverMachineClassesAndWritesWhereSeen) {
  // CLSID is merged key by key, while a class that the user has hides the
  // machine's class of that name.
  const std::u16string machine = u"Software\\Classes\\", user = machine;
  for (const char16_t* path : {u"CLSID\\2", u"CLSID\\4\\LocalServer32", u"CLSID\\7"}) make(HKEY_LOCAL_MACHINE, machine + path);
  make(HKEY_LOCAL_MACHINE, machine + u"CLSID\\4\\InprocServer32", u"machine.dll");
  make(HKEY_LOCAL_MACHINE, machine + u"Machine.Only", u"from the machine");
  make(HKEY_LOCAL_MACHINE, machine + u"Both", u"from the machine");
  for (const char16_t* path : {u"CLSID\\1", u"CLSID\\4\\LocalServer", u"CLSID\\6"}) make(HKEY_CURRENT_USER, user + path);
  make(HKEY_CURRENT_USER, user + u"Both", u"from the user");

  EXPECT_EQ(subkeys(HKEY_CLASSES_ROOT, u"CLSID"), (std::vector<std::u16string>{u"1", u"2", u"4", u"6", u"7"}));
  EXPECT_EQ(subkeys(HKEY_CLASSES_ROOT, u"CLSID\\4"), std::vector<std::u16string>{u"LocalServer"});
  EXPECT_EQ(regText(HKEY_CLASSES_ROOT, u"Both"), u"from the user");
  EXPECT_EQ(regText(HKEY_CLASSES_ROOT, u"machine.only"), u"from the machine");
  // Below a user class that hides the machine's, a new key goes beside its
  // parent; deleting takes the key that is seen, revealing the machine's.
  make(HKEY_CLASSES_ROOT, u"Both\\CurVer", u"Both.1");
  EXPECT_EQ(regText(HKEY_CURRENT_USER, user + u"Both\\CurVer"), u"Both.1");
  EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, u"Both"), ERROR_SUCCESS);
  EXPECT_EQ(regText(HKEY_CLASSES_ROOT, u"Both"), u"from the machine");
}

TEST_F(Registry, TwoProcessesWritingAtOnceKeepEveryChange) {
  make(HKEY_CURRENT_USER, u"Software\\Race");
  EXPECT_TRUE(subkeys(HKEY_CURRENT_USER, u"Software\\Race").empty());  // read now: others' changes must show
  pid_t children[2];
  for (int p = 0; p < 2; ++p) {
    children[p] = fork();
    ASSERT_GE(children[p], 0);
    if (children[p] != 0) continue;
    for (int i = 0; i < 40; ++i) {
      const std::string name = "Software\\Race\\p" + std::to_string(p) + "_" + std::to_string(i);
      HKEY key = nullptr;
      if (RegCreateKeyExW(HKEY_CURRENT_USER, std::u16string(name.begin(), name.end()).c_str(), 0, nullptr, 0,
                          KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        _exit(1);
      RegCloseKey(key);
    }
    _exit(0);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(subkeys(HKEY_CURRENT_USER, u"Software\\Race").size(), 80u);
  expectOnlyFiles({"user.reg", "user.reg.lock"});  // no temporary file is left
}

TEST_F(Registry, WriterKilledMidWayLeavesAWholeHiveAndNoLock) {
  for (int round = 0; round < 3; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {  // rewrites the hive as fast as it can until it is killed
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
    make(HKEY_CURRENT_USER, u"Software\\Killed\\After", u"written");
    EXPECT_EQ(regText(HKEY_CURRENT_USER, u"Software\\Killed\\After"), u"written");
    expectOnlyFiles({"user.reg", "user.reg.lock", "user.reg.backup"});
  }
}

}  // namespace
