// `tellvane register` and `tellvane call`.
#include "component.h"

#include "commands.h"
#include "options.h"

#include <nlohmann/json.hpp>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <stdexcept>

namespace tool {

namespace {

namespace fs = std::filesystem;

// A loaded library, freed with the object.
class Library {
 public:
  explicit Library(const std::string& path) : module_(LoadLibraryW(automation::toUtf16(path).c_str())) {
    if (module_ == nullptr)
      throw std::runtime_error("cannot load " + path + ": " +
                               automation::hresultText(HRESULT_FROM_WIN32(GetLastError())));
  }
  ~Library() { FreeLibrary(module_); }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  template <class Function>
  Function entry(const char* name) const {
    FARPROC found = GetProcAddress(module_, name);
    if (found == nullptr) throw std::runtime_error(std::string("the library exports no ") + name);
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
  }

 private:
  HMODULE module_;
};

// COM for the registration's type library work, as regsvr32 has it.
class ComScope {
 public:
  ComScope() : initialised_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ComScope() {
    if (initialised_) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  bool initialised_;
};

fs::path commandFolder() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (error) throw std::runtime_error("cannot find where the tellvane command is");
  return self.parent_path();
}

}  // namespace

std::string installedComponent() {
  const fs::path folder = commandFolder();
  for (const char* relative : {TELLVANE_COMPONENT_INSTALLED, TELLVANE_COMPONENT_BUILT}) {
    if (*relative == '\0') continue;
    const fs::path candidate = (folder / relative).lexically_normal();
    std::error_code error;
    if (fs::is_regular_file(candidate, error)) return candidate.string();
  }
  throw std::runtime_error("the component is not installed beside " + folder.string() + "; name its library");
}

HRESULT registerComponent(const std::string& library, Registration scope, bool unregister) {
  ComScope com;
  // The registry keeps the full path: a relative one would name another
  // file from another folder.
  const Library component(fs::absolute(library).lexically_normal().string());
  if (scope == Registration::User) {
    const auto install = component.entry<HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR)>("DllInstall");
    return install(unregister ? FALSE : TRUE, u"user");
  }
  return component.entry<HRESULT(STDAPICALLTYPE*)()>(unregister ? "DllUnregisterServer" : "DllRegisterServer")();
}

std::string callComponent(const std::string& method, const std::vector<automation::Argument>& arguments) {
  try {
    automation::AutomationClient client(kProgId);
    return client.call(method, arguments);
  } catch (const automation::ComError& error) {
    if (error.code() != CO_E_CLASSSTRING && error.code() != REGDB_E_CLASSNOTREG) throw;
    throw std::runtime_error(std::string(error.what()) + " (tellvane register [--user] registers the component)");
  }
}

bool isFailureEnvelope(const std::string& text) {
  const nlohmann::json envelope = nlohmann::json::parse(text, nullptr, false);
  return envelope.is_object() && envelope.contains("success") && envelope["success"] == false;
}

int runRegister(const Arguments& args) {
  const ParsedArguments parsed = parseArguments(args, {{"user", false}, {"unregister", false}}, 0, 1);
  const std::string library = parsed.positional.empty() ? installedComponent() : parsed.positional[0];
  const Registration scope = parsed.has("user") ? Registration::User : Registration::Machine;
  const bool unregister = parsed.has("unregister");
  const HRESULT result = registerComponent(library, scope, unregister);
  const char* call = scope == Registration::User
                         ? (unregister ? "DllInstall(FALSE, \"user\")" : "DllInstall(TRUE, \"user\")")
                         : (unregister ? "DllUnregisterServer" : "DllRegisterServer");
  std::printf("%s in %s: %s\n", call, library.c_str(), automation::hresultText(result).c_str());
  return SUCCEEDED(result) ? 0 : 1;
}

int runCall(const Arguments& args) {
  const ParsedArguments parsed = parseArguments(args, {{"null", true}}, 1, SIZE_MAX);
  std::set<size_t> nulls;
  for (auto [it, end] = parsed.options.equal_range("null"); it != end; ++it) {
    size_t used = 0;
    unsigned long position = 0;
    try {
      position = std::stoul(it->second, &used);
    } catch (const std::exception&) {
    }
    if (used != it->second.size() || position == 0) throw UsageError("--null takes an argument's number, from 1");
    nulls.insert(position);
  }
  // The texts fill the places that are not null, in order.
  const size_t count = parsed.positional.size() - 1 + nulls.size();
  if (!nulls.empty() && *nulls.rbegin() > count)
    throw UsageError("--null " + std::to_string(*nulls.rbegin()) + " names no argument");
  std::vector<automation::Argument> arguments;
  auto text = parsed.positional.begin() + 1;
  for (size_t position = 1; position <= count; ++position) {
    if (nulls.count(position))
      arguments.emplace_back(std::nullopt);
    else
      arguments.emplace_back(*text++);
  }
  const std::string result = callComponent(parsed.positional[0], arguments);
  std::printf("%s\n", result.c_str());
  return isFailureEnvelope(result) ? 1 : 0;
}

}  // namespace tool
