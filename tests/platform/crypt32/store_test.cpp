// System stores on disk: which stores exist, what they hold and in which
// order, and how long their certificates live.
#include "support/certfactory.h"
#include "support/debugcapture.h"
#include "support/tempprefix.h"

#include <tvplatform.h>
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <atomic>
#include <thread>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using tvtest::Bytes;

constexpr DWORD kUserReadOnly = CERT_STORE_OPEN_EXISTING_FLAG | CERT_STORE_READONLY_FLAG | CERT_SYSTEM_STORE_CURRENT_USER;

HCERTSTORE openUserStore(const char16_t* name, DWORD flags = kUserReadOnly) {
  return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, flags, name);
}

// Every certificate's encoding, in enumeration order.
std::vector<Bytes> contentsOf(HCERTSTORE store) {
  std::vector<Bytes> encodings;
  PCCERT_CONTEXT context = nullptr;
  while ((context = CertEnumCertificatesInStore(store, context)) != nullptr)
    encodings.emplace_back(context->pbCertEncoded, context->pbCertEncoded + context->cbCertEncoded);
  EXPECT_EQ(static_cast<DWORD>(CRYPT_E_NOT_FOUND), GetLastError());
  return encodings;
}

BOOL add(HCERTSTORE store, const Bytes& der, DWORD disposition = CERT_STORE_ADD_NEW, PCCERT_CONTEXT* added = nullptr) {
  return CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                          disposition, added);
}

Bytes ecdsaCertificate(const std::string& cn) {
  tvtest::CertificateOptions options;
  options.key = tvtest::KeyKind::EcdsaP256;
  options.subject = tvtest::commonName(cn);
  return tvtest::makeCertificate(options).der;
}

class SystemStore : public ::testing::Test {
 protected:
  // What a store opened now holds.
  static std::vector<Bytes> opened(const char16_t* name = u"My") {
    HCERTSTORE store = openUserStore(name);
    EXPECT_NE(nullptr, store) << GetLastError();
    std::vector<Bytes> contents = contentsOf(store);
    CertCloseStore(store, 0);
    return contents;
  }

  tvtest::TempPrefix prefix;
  LONG liveBefore = TvLiveCertificateContexts();
};

// The standard stores exist, empty, without a folder; others are found by
// name without regard to case, or made when asked to.
TEST_F(SystemStore, WhichStoresExist) {
  for (const char16_t* name : {u"My", u"ROOT", u"ca", u"Trust", u"AddressBook", u"TrustedPeople",
                               u"TrustedPublisher", u"Disallowed"})
    EXPECT_TRUE(opened(name).empty());

  SetLastError(0);
  EXPECT_EQ(nullptr, openUserStore(u"NoSuchStore"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_FALSE(std::filesystem::exists(prefix / "certstores/user/NoSuchStore"));
  HCERTSTORE created = openUserStore(u"NoSuchStore", CERT_SYSTEM_STORE_CURRENT_USER);
  ASSERT_NE(nullptr, created);
  CertCloseStore(created, 0);
  EXPECT_TRUE(opened(u"nosuchstore").empty());

  Bytes certificate = ecdsaCertificate("case");
  tvtest::installCertificate(prefix.path(), "one.der", certificate, "MY");
  for (const char16_t* name : {u"My", u"MY", u"my"}) EXPECT_EQ(std::vector<Bytes>{certificate}, opened(name));
}

TEST_F(SystemStore, RefusesNamesThatLeaveTheStoreFolder) {
  tvtest::installCertificate(prefix.path(), "a.der", ecdsaCertificate("outside"), "../../elsewhere");
  for (const char16_t* name : {u"../../elsewhere", u"..", u"My/..", u"", u"a\\b"}) {
    SetLastError(0);
    EXPECT_EQ(nullptr, openUserStore(name, CERT_SYSTEM_STORE_CURRENT_USER));
    EXPECT_NE(0u, GetLastError());
  }
  SetLastError(0);
  EXPECT_EQ(nullptr, CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, kUserReadOnly, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST_F(SystemStore, ListsFilesInNameOrderAndPemCertificatesInFileOrder) {
  Bytes a = ecdsaCertificate("a"), b = ecdsaCertificate("b"), c = ecdsaCertificate("c"), d = ecdsaCertificate("d");
  tvtest::installCertificate(prefix.path(), "20-c.cer", c);
  tvtest::installCertificate(prefix.path(), "10-bundle.pem", tvtest::toPem(b) + tvtest::toPem(a));
  tvtest::installCertificate(prefix.path(), "30-d.pem", "leading text\n" + tvtest::toPem(d));
  tvtest::installCertificate(prefix.path(), "40-a-again.cer", a);  // listed once, where first found
  std::filesystem::create_directories(prefix / "certstores/user/My/00-folder");
  EXPECT_EQ((std::vector<Bytes>{b, a, c, d}), opened());
}

TEST_F(SystemStore, SkipsFilesThatAreNotCertificatesAndTellsTheDebugOutput) {
  tvtest::DebugCapture capture;
  Bytes good = ecdsaCertificate("good");
  Bytes truncated(good.begin(), good.begin() + good.size() / 2);
  tvtest::installCertificate(prefix.path(), "1-notes.txt", std::string("not a certificate"));
  tvtest::installCertificate(prefix.path(), "2-truncated.der", truncated);
  tvtest::installCertificate(prefix.path(), "3-empty.der", std::string());
  tvtest::installCertificate(prefix.path(), "4-good.der", good);
  tvtest::installCertificate(prefix.path(), "5-broken.pem", tvtest::toPem(good) + "-----BEGIN CERTIFICATE-----\n!!\n");

  EXPECT_EQ(std::vector<Bytes>{good}, opened());
  const std::vector<std::string> lines = capture.lines();
  ASSERT_EQ(4u, lines.size());
  for (const char* file : {"1-notes.txt", "2-truncated.der", "3-empty.der", "5-broken.pem"})
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [&](const std::string& line) { return line.find(file) != std::string::npos; }))
        << file;
}

void setModified(const std::string& path, timespec when) {
  const timespec times[2] = {when, when};
  EXPECT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, 0));
}

// Files an hour old are the ones an opening may take as unchanged.
const timespec kLongAgo{time(nullptr) - 3600, 0};

// Opening a store again reads only files that changed; every change made
// between two openings is seen by the second, however it was made, whether
// the folder is watched or each file is checked.
class StoreChanges : public SystemStore, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override { TvWatchStoreFolders(GetParam()); }
  void TearDown() override { TvWatchStoreFolders(TRUE); }

  template <class Content>
  std::string install(const std::string& name, const Content& content) {
    const std::string path = tvtest::installCertificate(prefix.path(), name, content);
    setModified(path, kLongAgo);
    return path;
  }
  std::string folder() const { return prefix / "certstores/user/My"; }
};
INSTANTIATE_TEST_SUITE_P(WatchedOrChecked, StoreChanges, ::testing::Bool());

TEST_P(StoreChanges, SeesEveryFileReplacedAddedOrRemoved) {
  const Bytes first = ecdsaCertificate("first"), second = ecdsaCertificate("second"), third = ecdsaCertificate("third");
  // PEM texts of one size, so that only the content tells them apart.
  auto samePem = [](const Bytes& der) {
    const std::string pem = tvtest::toPem(der);
    return std::string(1000 - pem.size(), '.') + "\n" + pem;
  };
  const std::string path = install("1.pem", samePem(first));
  EXPECT_EQ(std::vector<Bytes>{first}, opened());

  // A handle holds what was there when it was opened.
  HCERTSTORE early = openUserStore(u"My");
  tvtest::installCertificate(prefix.path(), "1.pem", samePem(second));  // in place, same size, an hour later
  EXPECT_EQ(std::vector<Bytes>{first}, contentsOf(early));
  CertCloseStore(early, 0);
  EXPECT_EQ(std::vector<Bytes>{second}, opened());

  // Rewritten in place again within the same clock tick: size and time stay.
  struct stat info;
  ASSERT_EQ(0, stat(path.c_str(), &info));
  const timespec tick = info.st_mtim;
  tvtest::installCertificate(prefix.path(), "1.pem", samePem(third));
  setModified(path, tick);
  EXPECT_EQ(std::vector<Bytes>{third}, opened());

  // Replaced by another file, one added, one removed.
  setModified(path, kLongAgo);
  EXPECT_EQ(std::vector<Bytes>{third}, opened());
  ASSERT_EQ(0, std::rename(install("1.pem.new", samePem(first)).c_str(), path.c_str()));
  install("2.der", second);
  EXPECT_EQ((std::vector<Bytes>{first, second}), opened());
  std::filesystem::remove(path);
  EXPECT_EQ(std::vector<Bytes>{second}, opened());

  // Moved in from another folder: the store's folder sees only its arrival.
  const std::string elsewhere = prefix / "elsewhere.der";
  tvtest::writeFile(elsewhere, std::string(third.begin(), third.end()));
  setModified(elsewhere, kLongAgo);
  ASSERT_EQ(0, std::rename(elsewhere.c_str(), (folder() + "/3.der").c_str()));
  EXPECT_EQ((std::vector<Bytes>{second, third}), opened());
}

TEST_P(StoreChanges, SeesTheFolderReplacedAndFilesChangedThroughOtherNames) {
  const Bytes a = ecdsaCertificate("a"), b = ecdsaCertificate("b"), c = ecdsaCertificate("c");
  install("1.der", a);
  EXPECT_EQ(std::vector<Bytes>{a}, opened());
  EXPECT_EQ(std::vector<Bytes>{a}, opened());

  std::filesystem::remove_all(folder());
  EXPECT_TRUE(opened().empty());
  install("2.der", b);
  EXPECT_EQ(std::vector<Bytes>{b}, opened());
  // A folder above renamed away and another put in its place.
  std::filesystem::rename(prefix / "certstores", prefix / "old-certstores");
  install("3.der", c);
  EXPECT_EQ(std::vector<Bytes>{c}, opened());

  // Through a symbolic link and a second name, content changes with no
  // change to the folder's own entries.
  auto outside = [&](const std::string& name, const Bytes& der) {
    tvtest::writeFile(prefix / name, std::string(der.begin(), der.end()));
    setModified(prefix / name, kLongAgo);
    return prefix / name;
  };
  const std::string target = outside("target.der", a), other = outside("other.der", b);
  std::filesystem::create_symlink(target, folder() + "/4.der");
  std::filesystem::create_hard_link(other, folder() + "/5.der");
  EXPECT_EQ((std::vector<Bytes>{c, a, b}), opened());
  ASSERT_EQ(0, std::rename(outside("replacement.der", b).c_str(), target.c_str()));
  tvtest::writeFile(other, std::string(a.begin(), a.end()));  // in place: the same file
  EXPECT_EQ((std::vector<Bytes>{c, b, a}), opened());
}

// Openings from several threads, and one handle enumerated while it is
// added to: what each sees only grows.
TEST_P(StoreChanges, ManyThreadsOpenEnumerateAndAdd) {
  std::vector<Bytes> certificates;
  for (int i = 0; i < 24; ++i) certificates.push_back(ecdsaCertificate("concurrent " + std::to_string(i)));
  HCERTSTORE store = openUserStore(u"My", CERT_SYSTEM_STORE_CURRENT_USER);
  std::atomic<bool> adding{true};
  auto growing = [&](std::function<size_t()> count) {
    return [&adding, count] {
      for (size_t seen = 0; adding;) {
        const size_t now = count();
        EXPECT_GE(now, seen);
        seen = now;
      }
    };
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) threads.emplace_back(growing([&] { return opened().size(); }));
  threads.emplace_back(growing([&] { return contentsOf(store).size(); }));
  // Half through the handle, half as files dated back, which a watched folder's openings trust.
  for (size_t i = 0; i < certificates.size(); ++i)
    if (i % 2 != 0)
      EXPECT_TRUE(add(store, certificates[i]));
    else
      install(std::to_string(10 + i) + ".der", certificates[i]);
  adding = false;
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(certificates.size() / 2, contentsOf(store).size());
  CertCloseStore(store, 0);
  EXPECT_EQ(certificates.size(), opened().size());
  EXPECT_EQ(liveBefore, TvLiveCertificateContexts());
}

TEST_F(SystemStore, ContextsLiveWhileReferencedEvenAfterTheStoreCloses) {
  Bytes kept = ecdsaCertificate("kept");
  tvtest::installCertificate(prefix.path(), "1.der", kept);
  tvtest::installCertificate(prefix.path(), "2.der", ecdsaCertificate("dropped"));
  HCERTSTORE store = openUserStore(u"My");
  EXPECT_EQ(2u, contentsOf(store).size());  // enumeration releases what it passes
  EXPECT_EQ(liveBefore + 2, TvLiveCertificateContexts());

  PCCERT_CONTEXT first = CertEnumCertificatesInStore(store, nullptr);
  PCCERT_CONTEXT held = CertDuplicateCertificateContext(first);
  EXPECT_EQ(first, held);
  CertFreeCertificateContext(first);
  CertCloseStore(store, 0);
  EXPECT_EQ(liveBefore + 1, TvLiveCertificateContexts());
  EXPECT_EQ(kept, Bytes(held->pbCertEncoded, held->pbCertEncoded + held->cbCertEncoded));
  CertFreeCertificateContext(held);
  EXPECT_EQ(liveBefore, TvLiveCertificateContexts());
}

}  // namespace

TEST_F(SystemStore, AddedCertificatesAreKeptForLaterOpenings) {
  Bytes certificate = ecdsaCertificate("added");
  HCERTSTORE store = openUserStore(u"My", CERT_SYSTEM_STORE_CURRENT_USER);
  PCCERT_CONTEXT added = nullptr;
  ASSERT_TRUE(add(store, certificate, CERT_STORE_ADD_NEW, &added));
  EXPECT_EQ(store, added->hCertStore);
  EXPECT_EQ(std::vector<Bytes>{certificate}, contentsOf(store));

  // The same certificate again: refused when new, the held one otherwise.
  EXPECT_FALSE(add(store, certificate));
  EXPECT_EQ(static_cast<DWORD>(CRYPT_E_EXISTS), GetLastError());
  PCCERT_CONTEXT again = nullptr;
  ASSERT_TRUE(add(store, certificate, CERT_STORE_ADD_REPLACE_EXISTING, &again));
  EXPECT_EQ(added, again);
  CertFreeCertificateContext(again);
  CertFreeCertificateContext(added);
  CertCloseStore(store, 0);

  EXPECT_EQ(std::vector<Bytes>{certificate}, opened(u"MY"));
  EXPECT_EQ(liveBefore, TvLiveCertificateContexts());
}

TEST_F(SystemStore, AddingRefusesReadOnlyStoresAndBytesThatAreNoCertificate) {
  Bytes certificate = ecdsaCertificate("refused");
  HCERTSTORE store = openUserStore(u"My");
  EXPECT_FALSE(add(store, certificate));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  CertCloseStore(store, 0);

  store = openUserStore(u"My", CERT_SYSTEM_STORE_CURRENT_USER);
  EXPECT_FALSE(add(store, Bytes{0x30, 0x03, 0x02, 0x01}));
  EXPECT_NE(0u, GetLastError());
  EXPECT_TRUE(contentsOf(store).empty());
  CertCloseStore(store, 0);
  EXPECT_FALSE(std::filesystem::exists(prefix / "certstores/user/My"));
}
