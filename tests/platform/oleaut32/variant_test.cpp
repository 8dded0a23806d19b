#include <gtest/gtest.h>

#include <oleauto.h>

#include <cmath>

#include "comtest.h"

namespace {

using comtest::Variant;

// An object whose value property is a text; it counts its references.
class ValueObject final : public IDispatch {
 public:
  ULONG references = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid != IID_IUnknown && riid != IID_IDispatch) return E_NOINTERFACE;
    *ppv = this;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    if (id != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET) || result == nullptr) return DISP_E_MEMBERNOTFOUND;
    result->vt = VT_BSTR;
    result->bstrVal = SysAllocString(u"value");
    return S_OK;
  }
};

struct Conversion {
  const char* name;
  VARTYPE from;
  double number;  // the source value of a numeric or boolean source
  const char16_t* text;  // the source value of a VT_BSTR source
  VARTYPE to;
  HRESULT result;
  const char16_t* expectedText;  // for VT_BSTR results
  double expectedNumber;  // for other results
};

void fill(VARIANT& v, const Conversion& c) {
  v.vt = c.from;
  switch (c.from) {
    case VT_I4: v.lVal = static_cast<LONG>(c.number); break;
    case VT_BOOL: v.boolVal = c.number != 0 ? VARIANT_TRUE : VARIANT_FALSE; break;
    case VT_BSTR: v.bstrVal = SysAllocString(c.text); break;
    default: break;
  }
}

double numberOf(const VARIANT& v) {
  switch (v.vt) {
    case VT_I4: return v.lVal;
    case VT_R8: return v.dblVal;
    case VT_BOOL: return v.boolVal;
    default: return NAN;
  }
}

const Conversion kConversions[] = {
    {"NegativeIntegerToText", VT_I4, -7, nullptr, VT_BSTR, S_OK, u"-7", 0},
    {"TrueToTextIsMinusOne", VT_BOOL, 1, nullptr, VT_BSTR, S_OK, u"-1", 0},
    {"NullIsNoText", VT_NULL, 0, nullptr, VT_BSTR, DISP_E_TYPEMISMATCH, nullptr, 0},
    {"TextWithBlanksToInteger", VT_BSTR, 0, u"  -12 ", VT_I4, S_OK, nullptr, -12},
    {"HalfRoundsToEvenDown", VT_BSTR, 0, u"2.5", VT_I4, S_OK, nullptr, 2},
    {"HalfRoundsToEvenUp", VT_BSTR, 0, u"3.5", VT_I4, S_OK, nullptr, 4},
    {"WordsAreNoInteger", VT_BSTR, 0, u"12abc", VT_I4, DISP_E_TYPEMISMATCH, nullptr, 0},
    {"TextBeyondShortOverflows", VT_BSTR, 0, u"70000", VT_I2, DISP_E_OVERFLOW, nullptr, 0},
    {"NegativeIsNoByte", VT_I4, -1, nullptr, VT_UI1, DISP_E_OVERFLOW, nullptr, 0},
    {"FalseWordToBoolean", VT_BSTR, 0, u"False", VT_BOOL, S_OK, nullptr, VARIANT_FALSE},
    {"OtherWordsAreNoBoolean", VT_BSTR, 0, u"yes", VT_BOOL, DISP_E_TYPEMISMATCH, nullptr, 0},
    {"TextToReal", VT_BSTR, 0, u"0.25", VT_R8, S_OK, nullptr, 0.25},
    {"EmptyToZero", VT_EMPTY, 0, nullptr, VT_I4, S_OK, nullptr, 0},
    {"TextIsNoObject", VT_BSTR, 0, u"x", VT_UNKNOWN, DISP_E_TYPEMISMATCH, nullptr, 0},
};

// ctest lists a row by its name, not by its bytes.
void PrintTo(const Conversion& c, std::ostream* os) { *os << c.name; }

class VariantConversion : public testing::TestWithParam<Conversion> {};

TEST_P(VariantConversion, GivesWindowsResult) {
  const Conversion& c = GetParam();
  Variant source, result;
  fill(source, c);
  ASSERT_EQ(VariantChangeType(&result, &source, 0, c.to), c.result);
  if (FAILED(c.result)) {
    EXPECT_EQ(result.vt, VT_EMPTY);  // the destination is left alone
    return;
  }
  ASSERT_EQ(result.vt, c.to);
  if (c.to == VT_BSTR)
    EXPECT_EQ(result.text(), c.expectedText);
  else
    EXPECT_EQ(numberOf(result), c.expectedNumber);
}

INSTANTIATE_TEST_SUITE_P(Table, VariantConversion, testing::ValuesIn(kConversions),
                         [](const testing::TestParamInfo<Conversion>& info) { return info.param.name; });

TEST(VariantChangeType, ConvertsInPlaceAndThroughReferences) {
  Variant v(LONG{1234});
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(v.text(), u"1234");
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I2), S_OK);  // and back, freeing the text
  EXPECT_EQ(v.vt + v.iVal, VT_I2 + 1234);

  BSTR text = SysAllocString(u"77");
  VARIANT byRef;
  byRef.vt = VT_BYREF | VT_BSTR;
  byRef.pbstrVal = &text;
  ASSERT_EQ(VariantChangeType(&v, &byRef, 0, VT_I4), S_OK);
  EXPECT_EQ(v.lVal, 77);
  EXPECT_EQ(SysStringLen(text), 2u);  // the referenced text is the caller's still
  SysFreeString(text);
  for (const VARTYPE type : {VARTYPE(VT_BYREF | VT_I4), VARTYPE(VT_ARRAY | VT_I4), VARTYPE(0x7F)})
    EXPECT_EQ(VariantChangeType(&v, &v, 0, type), DISP_E_BADVARTYPE) << type;
}

TEST(VariantChangeType, ReadsAnObjectsValueProperty) {
  ValueObject object;
  VARIANT source;
  source.vt = VT_DISPATCH;
  source.pdispVal = &object;
  Variant result;
  ASSERT_EQ(VariantChangeType(&result, &source, 0, VT_BSTR), S_OK);
  EXPECT_EQ(result.text(), u"value");
  EXPECT_EQ(VariantChangeType(&result, &source, VARIANT_NOVALUEPROP, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(object.references, 1u);
}

TEST(VariantCopy, CopiesTextSharesReferencesAndReleasesWhatTheDestinationHeld) {
  ValueObject held;
  Variant copy;
  copy.vt = VT_DISPATCH;
  copy.pdispVal = &held;
  held.AddRef();
  Variant source(std::u16string(u"a\0b", 3));
  ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
  EXPECT_EQ(held.references, 1u);
  EXPECT_NE(copy.bstrVal, source.bstrVal);
  EXPECT_EQ(copy.text(), std::u16string(u"a\0b", 3));
  LONG value = 5;
  VARIANT byRef;
  byRef.vt = VT_BYREF | VT_I4;
  byRef.plVal = &value;
  ASSERT_EQ(VariantCopy(&copy, &byRef), S_OK);
  EXPECT_EQ(copy.plVal, &value);
  ASSERT_EQ(VariantCopyInd(&copy, &byRef), S_OK);
  EXPECT_EQ(copy.vt + copy.lVal, VT_I4 + 5);

  VARIANT object;
  object.vt = VT_DISPATCH;
  object.pdispVal = &held;
  ASSERT_EQ(VariantCopy(&copy, &object), S_OK);
  EXPECT_EQ(held.references, 2u);
  ASSERT_EQ(VariantClear(&copy), S_OK);
  EXPECT_EQ(held.references + copy.vt, 1u + VT_EMPTY);
  copy.vt = 0x7F;  // an unknown type is refused and kept
  EXPECT_EQ(VariantClear(&copy), DISP_E_BADVARTYPE);
  EXPECT_EQ(copy.vt, 0x7F);
  copy.vt = VT_EMPTY;
}

}  // namespace
