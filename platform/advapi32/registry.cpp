// advapi32 registry over the two hive files (internal/hive.h).
//
// An open key is its place: a root (the machine hive, the user hive or the
// merged classes view) and a path of names below it. Every call reads the
// hive anew, so that what another process wrote is seen at once; a key
// that has gone since it was opened gives ERROR_KEY_DELETED.
//
// HKEY_CLASSES_ROOT merges HKCU\Software\Classes over HKLM\Software\Classes
// as Windows documents it: a key of the user's classes hides the machine's
// key of the same path, values and subkeys both, except at the few keys
// both trees share (the root, CLSID, Interface, TypeLib, ...), whose
// subkeys are the union of the two. A value is written where the key is
// seen (the user's key when there is one); a new key is made in the
// machine's classes, unless its parent is a user key that hides the
// machine's, where the new key would be invisible: it is then made beside
// its parent in the user's classes.
#include "advapi32/hive.h"
#include "advapi32/regfile.h"
#include "internal/win32call.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>

namespace tv {

namespace {

using Path = std::vector<std::u16string>;

const Path classesPath = {u"Software", u"Classes"};

enum class Root { Machine, User, Classes };

struct Location {
  Root root;
  Path path;
};

// ---- Handles ------------------------------------------------------------------

struct KeyHandle {
  Location location;
};

class Handles {
 public:
  HKEY add(Location location) {
    auto handle = std::make_unique<KeyHandle>(KeyHandle{std::move(location)});
    std::lock_guard<std::mutex> guard(mutex_);
    live_.insert(handle.get());
    return reinterpret_cast<HKEY>(handle.release());
  }

  std::optional<Location> find(HKEY key) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = live_.find(reinterpret_cast<KeyHandle*>(key));
    if (it == live_.end()) return std::nullopt;
    return (*it)->location;
  }

  bool close(HKEY key) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = live_.find(reinterpret_cast<KeyHandle*>(key));
    if (it == live_.end()) return false;
    delete *it;
    live_.erase(it);
    return true;
  }

 private:
  std::mutex mutex_;
  std::set<KeyHandle*> live_;
};

Handles& handles() {
  static Handles* table = new Handles;  // outlives every static destructor that may close a key
  return *table;
}

// The predefined keys this registry has, and their per-process overrides.
const HKEY predefined[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};

std::mutex overrideMutex;
std::optional<Location> overrides[3];

int predefinedIndex(HKEY key) {
  for (int i = 0; i < 3; ++i)
    if (predefined[i] == key) return i;
  return -1;
}

bool isPredefinedRange(HKEY key) {
  auto value = reinterpret_cast<ULONG_PTR>(key);
  return value >= reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT) &&
         value <= reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT) + 6;
}

Location locationOf(HKEY key) {
  int index = predefinedIndex(key);
  if (index >= 0) {
    std::lock_guard<std::mutex> guard(overrideMutex);
    if (overrides[index]) return *overrides[index];
    return Location{index == 0 ? Root::Classes : index == 1 ? Root::User : Root::Machine, {}};
  }
  // HKEY_USERS, HKEY_CURRENT_CONFIG and the others are not kept.
  if (isPredefinedRange(key)) fail(ERROR_INVALID_HANDLE);
  std::optional<Location> location = handles().find(key);
  if (!location) fail(ERROR_INVALID_HANDLE);
  return *location;
}

// ---- Names --------------------------------------------------------------------

// A subkey path: names between backslashes; a trailing backslash is
// allowed, an empty name within the path is not.
Path parsePath(LPCWSTR subKey) {
  Path path;
  if (subKey == nullptr) return path;
  std::u16string text(subKey);
  if (!text.empty() && text.back() == u'\\') text.pop_back();
  if (text.empty()) return path;
  size_t start = 0;
  while (true) {
    size_t end = text.find(u'\\', start);
    std::u16string name = text.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start);
    require(!name.empty() && name.size() <= kMaxKeyName && isStorableName(name));
    path.push_back(std::move(name));
    if (end == std::u16string::npos) return path;
    start = end + 1;
  }
}

Path joined(const Path& a, const Path& b) {
  Path out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

std::u16string valueName(LPCWSTR name) {
  std::u16string text = name == nullptr ? std::u16string() : std::u16string(name);
  require(isStorableName(text));
  return text;
}

// ---- The merged classes view ----------------------------------------------------

// The keys of both trees whose immediate subkeys are merged.
bool isMergePoint(const Path& path) {
  static const std::set<std::u16string> points = {
      u"",
      u"*",
      u"*\\SHELLEX",
      u"*\\SHELLEX\\CONTEXTMENUHANDLERS",
      u"*\\SHELLEX\\PROPERTYSHEETHANDLERS",
      u"APPID",
      u"CLSID",
      u"COMPONENT CATEGORIES",
      u"DRIVE",
      u"DRIVE\\SHELLEX",
      u"DRIVE\\SHELLEX\\CONTEXTMENUHANDLERS",
      u"DRIVE\\SHELLEX\\PROPERTYSHEETHANDLERS",
      u"FILETYPE",
      u"FOLDER",
      u"FOLDER\\SHELLEX",
      u"FOLDER\\SHELLEX\\COLUMNHANDLERS",
      u"FOLDER\\SHELLEX\\CONTEXTMENUHANDLERS",
      u"FOLDER\\SHELLEX\\DRAGDROPHANDLERS",
      u"FOLDER\\SHELLEX\\PROPERTYSHEETHANDLERS",
      u"INTERFACE",
      u"MIME",
      u"MIME\\DATABASE",
      u"MIME\\DATABASE\\CHARSET",
      u"MIME\\DATABASE\\CODEPAGE",
      u"MIME\\DATABASE\\CONTENT TYPE",
      u"TYPELIB",
  };
  std::u16string joinedPath;
  for (const auto& name : path) joinedPath += (joinedPath.empty() ? u"" : u"\\") + registryFold(name);
  return points.count(joinedPath) > 0;
}

// A classes key as seen: the user's key (or null) and the machine's key when
// its content shows (or null).
struct ClassesKey {
  const RegKey* user;
  const RegKey* machine;
  bool exists() const { return user != nullptr || machine != nullptr; }
  const RegKey* valueSource() const { return user != nullptr ? user : machine; }
};

bool machineShowsBelow(const RegKey* user, const Path& path) { return user == nullptr || isMergePoint(path); }

ClassesKey resolveClasses(const RegKey& userHive, const RegKey& machineHive, const Path& path) {
  const RegKey* user = findKey(userHive, classesPath);
  const RegKey* machine = findKey(machineHive, classesPath);
  Path sofar;
  for (const auto& name : path) {
    bool machineShows = machineShowsBelow(user, sofar);
    user = user != nullptr ? user->child(name) : nullptr;
    machine = machine != nullptr && machineShows ? machine->child(name) : nullptr;
    sofar.push_back(name);
  }
  return ClassesKey{user, machine};
}

std::vector<std::u16string> mergedChildren(const ClassesKey& key, const Path& path) {
  std::vector<std::pair<std::u16string, std::u16string>> named;  // folded, as created
  std::set<std::u16string> seen;
  auto add = [&](const RegKey* from) {
    if (from == nullptr) return;
    for (const RegKey* child : from->children()) {
      std::u16string folded = registryFold(child->name());
      if (seen.insert(folded).second) named.emplace_back(folded, child->name());
    }
  };
  add(key.user);
  if (machineShowsBelow(key.user, path)) add(key.machine);
  std::sort(named.begin(), named.end());
  std::vector<std::u16string> names;
  for (auto& entry : named) names.push_back(std::move(entry.second));
  return names;
}

// ---- Reading and changing the hives ------------------------------------------------

Hive hiveOf(Root root) { return root == Root::Machine ? Hive::Machine : Hive::User; }

// The hives as they are now, read once each when first needed.
class Snapshot {
 public:
  const RegKey& hive(Hive which) {
    auto& slot = which == Hive::Machine ? machine_ : user_;
    if (!slot) slot = readHive(which);
    return *slot;
  }

 private:
  std::shared_ptr<const RegKey> machine_, user_;
};

// One read-modify-write of the hives a root needs, under their locks (the
// user's before the machine's, always, so two changes never wait on each
// other in a circle).
class Transaction {
 public:
  explicit Transaction(Root root) {
    if (root != Root::Machine) {
      userLock_ = std::make_unique<HiveLock>(Hive::User);
      user_ = loadHive(Hive::User);
    }
    if (root != Root::User) {
      machineLock_ = std::make_unique<HiveLock>(Hive::Machine);
      machine_ = loadHive(Hive::Machine);
    }
  }

  RegKey& hive(Hive which) { return which == Hive::Machine ? *machine_ : *user_; }
  void changed(Hive which) { (which == Hive::Machine ? machineChanged_ : userChanged_) = true; }

  void commit() {
    if (userChanged_) userLock_->store(*user_);
    if (machineChanged_) machineLock_->store(*machine_);
  }

 private:
  std::unique_ptr<HiveLock> userLock_, machineLock_;
  std::unique_ptr<RegKey> user_, machine_;
  bool userChanged_ = false, machineChanged_ = false;
};

// Where a key of a location physically is: its hive and full path there.
struct Place {
  Hive hive;
  Path path;
};

// The key whose values a location shows, or null when it does not exist.
template <class Hives>
const RegKey* valueKey(Hives& hives, const Location& location) {
  if (location.root != Root::Classes) return findKey(hives.hive(hiveOf(location.root)), location.path);
  ClassesKey key = resolveClasses(hives.hive(Hive::User), hives.hive(Hive::Machine), location.path);
  return key.valueSource();
}

// The place where a location's values are changed; fails with
// ERROR_KEY_DELETED when the key is not there.
Place valuePlace(Transaction& tx, const Location& location) {
  if (location.root != Root::Classes) {
    require(findKey(tx.hive(hiveOf(location.root)), location.path) != nullptr, ERROR_KEY_DELETED);
    return Place{hiveOf(location.root), location.path};
  }
  ClassesKey key = resolveClasses(tx.hive(Hive::User), tx.hive(Hive::Machine), location.path);
  require(key.exists(), ERROR_KEY_DELETED);
  return Place{key.user != nullptr ? Hive::User : Hive::Machine, joined(classesPath, location.path)};
}

// Whether a location's key is there (the classes root always is).
template <class Hives>
bool exists(Hives& hives, const Location& location) {
  if (location.root == Root::Classes && location.path.empty()) return true;
  return valueKey(hives, location) != nullptr;
}

Path head(const Path& path, size_t count) { return Path(path.begin(), path.begin() + static_cast<long>(count)); }

std::vector<std::u16string> childNames(Snapshot& snapshot, const Location& location) {
  if (location.root != Root::Classes) {
    const RegKey* key = findKey(snapshot.hive(hiveOf(location.root)), location.path);
    require(key != nullptr, ERROR_KEY_DELETED);
    std::vector<std::u16string> names;
    for (const RegKey* child : key->children()) names.push_back(child->name());
    return names;
  }
  ClassesKey key = resolveClasses(snapshot.hive(Hive::User), snapshot.hive(Hive::Machine), location.path);
  require(location.path.empty() || key.exists(), ERROR_KEY_DELETED);
  return mergedChildren(key, location.path);
}

// The hive where new keys below an existing classes key are made.
Hive creationHive(Transaction& tx, const Path& parent) {
  ClassesKey key = resolveClasses(tx.hive(Hive::User), tx.hive(Hive::Machine), parent);
  return machineShowsBelow(key.user, parent) ? Hive::Machine : Hive::User;
}

// Makes the missing keys of a path; true when the last one was made.
bool makePath(RegKey& hive, const Path& path) {
  RegKey* key = &hive;
  bool created = false;
  for (const auto& name : path) key = &key->makeChild(name, &created);
  return created;
}

// Makes a key and its missing parents below an existing key; true when the
// key was made, false when it was there already.
bool createKey(const Location& parent, const Location& location) {
  Transaction tx(location.root);
  require(exists(tx, parent), ERROR_KEY_DELETED);
  if (location.root != Root::Classes) {
    bool created = makePath(tx.hive(hiveOf(location.root)), location.path);
    if (created) tx.changed(hiveOf(location.root));
    tx.commit();
    return created;
  }
  // The deepest part of the path that is seen already.
  size_t seen = location.path.size();
  while (seen > 0 && !exists(tx, Location{Root::Classes, head(location.path, seen)})) --seen;
  if (seen == location.path.size()) return false;
  Hive hive = creationHive(tx, head(location.path, seen));
  makePath(tx.hive(hive), joined(classesPath, location.path));
  tx.changed(hive);
  tx.commit();
  return true;
}

// The parent of a key that is to be deleted, and the key's place.
struct Doomed {
  RegKey* parent;
  std::u16string name;
  Hive hive;
};

Doomed findDoomed(Transaction& tx, const Location& location) {
  require(!location.path.empty(), ERROR_ACCESS_DENIED);  // a hive's root stays
  Place place{hiveOf(location.root), location.path};
  if (location.root == Root::Classes) {
    ClassesKey key = resolveClasses(tx.hive(Hive::User), tx.hive(Hive::Machine), location.path);
    require(key.exists(), ERROR_FILE_NOT_FOUND);
    place = Place{key.user != nullptr ? Hive::User : Hive::Machine, joined(classesPath, location.path)};
  }
  RegKey* parent = findKey(tx.hive(place.hive), head(place.path, place.path.size() - 1));
  require(parent != nullptr && parent->child(place.path.back()) != nullptr, ERROR_FILE_NOT_FOUND);
  return Doomed{parent, place.path.back(), place.hive};
}

bool hasSubkeys(Transaction& tx, const Location& location, const Doomed& doomed) {
  if (location.root != Root::Classes) return doomed.parent->child(doomed.name)->hasChildren();
  ClassesKey key = resolveClasses(tx.hive(Hive::User), tx.hive(Hive::Machine), location.path);
  return !mergedChildren(key, location.path).empty();
}

// Registry functions return their error instead of setting the last error.
template <class Body>
LSTATUS registryCall(Body&& body) noexcept {
  try {
    body();
    return ERROR_SUCCESS;
  } catch (const Win32Failure& f) {
    return static_cast<LSTATUS>(f.code);
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (...) {
    return ERROR_GEN_FAILURE;
  }
}

}  // namespace

}  // namespace tv

using namespace tv;

LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                               REGSAM samDesired, const LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                               PHKEY phkResult, LPDWORD lpdwDisposition) {
  (void)lpClass, (void)dwOptions, (void)samDesired, (void)lpSecurityAttributes;
  if (phkResult == nullptr) return ERROR_BADKEY;
  return registryCall([&] {
    require(Reserved == 0);
    Location parent = locationOf(hKey);
    Location location{parent.root, joined(parent.path, parsePath(lpSubKey))};
    // Windows' limit, from the hive's root (classes live two levels down).
    const size_t depth = location.path.size() + (location.root == Root::Classes ? classesPath.size() : 0);
    require(depth <= kMaxKeyDepth, ERROR_NO_SYSTEM_RESOURCES);
    bool created = createKey(parent, location);
    *phkResult = handles().add(std::move(location));
    if (lpdwDisposition != nullptr) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  });
}

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
  (void)ulOptions, (void)samDesired;
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  // A predefined key opened without a subkey is that key itself.
  if ((lpSubKey == nullptr || lpSubKey[0] == 0) && predefinedIndex(hKey) >= 0) {
    *phkResult = hKey;
    return ERROR_SUCCESS;
  }
  // The classes root alone allows one leading backslash.
  if (hKey == HKEY_CLASSES_ROOT && lpSubKey != nullptr && lpSubKey[0] == u'\\') ++lpSubKey;
  return registryCall([&] {
    Location parent = locationOf(hKey);
    Location location{parent.root, joined(parent.path, parsePath(lpSubKey))};
    Snapshot snapshot;
    require(exists(snapshot, parent), ERROR_KEY_DELETED);
    require(exists(snapshot, location), ERROR_FILE_NOT_FOUND);
    *phkResult = handles().add(std::move(location));
  });
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
  if (predefinedIndex(hKey) >= 0 || isPredefinedRange(hKey)) return ERROR_SUCCESS;
  return handles().close(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                              DWORD cbData) {
  (void)Reserved;
  return registryCall([&] {
    require(lpData != nullptr || cbData == 0, ERROR_NOACCESS);
    Location location = locationOf(hKey);
    RegValue value{valueName(lpValueName), dwType, std::vector<BYTE>(lpData, lpData + cbData)};
    Transaction tx(location.root);
    Place place = valuePlace(tx, location);
    findKey(tx.hive(place.hive), place.path)->setValue(std::move(value));
    tx.changed(place.hive);
    tx.commit();
  });
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData) {
  return registryCall([&] {
    require((lpData == nullptr || lpcbData != nullptr) && lpReserved == nullptr);
    Location location = locationOf(hKey);
    Snapshot snapshot;
    const RegKey* key = valueKey(snapshot, location);
    if (key == nullptr) {
      // The classes root shows no values when neither tree has one.
      require(location.root == Root::Classes && location.path.empty(), ERROR_KEY_DELETED);
      fail(ERROR_FILE_NOT_FOUND);
    }
    const RegValue* value = key->value(valueName(lpValueName));
    require(value != nullptr, ERROR_FILE_NOT_FOUND);
    if (lpType != nullptr) *lpType = value->type;
    if (lpcbData == nullptr) return;
    DWORD room = *lpcbData;
    copyOut(value->data.data(), static_cast<DWORD>(value->data.size()), lpData, lpcbData);
    // A string stored without its terminating zero gets one in the
    // caller's buffer when there is room for it, as Windows does.
    DWORD size = *lpcbData;
    bool text = value->type == REG_SZ || value->type == REG_EXPAND_SZ || value->type == REG_MULTI_SZ;
    if (lpData != nullptr && text && size >= sizeof(WCHAR) && size + sizeof(WCHAR) <= room &&
        (lpData[size - 2] != 0 || lpData[size - 1] != 0)) {
      lpData[size] = 0;
      lpData[size + 1] = 0;
    }
  });
}

LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  return registryCall([&] {
    Location location = locationOf(hKey);
    std::u16string name = valueName(lpValueName);
    Transaction tx(location.root);
    Place place = valuePlace(tx, location);
    require(findKey(tx.hive(place.hive), place.path)->removeValue(name), ERROR_FILE_NOT_FOUND);
    tx.changed(place.hive);
    tx.commit();
  });
}

LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  return registryCall([&] {
    require(lpSubKey != nullptr);
    Location parent = locationOf(hKey);
    Location location{parent.root, joined(parent.path, parsePath(lpSubKey))};
    Transaction tx(location.root);
    Doomed doomed = findDoomed(tx, location);
    require(!hasSubkeys(tx, location, doomed), ERROR_ACCESS_DENIED);
    doomed.parent->removeChild(doomed.name);
    tx.changed(doomed.hive);
    tx.commit();
  });
}

LSTATUS WINAPI RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) {
  return registryCall([&] {
    Location parent = locationOf(hKey);
    Location location{parent.root, joined(parent.path, parsePath(lpSubKey))};
    Transaction tx(location.root);
    if (lpSubKey != nullptr) {
      Doomed doomed = findDoomed(tx, location);
      doomed.parent->removeChild(doomed.name);
      tx.changed(doomed.hive);
    } else if (valueKey(tx, location) != nullptr) {
      // Without a subkey the key itself stays, emptied of values and subkeys.
      Place place = valuePlace(tx, location);
      RegKey* key = findKey(tx.hive(place.hive), place.path);
      key->removeAllChildren();
      key->removeAllValues();
      tx.changed(place.hive);
    } else {
      require(exists(tx, location), ERROR_KEY_DELETED);
    }
    tx.commit();
  });
}

LSTATUS WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                             LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  return registryCall([&] {
    require(lpName != nullptr && lpcchName != nullptr && lpReserved == nullptr);
    Location location = locationOf(hKey);
    Snapshot snapshot;
    std::vector<std::u16string> names = childNames(snapshot, location);
    require(dwIndex < names.size(), ERROR_NO_MORE_ITEMS);
    const std::u16string& name = names[dwIndex];
    require(name.size() < *lpcchName, ERROR_MORE_DATA);
    std::memcpy(lpName, name.data(), name.size() * sizeof(WCHAR));
    lpName[name.size()] = 0;
    *lpcchName = static_cast<DWORD>(name.size());
    // Keys have no class names here, and no write times are kept.
    if (lpClass != nullptr && lpcchClass != nullptr && *lpcchClass > 0) lpClass[0] = 0;
    if (lpcchClass != nullptr) *lpcchClass = 0;
    if (lpftLastWriteTime != nullptr) *lpftLastWriteTime = FILETIME{0, 0};
  });
}

LSTATUS WINAPI RegOverridePredefKey(HKEY hKey, HKEY hNewHKey) {
  return registryCall([&] {
    int index = predefinedIndex(hKey);
    require(index >= 0, ERROR_INVALID_HANDLE);
    std::optional<Location> target;
    if (hNewHKey != nullptr) target = locationOf(hNewHKey);
    std::lock_guard<std::mutex> guard(overrideMutex);
    overrides[index] = std::move(target);
  });
}
