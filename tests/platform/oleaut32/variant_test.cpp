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
  USHORT flags;
  HRESULT result;
  const char16_t* expectedText;  // for VT_BSTR results
  double expectedNumber;  // for other results
};

void fill(VARIANT& v, const Conversion& c) {
  v.vt = c.from;
  switch (c.from) {
    case VT_I2: v.iVal = static_cast<SHORT>(c.number); break;
    case VT_I4: v.lVal = static_cast<LONG>(c.number); break;
    case VT_R8: v.dblVal = c.number; break;
    case VT_BOOL: v.boolVal = c.number != 0 ? VARIANT_TRUE : VARIANT_FALSE; break;
    case VT_BSTR: v.bstrVal = SysAllocString(c.text); break;
    default: break;
  }
}

double numberOf(const VARIANT& v) {
  switch (v.vt) {
    case VT_I2: return v.iVal;
    case VT_I4: return v.lVal;
    case VT_UI1: return v.bVal;
    case VT_R8: return v.dblVal;
    case VT_BOOL: return v.boolVal;
    default: return NAN;
  }
}

const Conversion kConversions[] = {
    {"NegativeIntegerToText", VT_I4, -7, nullptr, VT_BSTR, 0, S_OK, u"-7", 0},
    {"TrueToTextIsMinusOne", VT_BOOL, 1, nullptr, VT_BSTR, 0, S_OK, u"-1", 0},
    {"FalseToTextAsWord", VT_BOOL, 0, nullptr, VT_BSTR, VARIANT_ALPHABOOL, S_OK, u"False", 0},
    {"RealToText", VT_R8, 1.5, nullptr, VT_BSTR, 0, S_OK, u"1.5", 0},
    {"EmptyToText", VT_EMPTY, 0, nullptr, VT_BSTR, 0, S_OK, u"", 0},
    {"NullIsNoText", VT_NULL, 0, nullptr, VT_BSTR, 0, DISP_E_TYPEMISMATCH, nullptr, 0},
    {"TextWithBlanksToInteger", VT_BSTR, 0, u"  -12 ", VT_I4, 0, S_OK, nullptr, -12},
    {"HalfRoundsToEvenDown", VT_BSTR, 0, u"2.5", VT_I4, 0, S_OK, nullptr, 2},
    {"HalfRoundsToEvenUp", VT_BSTR, 0, u"3.5", VT_I4, 0, S_OK, nullptr, 4},
    {"WordsAreNoInteger", VT_BSTR, 0, u"12abc", VT_I4, 0, DISP_E_TYPEMISMATCH, nullptr, 0},
    {"TextBeyondLongOverflows", VT_BSTR, 0, u"3000000000", VT_I4, 0, DISP_E_OVERFLOW, nullptr, 0},
    {"TextBeyondShortOverflows", VT_BSTR, 0, u"70000", VT_I2, 0, DISP_E_OVERFLOW, nullptr, 0},
    {"NegativeIsNoByte", VT_I4, -1, nullptr, VT_UI1, 0, DISP_E_OVERFLOW, nullptr, 0},
    {"FalseWordToBoolean", VT_BSTR, 0, u"False", VT_BOOL, 0, S_OK, nullptr, VARIANT_FALSE},
    {"NonZeroTextToBoolean", VT_BSTR, 0, u"5", VT_BOOL, 0, S_OK, nullptr, VARIANT_TRUE},
    {"OtherWordsAreNoBoolean", VT_BSTR, 0, u"yes", VT_BOOL, 0, DISP_E_TYPEMISMATCH, nullptr, 0},
    {"TextToReal", VT_BSTR, 0, u"0.25", VT_R8, 0, S_OK, nullptr, 0.25},
    {"EmptyToZero", VT_EMPTY, 0, nullptr, VT_I4, 0, S_OK, nullptr, 0},
    {"TextIsNoObject", VT_BSTR, 0, u"x", VT_UNKNOWN, 0, DISP_E_TYPEMISMATCH, nullptr, 0},
};

// ctest lists a row by its name, not by its bytes.
void PrintTo(const Conversion& c, std::ostream* os) { *os << c.name; }

class VariantConversion : public testing::TestWithParam<Conversion> {};

TEST_P(VariantConversion, GivesWindowsResult) {
  const Conversion& c = GetParam();
  Variant source, result;
  fill(source, c);
  ASSERT_EQ(VariantChangeType(&result, &source, c.flags, c.to), c.result);
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

TEST(VariantChangeType, ConvertsInPlace) {
  Variant v(LONG{1234});
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(v.vt, VT_BSTR);
  EXPECT_EQ(v.text(), u"1234");
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I2), S_OK);  // and back, freeing the text
  EXPECT_EQ(v.iVal, 1234);
}

TEST(VariantChangeType, ReadsThroughReferences) {
  BSTR text = SysAllocString(u"77");
  VARIANT byRef;
  byRef.vt = VT_BYREF | VT_BSTR;
  byRef.pbstrVal = &text;
  Variant result;
  ASSERT_EQ(VariantChangeType(&result, &byRef, 0, VT_I4), S_OK);
  EXPECT_EQ(result.lVal, 77);
  EXPECT_EQ(SysStringLen(text), 2u);  // the referenced text is the caller's still
  SysFreeString(text);
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

TEST(VariantChangeType, RefusesTypesItCannotHold) {
  Variant source(LONG{1}), result;
  EXPECT_EQ(VariantChangeType(&result, &source, 0, VT_BYREF | VT_I4), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(&result, &source, 0, VT_ARRAY | VT_I4), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(&result, &source, 0, 0x7F), DISP_E_BADVARTYPE);
}

TEST(VariantCopy, CopiesTextWithEmbeddedZerosAndSharesReferences) {
  const char16_t raw[] = u"a\0b";
  Variant source, copy;
  source.vt = VT_BSTR;
  source.bstrVal = SysAllocStringLen(raw, 3);
  ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
  EXPECT_NE(copy.bstrVal, source.bstrVal);
  EXPECT_EQ(copy.text(), std::u16string(raw, 3));
  LONG value = 5;
  VARIANT byRef;
  byRef.vt = VT_BYREF | VT_I4;
  byRef.plVal = &value;
  ASSERT_EQ(VariantCopy(&copy, &byRef), S_OK);
  EXPECT_EQ(copy.plVal, &value);
  ASSERT_EQ(VariantCopyInd(&copy, &byRef), S_OK);
  EXPECT_EQ(copy.vt, VT_I4);
  EXPECT_EQ(copy.lVal, 5);
}

TEST(VariantCopy, ReleasesWhatTheDestinationHeld) {
  ValueObject first, second;
  Variant destination;
  destination.vt = VT_DISPATCH;
  destination.pdispVal = &first;
  first.AddRef();
  VARIANT source;
  source.vt = VT_DISPATCH;
  source.pdispVal = &second;
  ASSERT_EQ(VariantCopy(&destination, &source), S_OK);
  EXPECT_EQ(first.references, 1u);
  EXPECT_EQ(second.references, 2u);
  ASSERT_EQ(VariantClear(&destination), S_OK);
  EXPECT_EQ(second.references, 1u);
  EXPECT_EQ(destination.vt, VT_EMPTY);
}

TEST(VariantClear, RefusesUnknownTypesAndKeepsThem) {
  VARIANT v;
  v.vt = 0x7F;
  EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
  EXPECT_EQ(v.vt, 0x7F);
}

TEST(VariantLayout, HasTheWindowsSizes) {
  EXPECT_EQ(sizeof(VARIANT), 24u);
  EXPECT_EQ(offsetof(VARIANT, lVal), 8u);
  EXPECT_EQ(sizeof(DISPPARAMS), 24u);
  EXPECT_EQ(sizeof(EXCEPINFO), 64u);
  EXPECT_EQ(offsetof(EXCEPINFO, scode), 56u);
  EXPECT_EQ(sizeof(GUID), 16u);
}

}  // namespace
