#include "keyfolder.h"

#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>

namespace testprovider {

namespace {

const char* const kSpecNames[] = {"exchange", "signature"};

// A container's name becomes a file name: letters, digits, blanks, dots,
// hyphens and underscores, not starting with a dot.
std::string containerPath(const std::string& folder, const std::string& name) {
  bool valid = !name.empty() && name.size() <= 200 && name[0] != '.';
  for (char c : name) valid = valid && (isalnum(static_cast<unsigned char>(c)) || c == ' ' || c == '.' || c == '-' || c == '_');
  if (!valid) throw Failure{static_cast<DWORD>(NTE_BAD_KEYSET_PARAM)};
  return folder + "\\" + name + ".key";
}

size_t specIndex(DWORD keySpec) {
  if (keySpec != AT_KEYEXCHANGE && keySpec != AT_SIGNATURE) throw Failure{static_cast<DWORD>(NTE_BAD_KEY)};
  return keySpec - AT_KEYEXCHANGE;
}

}  // namespace

Container::Container(const std::string& folder, const std::string& name) : path_(containerPath(folder, name)) {
  std::ifstream file(path_, std::ios::binary);
  if (!file) throw Failure{static_cast<DWORD>(NTE_BAD_KEYSET)};
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  gcry_sexp_t parsed = nullptr;
  if (gcry_sexp_sscan(&parsed, nullptr, text.data(), text.size()) != 0)
    throw Failure{static_cast<DWORD>(NTE_KEYSET_ENTRY_BAD)};
  const Sexp container(parsed);
  for (size_t i = 0; i < 2; ++i) {
    const Sexp entry = container.find(kSpecNames[i]);
    if (entry.get() == nullptr) continue;
    const Sexp pin = entry.find("pin");
    keys_[i].reset(new StoredKey{Key(entry.find("curve").text(1), entry.find("d").text(1)), pin.get() != nullptr,
                                 pin.text(1)});
  }
}

void Container::create(const std::string& folder, const std::string& name) {
  const std::string path = containerPath(folder, name);
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    throw Failure{static_cast<DWORD>(GetLastError() == ERROR_FILE_EXISTS ? NTE_EXISTS : NTE_FAIL)};
  DWORD written = 0;
  const BOOL wrote = WriteFile(file, "(container)\n", 12, &written, nullptr);
  CloseHandle(file);
  if (!wrote) throw Failure{static_cast<DWORD>(NTE_FAIL)};
}

void Container::remove(const std::string& folder, const std::string& name) {
  if (!DeleteFileA(containerPath(folder, name).c_str())) throw Failure{static_cast<DWORD>(NTE_BAD_KEYSET)};
}

std::vector<std::string> Container::list(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*.key").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string file = found.cFileName;
    names.push_back(file.substr(0, file.size() - 4));
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

const StoredKey* Container::key(DWORD keySpec) const { return keys_[specIndex(keySpec)].get(); }

void Container::setKey(DWORD keySpec, const Key& key) {
  keys_[specIndex(keySpec)].reset(new StoredKey{key, false, std::string()});
  save();
}

void Container::save() const {
  std::ostringstream text;
  text << "(container";
  for (size_t i = 0; i < 2; ++i) {
    if (!keys_[i]) continue;
    text << "\n (" << kSpecNames[i] << " (curve \"" << keys_[i]->key.curve() << "\") (d \""
         << keys_[i]->key.privateHex() << "\")";
    if (keys_[i]->protectedByPin) text << " (pin \"" << keys_[i]->pin << "\")";
    text << ")";
  }
  text << ")\n";
  std::ofstream file(path_, std::ios::binary | std::ios::trunc);
  file << text.str();
  if (!file.flush()) throw Failure{static_cast<DWORD>(NTE_FAIL)};
}

}  // namespace testprovider
