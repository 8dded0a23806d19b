// ITypeInfo::Invoke on the test server's object: the call through the
// vtable, the argument conversions and the dispatch error codes.
#include <gtest/gtest.h>

#include <oleauto.h>

#include <memory>
#include <vector>

#include "comtest.h"

namespace {

using comtest::Bstr;
using comtest::Variant;

// The server's object created straight from its module, and the type
// description of IGreeter from the module's type library.
class Invocation : public testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryW(comtest::serverPath().c_str());
    ASSERT_NE(module_, nullptr);
    auto getClassObject = comtest::serverExport<LPFNGETCLASSOBJECT>(module_, "DllGetClassObject");
    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject(kClsidGreeter, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, kIidGreeter, reinterpret_cast<void**>(&greeter_)), S_OK);
    factory->Release();
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadTypeLib(comtest::serverPath().c_str(), &lib), S_OK);
    ASSERT_EQ(lib->GetTypeInfoOfGuid(kIidGreeter, &info_), S_OK);
    lib->Release();
  }
  void TearDown() override {
    if (info_ != nullptr) info_->Release();
    if (greeter_ != nullptr) greeter_->Release();
    FreeLibrary(module_);
  }

  // Invokes a member by name with arguments given first to last.
  HRESULT call(const char16_t* name, std::vector<VARIANT> args, VARIANT* result, WORD flags = DISPATCH_METHOD,
               UINT* argError = nullptr, EXCEPINFO* exception = nullptr) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    MEMBERID id = 0;
    HRESULT hr = DispGetIDsOfNames(info_, names, 1, &id);
    if (FAILED(hr)) return hr;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    return DispInvoke(greeter_, info_, id, flags, &params, result, exception, argError);
  }

  static VARIANT text(BSTR s) {
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = s;  // still the caller's
    return v;
  }
  static VARIANT integer(LONG n) {
    VARIANT v;
    v.vt = VT_I4;
    v.lVal = n;
    return v;
  }

  HMODULE module_ = nullptr;
  IGreeter* greeter_ = nullptr;
  ITypeInfo* info_ = nullptr;
};

TEST_F(Invocation, PassesArgumentsInDeclaredOrder) {
  Bstr a(u"a"), b(u"бэ"), c(u"");
  VARIANT args[3] = {text(a.get()), text(b.get()), text(c.get())};
  Variant result;
  ASSERT_EQ(call(u"join", {args[0], args[1], args[2]}, &result), S_OK);
  EXPECT_EQ(result.vt, VT_BSTR);
  EXPECT_EQ(result.text(), u"a|бэ|");
}

TEST_F(Invocation, ConvertsArgumentsToParameterTypes) {
  Bstr two(u"2");
  VARIANT shortThree;
  shortThree.vt = VT_I2;
  shortThree.iVal = 3;
  Variant sum;
  ASSERT_EQ(call(u"add", {text(two.get()), shortThree}, &sum), S_OK);
  EXPECT_EQ(sum.vt, VT_I4);
  EXPECT_EQ(sum.lVal, 5);

  LONG referenced = 40;
  VARIANT byRef;
  byRef.vt = VT_BYREF | VT_I4;
  byRef.plVal = &referenced;
  Variant other;
  ASSERT_EQ(call(u"add", {byRef, integer(2)}, &other), S_OK);
  EXPECT_EQ(other.lVal, 42);

  Variant greeting;  // a number where text is expected
  ASSERT_EQ(call(u"greet", {integer(7)}, &greeting), S_OK);
  EXPECT_EQ(greeting.text(), u"Hello, 7!");
}

TEST_F(Invocation, PassesVariantsByValue) {
  struct Case {
    VARIANT value;
    bool loud;
    const char16_t* expected;
  };
  Bstr abc(u"abc");
  VARIANT yes;
  yes.vt = VT_BOOL;
  yes.boolVal = VARIANT_TRUE;
  VARIANT empty;
  VariantInit(&empty);
  const Case cases[] = {{integer(42), false, u"3:42"}, {text(abc.get()), true, u"8:ABC"}, {yes, false, u"11:True"},
                        {empty, false, u"0:"}};
  for (const Case& c : cases) {
    VARIANT loud;
    loud.vt = VT_BOOL;
    loud.boolVal = c.loud ? VARIANT_TRUE : VARIANT_FALSE;
    Variant result;
    ASSERT_EQ(call(u"describe", {c.value, loud}, &result), S_OK);
    EXPECT_EQ(result.text(), c.expected);
  }
}

TEST_F(Invocation, FillsOutParametersGivenByReference) {
  Bstr whole(u"head tail");
  BSTR head = nullptr;
  VARIANT headRef;
  headRef.vt = VT_BYREF | VT_BSTR;
  headRef.pbstrVal = &head;
  Variant tail;
  ASSERT_EQ(call(u"split", {text(whole.get()), headRef}, &tail), S_OK);
  EXPECT_EQ(std::u16string(head), u"head");
  EXPECT_EQ(tail.text(), u"tail");
  SysFreeString(head);

  // A script's variable: a reference to a VARIANT receives a BSTR.
  Variant variable(LONG{5});
  VARIANT variableRef;
  variableRef.vt = VT_BYREF | VT_VARIANT;
  variableRef.pvarVal = &variable;
  Variant tail2;
  ASSERT_EQ(call(u"split", {text(whole.get()), variableRef}, &tail2), S_OK);
  EXPECT_EQ(variable.vt, VT_BSTR);
  EXPECT_EQ(variable.text(), u"head");
}

TEST_F(Invocation, ReadsPropertiesOnlyAsProperties) {
  Variant count;
  EXPECT_EQ(call(u"calls", {}, &count, DISPATCH_METHOD), DISP_E_MEMBERNOTFOUND);
  ASSERT_EQ(call(u"calls", {}, &count, DISPATCH_METHOD | DISPATCH_PROPERTYGET), S_OK);
  EXPECT_EQ(count.vt, VT_I4);
}

TEST_F(Invocation, DropsTheResultWhenNotAsked) {
  Bstr name(u"nobody");
  EXPECT_EQ(call(u"greet", {text(name.get())}, nullptr), S_OK);  // and leaks nothing
}

TEST_F(Invocation, ReportsAFailingMethodAsAnException) {
  Bstr why(u"why");
  EXCEPINFO exception;
  Variant result;
  ASSERT_EQ(call(u"refuse", {text(why.get())}, &result, DISPATCH_METHOD, nullptr, &exception), DISP_E_EXCEPTION);
  EXPECT_EQ(exception.scode, kRefusal);
  EXPECT_EQ(exception.bstrDescription, nullptr);
  EXPECT_EQ(result.vt, VT_EMPTY);
}

// An argument of a table row: a text, or else a number.
struct Arg {
  const char16_t* text;
  LONG number;
};

struct BadCall {
  const char* name;
  const char16_t* member;
  std::vector<Arg> args;  // first to last
  HRESULT expected;
  UINT argError;  // index in rgvarg (last argument first); ~0u when not set
};

const BadCall kBadCalls[] = {
    {"TooFewArguments", u"add", {{nullptr, 1}}, DISP_E_BADPARAMCOUNT, ~0u},
    {"TooManyArguments", u"greet", {{u"a", 0}, {u"b", 0}}, DISP_E_BADPARAMCOUNT, ~0u},
    {"TextThatIsNoNumber", u"add", {{u"x", 0}, {nullptr, 1}}, DISP_E_TYPEMISMATCH, 1},
    {"SecondArgumentMismatch", u"add", {{nullptr, 1}, {u"x", 0}}, DISP_E_TYPEMISMATCH, 0},
    {"NumberTooLarge", u"add", {{u"3000000000", 0}, {nullptr, 1}}, DISP_E_OVERFLOW, 1},
    {"OutParameterByValue", u"split", {{u"a b", 0}, {u"", 0}}, DISP_E_TYPEMISMATCH, 0},
};

void PrintTo(const BadCall& c, std::ostream* os) { *os << c.name; }

class InvocationError : public Invocation, public testing::WithParamInterface<BadCall> {};

TEST_P(InvocationError, GivesTheDispatchErrorAndArgument) {
  const BadCall& c = GetParam();
  std::vector<std::unique_ptr<Variant>> owned;
  std::vector<VARIANT> args;
  for (const Arg& arg : c.args) {
    owned.push_back(arg.text != nullptr ? std::make_unique<Variant>(std::u16string(arg.text))
                                        : std::make_unique<Variant>(arg.number));
    args.push_back(*owned.back());
  }
  UINT argError = ~0u;
  Variant result;
  EXPECT_EQ(call(c.member, args, &result, DISPATCH_METHOD, &argError), c.expected);
  EXPECT_EQ(argError, c.argError);
  EXPECT_EQ(result.vt, VT_EMPTY);
}

INSTANTIATE_TEST_SUITE_P(Table, InvocationError, testing::ValuesIn(kBadCalls),
                         [](const testing::TestParamInfo<BadCall>& info) { return info.param.name; });

TEST_F(Invocation, RefusesNamedArgumentsAndUnknownMembers) {
  VARIANT args[2] = {integer(1), integer(2)};
  DISPID named[1] = {0};
  DISPPARAMS params = {args, named, 2, 1};
  Variant result;
  EXPECT_EQ(DispInvoke(greeter_, info_, 5, DISPATCH_METHOD, &params, &result, nullptr, nullptr), DISP_E_NONAMEDARGS);
  params.cNamedArgs = 0;
  EXPECT_EQ(DispInvoke(greeter_, info_, 99, DISPATCH_METHOD, &params, &result, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
}

TEST_F(Invocation, FindsNamesWithoutRegardToCase) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"JOIN"), const_cast<LPOLESTR>(u"Third"),
                      const_cast<LPOLESTR>(u"first")};
  MEMBERID ids[3] = {};
  ASSERT_EQ(DispGetIDsOfNames(info_, names, 3, ids), S_OK);
  EXPECT_EQ(ids[0], 3);
  EXPECT_EQ(ids[1], 2);  // parameters are numbered by position
  EXPECT_EQ(ids[2], 0);

  LPOLESTR unknownMember[] = {const_cast<LPOLESTR>(u"joinx"), const_cast<LPOLESTR>(u"first")};
  EXPECT_EQ(DispGetIDsOfNames(info_, unknownMember, 2, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], DISPID_UNKNOWN);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);

  LPOLESTR unknownParameter[] = {const_cast<LPOLESTR>(u"join"), const_cast<LPOLESTR>(u"fourth")};
  EXPECT_EQ(DispGetIDsOfNames(info_, unknownParameter, 2, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 3);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
}

}  // namespace
