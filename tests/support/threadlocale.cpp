#include "support/threadlocale.h"

#include <stdexcept>

namespace tvtest {

ThreadLocale::ThreadLocale(const std::string& name)
    : locale_(newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(0))) {
  if (locale_ == static_cast<locale_t>(0)) throw std::runtime_error("locale not available: " + name);
  previous_ = uselocale(locale_);
}

ThreadLocale::~ThreadLocale() {
  uselocale(previous_);
  freelocale(locale_);
}

bool ThreadLocale::available(const std::string& name) {
  const locale_t locale = newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return false;
  freelocale(locale);
  return true;
}

}  // namespace tvtest
