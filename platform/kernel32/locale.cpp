// kernel32: the thread locale. It is an identifier the thread carries and
// reads back; the thread's ANSI code page follows the thread's C locale
// (uselocale), not this identifier.
#include <windows.h>

namespace {

const LCID kEnglishUnitedStates = 0x0409;

thread_local LCID threadLocale = kEnglishUnitedStates;

}  // namespace

WINBASEAPI LCID WINAPI GetThreadLocale(void) { return threadLocale; }

WINBASEAPI BOOL WINAPI SetThreadLocale(LCID Locale) {
  if (Locale == LOCALE_USER_DEFAULT || Locale == LOCALE_SYSTEM_DEFAULT) Locale = kEnglishUnitedStates;
  if (Locale == 0 || (Locale & 0xFFFF) == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  threadLocale = Locale;
  return TRUE;
}
