// `tellvane bridge`: installs the browser bridge's native messaging host for
// a browser, and lists and revokes the answers the user gave to origins.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "commands.h"
#include "consent.h"
#include "options.h"

namespace tool {

namespace {

namespace fs = std::filesystem;

const char kHostName[] = "tellvane.bridge";
// The extension's id follows from the public key in its manifest ("key").
const char kChromiumExtensionId[] = "pgjmkplhimknlmfpfpaendndocmnpkfe";
const char kFirefoxExtensionId[] = "bridge@tellvane";

fs::path home() {
  const char* value = std::getenv("HOME");
  if (value == nullptr || *value == '\0') throw std::runtime_error("HOME is not set");
  return value;
}

fs::path configHome() {
  const char* value = std::getenv("XDG_CONFIG_HOME");
  return value != nullptr && *value == '/' ? fs::path(value) : home() / ".config";
}

// Where each browser looks for the current user's native messaging hosts.
fs::path manifestFolder(const std::string& browser) {
  if (browser == "chromium") return configHome() / "chromium/NativeMessagingHosts";
  if (browser == "chrome") return configHome() / "google-chrome/NativeMessagingHosts";
  if (browser == "edge") return configHome() / "microsoft-edge/NativeMessagingHosts";
  if (browser == "firefox") return home() / ".mozilla/native-messaging-hosts";
  throw UsageError("unknown browser '" + browser + "' (chromium, chrome, edge or firefox)");
}

fs::path programFolder() { return fs::read_symlink("/proc/self/exe").parent_path(); }

// Installed beside the command's share folder, else the source tree's.
fs::path extensionFolder() {
  fs::path installed = programFolder().parent_path() / "share/tellvane/extension";
  return fs::exists(installed / "manifest.json") ? installed : fs::path(TELLVANE_EXTENSION_DIR);
}

std::string hostManifest(const std::string& browser, const fs::path& host) {
  nlohmann::json manifest = {{"name", kHostName},
                             {"description", "Tellvane: lets the pages you allow list your certificates and sign"},
                             {"path", host.string()},
                             {"type", "stdio"}};
  if (browser == "firefox")
    manifest["allowed_extensions"] = {kFirefoxExtensionId};
  else
    manifest["allowed_origins"] = {std::string("chrome-extension://") + kChromiumExtensionId + "/"};
  return manifest.dump(2) + "\n";
}

void writeAtomically(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  fs::path temporary = path;
  temporary += ".new";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    // A full disk or a folder we may not write must not leave a cut manifest behind.
    if (!file) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      throw std::runtime_error("cannot write " + temporary.string());
    }
  }
  fs::rename(temporary, path);
}

int install(const std::string& browser, bool uninstall) {
  fs::path manifest = manifestFolder(browser) / (std::string(kHostName) + ".json");
  if (uninstall) {
    std::printf(fs::remove(manifest) ? "Removed %s\n" : "Nothing to remove at %s\n", manifest.c_str());
    return 0;
  }
  fs::path host = programFolder() / "tellvane-bridge";
  if (access(host.c_str(), X_OK) != 0) throw std::runtime_error("the host " + host.string() + " is missing");
  writeAtomically(manifest, hostManifest(browser, host));
  std::printf("Installed the host for %s: %s\nhost: %s\n", browser.c_str(), manifest.c_str(), host.c_str());
  fs::path extension = extensionFolder();
  if (browser == "firefox")
    std::printf("Load the extension (id %s) from %s/manifest.json in about:debugging.\n", kFirefoxExtensionId,
                extension.c_str());
  else
    std::printf("Load the extension (id %s) from %s: %s, Developer mode, Load unpacked.\n", kChromiumExtensionId,
                extension.c_str(), "chrome://extensions");
  return 0;
}

int origins(const ParsedArguments& parsed) {
  bridge::ConsentStore store;
  if (parsed.has("revoke")) {
    const std::string origin = parsed.option("revoke");
    if (!store.revoke(origin)) throw std::runtime_error("no answer is recorded for " + origin);
    std::printf("Revoked every answer for %s: its next call asks again\n", origin.c_str());
    return 0;
  }
  auto recorded = store.list();
  if (recorded.empty()) std::printf("No origin has been allowed or denied.\n");
  for (const bridge::Grant& grant : recorded)
    std::printf("%-7s %-20s %s  %s\n", bridge::consentName(grant.consent), grant.decided.c_str(),
                grant.origin.c_str(), bridge::scopeDescription(grant.scope).c_str());
  return 0;
}

}  // namespace

int runBridge(const Arguments& args) {
  const std::string action = args.empty() ? "" : args[0];
  const Arguments rest(args.begin() + (args.empty() ? 0 : 1), args.end());
  if (action == "origins") return origins(parseArguments(rest, {{"revoke", true}}));
  if (action != "install") throw UsageError("expected install or origins");
  ParsedArguments parsed = parseArguments(rest, {{"browser", true}, {"uninstall", false}});
  return install(parsed.option("browser", "chromium"), parsed.has("uninstall"));
}

}  // namespace tool
