// GUIDs as text: the braced upper-case form written, either case read.
#include <gtest/gtest.h>

#include <objbase.h>
#include <oaidl.h>
#include <objsafe.h>

#include "comtest.h"
#include "support/tempprefix.h"

namespace {

TEST(GuidText, WritesTheBracedUpperCaseFormAndReadsEitherCase) {
  const struct {
    const IID* iid;
    const char16_t* text;
  } known[] = {
      {&IID_IUnknown, u"{00000000-0000-0000-C000-000000000046}"},
      {&IID_IDispatch, u"{00020400-0000-0000-C000-000000000046}"},
      {&IID_IObjectSafety, u"{CB5BDC81-93C1-11CF-8F20-00805F2CD064}"},
  };
  for (const auto& k : known) {
    WCHAR buffer[39];
    ASSERT_EQ(StringFromGUID2(*k.iid, buffer, 39), 39);
    EXPECT_EQ(std::u16string(buffer), k.text);
    CLSID back;
    ASSERT_EQ(CLSIDFromString(k.text, &back), S_OK);
    EXPECT_TRUE(IsEqualGUID(back, *k.iid));
  }
  WCHAR small[38];
  EXPECT_EQ(StringFromGUID2(IID_IDispatch, small, 38), 0);  // no room for the terminating zero
  CLSID clsid;
  ASSERT_EQ(CLSIDFromString(u"{cb5bdc81-93c1-11cf-8f20-00805f2cd064}", &clsid), S_OK);
  EXPECT_TRUE(IsEqualGUID(clsid, IID_IObjectSafety));
  ASSERT_EQ(CLSIDFromString(nullptr, &clsid), S_OK);
  EXPECT_TRUE(IsEqualGUID(clsid, CLSID_NULL));
}

TEST(GuidText, RefusesMalformedTextThatNamesNoClass) {
  tvtest::TempPrefix prefix;  // an empty registry: no ProgID matches either
  for (const char16_t* text : {
           u"CB5BDC81-93C1-11CF-8F20-00805F2CD064",     // no braces
           u"{CB5BDC81-93C1-11CF-8F20-00805F2CD06}",    // a digit short
           u"{CB5BDC81-93C1-11CF-8F20-00805F2CD0644}",  // a digit long
           u"{CB5BDC81+93C1-11CF-8F20-00805F2CD064}",   // wrong separator
           u"{CB5BDC8G-93C1-11CF-8F20-00805F2CD064}",   // not hexadecimal
           u"{CB5BDC81-93C1-11CF-8F20-00805F2CD064} ",  // trailing blank
       }) {
    CLSID clsid;
    EXPECT_EQ(CLSIDFromString(text, &clsid), CO_E_CLASSSTRING);
  }
}

}  // namespace
