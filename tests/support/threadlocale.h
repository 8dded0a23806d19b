// Switches the calling thread's C locale (uselocale) to a named locale for
// the object's life; the thread's ANSI code page (CP_THREAD_ACP) follows it.
#pragma once

#include <locale.h>

#include <stdexcept>
#include <string>

namespace tvtest {

class ThreadLocale {
 public:
  // Throws std::runtime_error when the machine lacks the locale.
  explicit ThreadLocale(const std::string& name) : locale_(newlocale(LC_ALL_MASK, name.c_str(), locale_t{})) {
    if (locale_ == locale_t{}) throw std::runtime_error("locale not available: " + name);
    previous_ = uselocale(locale_);
  }
  ~ThreadLocale() {
    uselocale(previous_);
    freelocale(locale_);
  }
  ThreadLocale(const ThreadLocale&) = delete;
  ThreadLocale& operator=(const ThreadLocale&) = delete;

  // Whether the machine has the locale ("ru_RU.CP1251", "ru_RU.UTF-8",
  // "C.UTF-8"), so that a test can skip without it.
  static bool available(const std::string& name) {
    const locale_t locale = newlocale(LC_ALL_MASK, name.c_str(), locale_t{});
    if (locale != locale_t{}) freelocale(locale);
    return locale != locale_t{};
  }

 private:
  locale_t locale_;
  locale_t previous_;
};

}  // namespace tvtest
