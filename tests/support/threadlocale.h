// Switches the calling thread's C locale (uselocale) to a named locale for
// the object's life; the thread's ANSI code page (CP_THREAD_ACP) follows it.
#pragma once

#include <locale.h>

#include <string>

namespace tvtest {

class ThreadLocale {
 public:
  // Throws std::runtime_error when the machine lacks the locale.
  explicit ThreadLocale(const std::string& name);
  ~ThreadLocale();
  ThreadLocale(const ThreadLocale&) = delete;
  ThreadLocale& operator=(const ThreadLocale&) = delete;

  // Whether the machine has the locale ("ru_RU.CP1251", "ru_RU.UTF-8",
  // "C.UTF-8"), so that a test can skip without it.
  static bool available(const std::string& name);

 private:
  locale_t locale_;
  locale_t previous_;
};

}  // namespace tvtest
