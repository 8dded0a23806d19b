// ITypeInfo::Invoke on the test server's object: the call through the
// vtable, the argument conversions and the dispatch error codes.
#include <gtest/gtest.h>

#include <oleauto.h>

#include <memory>
#include <vector>

#include "comtest.h"

namespace {

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

  static VARIANT byRef(VARTYPE vt, void* target) {
    VARIANT v;
    v.vt = VT_BYREF | vt;
    v.byref = target;
    return v;
  }

  HMODULE module_ = nullptr;
  IGreeter* greeter_ = nullptr;
  ITypeInfo* info_ = nullptr;
};

// An argument of a table row: a text, or a number of the given type.
struct Arg {
  VARTYPE vt;
  const char16_t* text;
  LONG number;
};
const Arg kEmpty = {VT_EMPTY, nullptr, 0}, kTrue = {VT_BOOL, nullptr, VARIANT_TRUE};
Arg text(const char16_t* s) { return {VT_BSTR, s, 0}; }
Arg number(LONG n, VARTYPE vt = VT_I4) { return {vt, nullptr, n}; }

struct Call {
  const char* name;
  const char16_t* member;
  std::vector<Arg> args;  // first to last
  HRESULT expected;
  const char16_t* result;  // the result as text when the call succeeds
  UINT argError;           // index in rgvarg (last argument first); ~0u when not set
};

const Call kCalls[] = {
    {"ArgumentsInDeclaredOrder", u"join", {text(u"a"), text(u"бэ"), text(u"")}, S_OK, u"a|бэ|", ~0u},
    {"TextAndShortToLong", u"add", {text(u"2"), number(3, VT_I2)}, S_OK, u"5", ~0u},
    {"NumberWhereTextIsExpected", u"greet", {number(7)}, S_OK, u"Hello, 7!", ~0u},
    {"VariantNumberByValue", u"describe", {number(42)}, S_OK, u"3:42", ~0u},
    {"VariantTextByValue", u"describe", {text(u"abc")}, S_OK, u"8:abc", ~0u},
    {"VariantBooleanByValue", u"describe", {kTrue}, S_OK, u"11:True", ~0u},
    {"VariantEmptyByValue", u"describe", {kEmpty}, S_OK, u"0:", ~0u},
    {"TooFewArguments", u"add", {number(1)}, DISP_E_BADPARAMCOUNT, nullptr, ~0u},
    {"TooManyArguments", u"greet", {text(u"a"), text(u"b")}, DISP_E_BADPARAMCOUNT, nullptr, ~0u},
    {"TextThatIsNoNumber", u"add", {text(u"x"), number(1)}, DISP_E_TYPEMISMATCH, nullptr, 1},
    {"SecondArgumentMismatch", u"add", {number(1), text(u"x")}, DISP_E_TYPEMISMATCH, nullptr, 0},
    {"NumberTooLarge", u"add", {text(u"3000000000"), number(1)}, DISP_E_OVERFLOW, nullptr, 1},
    {"OutParameterByValue", u"split", {text(u"a b"), text(u"")}, DISP_E_TYPEMISMATCH, nullptr, 0},
};

void PrintTo(const Call& c, std::ostream* os) { *os << c.name; }

class Dispatch : public Invocation, public testing::WithParamInterface<Call> {};

TEST_P(Dispatch, ConvertsArgumentsOrGivesTheErrorAndArgument) {
  const Call& c = GetParam();
  std::vector<std::unique_ptr<Variant>> owned;
  std::vector<VARIANT> args;
  for (const Arg& arg : c.args) {
    owned.push_back(arg.text != nullptr ? std::make_unique<Variant>(std::u16string(arg.text))
                                        : std::make_unique<Variant>(arg.number));
    if (arg.text == nullptr) owned.back()->vt = arg.vt;  // the number's bits fit every integer type
    args.push_back(*owned.back());
  }
  UINT argError = ~0u;
  Variant result;
  ASSERT_EQ(call(c.member, args, &result, DISPATCH_METHOD, &argError), c.expected);
  EXPECT_EQ(argError, c.argError);
  if (FAILED(c.expected)) {
    EXPECT_EQ(result.vt, VT_EMPTY);
    return;
  }
  ASSERT_EQ(VariantChangeType(&result, &result, 0, VT_BSTR), S_OK);
  EXPECT_EQ(result.text(), c.result);
}

INSTANTIATE_TEST_SUITE_P(Table, Dispatch, testing::ValuesIn(kCalls),
                         [](const testing::TestParamInfo<Call>& info) { return info.param.name; });

TEST_F(Invocation, PassesAndFillsReferences) {
  LONG referenced = 40;
  Variant two(LONG{2}), sum;
  ASSERT_EQ(call(u"add", {byRef(VT_I4, &referenced), two}, &sum), S_OK);
  EXPECT_EQ(sum.lVal, 42);

  // An [out] BSTR, and a script's variable: a reference to a VARIANT receives a BSTR.
  Variant whole(std::u16string(u"head tail")), variable(LONG{5}), tail;
  BSTR head = nullptr;
  ASSERT_EQ(call(u"split", {whole, byRef(VT_BSTR, &head)}, &tail), S_OK);
  EXPECT_EQ(std::u16string(head) + u"|" + tail.text(), u"head|tail");
  SysFreeString(head);
  ASSERT_EQ(call(u"split", {whole, byRef(VT_VARIANT, &variable)}, nullptr), S_OK);  // no result asked: none leaks
  EXPECT_EQ(variable.vt, VT_BSTR);
  EXPECT_EQ(variable.text(), u"head");
}

TEST_F(Invocation, ReadsPropertiesOnlyAsProperties) {
  Variant count;
  EXPECT_EQ(call(u"calls", {}, &count, DISPATCH_METHOD), DISP_E_MEMBERNOTFOUND);
  ASSERT_EQ(call(u"calls", {}, &count, DISPATCH_METHOD | DISPATCH_PROPERTYGET), S_OK);
  EXPECT_EQ(count.vt, VT_I4);
}

TEST_F(Invocation, ReportsAFailingMethodAsAnException) {
  Variant why(std::u16string(u"why")), result;
  EXCEPINFO exception;
  ASSERT_EQ(call(u"refuse", {why}, &result, DISPATCH_METHOD, nullptr, &exception), DISP_E_EXCEPTION);
  EXPECT_EQ(exception.scode, kRefusal);
  EXPECT_EQ(exception.bstrDescription, nullptr);
  EXPECT_EQ(result.vt, VT_EMPTY);
}

TEST_F(Invocation, RefusesNamedArgumentsAndUnknownMembers) {
  Variant one(LONG{1}), two(LONG{2}), result;
  VARIANT args[2] = {one, two};
  DISPID named[1] = {0};
  DISPPARAMS params = {args, named, 2, 1};
  EXPECT_EQ(DispInvoke(greeter_, info_, 5, DISPATCH_METHOD, &params, &result, nullptr, nullptr), DISP_E_NONAMEDARGS);
  params.cNamedArgs = 0;
  EXPECT_EQ(DispInvoke(greeter_, info_, 99, DISPATCH_METHOD, &params, &result, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
}

TEST_F(Invocation, FindsNamesWithoutRegardToCase) {
  // Parameters are numbered by position; an unknown name is DISPID_UNKNOWN,
  // and so are the parameters of an unknown member.
  const struct {
    std::vector<const char16_t*> names;
    HRESULT result;
    std::vector<MEMBERID> ids;
  } cases[] = {
      {{u"JOIN", u"Third", u"first"}, S_OK, {3, 2, 0}},
      {{u"joinx", u"first"}, DISP_E_UNKNOWNNAME, {DISPID_UNKNOWN, DISPID_UNKNOWN}},
      {{u"join", u"fourth"}, DISP_E_UNKNOWNNAME, {3, DISPID_UNKNOWN}},
  };
  for (const auto& c : cases) {
    std::vector<MEMBERID> ids(c.names.size(), 77);
    EXPECT_EQ(DispGetIDsOfNames(info_, const_cast<LPOLESTR*>(c.names.data()), static_cast<UINT>(c.names.size()),
                                ids.data()),
              c.result);
    EXPECT_EQ(ids, c.ids);
  }
}

}  // namespace
