#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/variant.h"
#include "firmware/wmi_access.h"
#include "platform/services.h"
#include "support/manual_clock.h"

namespace {

using wmi::HRESULT;
using wmi::Variant;
using wmi::VarType;
using Props = std::map<std::string, Variant, std::less<>>;
using Log = std::vector<std::string>;

constexpr HRESULT kDenied = static_cast<HRESULT>(0x80041003);  // WBEM_E_ACCESS_DENIED
constexpr HRESULT kThrow = 0x7EADBEEF;                         // the scripted step throws
constexpr const char* kInstance = R"(ACPI\PNP0C14\0_0)";
constexpr const char* kGamingPath = R"(CorlanGamingFunction.InstanceName="ACPI\\PNP0C14\\0_0")";
constexpr const char* kGamingQuery = "SELECT * FROM CorlanGamingFunction";

std::string Show(const Variant& v) {
  if (v.type == VarType::kBstr) return "BSTR:" + v.text;
  return std::to_string(static_cast<int>(v.type)) + ":" + std::to_string(v.bits);
}

std::string S(std::string_view s) { return std::string(s); }

// The scripted COM, WMI and firmware. Every call and every release goes into one log, in order,
// as "Verb argument"; a step answers S_OK unless `fail` holds its verb.
struct Fake : platform::WmiProvider {
  std::map<std::string, HRESULT, std::less<>> fail;  // kThrow: the step throws
  std::vector<Props> rows = {{{"InstanceName", Variant::Text(kInstance)}}};
  HRESULT after_rows = wmi::kWbemS_False;  // what Next answers once the rows are taken
  Props out;  // the output-parameter object
  bool method_takes_input = true;
  std::mutex mu;
  Log log;

  HRESULT Step(std::string entry) {
    std::scoped_lock lock(mu);
    const auto it = fail.find(std::string_view(entry).substr(0, entry.find(' ')));
    log.push_back(std::move(entry));
    if (it != fail.end() && it->second == kThrow) throw std::runtime_error("provider fault");
    return it == fail.end() ? wmi::kS_OK : it->second;
  }
  Log Calls(bool clear = false) {
    std::scoped_lock lock(mu);
    return clear ? std::exchange(log, {}) : log;
  }
  int Count(const std::string& entry) {
    const Log l = Calls();
    return static_cast<int>(std::count(l.begin(), l.end(), entry));
  }
  HRESULT CoInitializeEx() override { return Step("CoInitializeEx"); }
  void CoUninitialize() override { Step("CoUninitialize"); }
  HRESULT CreateLocator(std::unique_ptr<platform::WmiLocator>* locator) override;
};

// One scripted COM object of any kind: locator, services, enumerator, class or parameter object.
struct Node final : platform::WmiObject,
                    platform::WmiEnumerator,
                    platform::WmiServices,
                    platform::WmiLocator {
  using Obj = std::unique_ptr<WmiObject>;
  using Enum = std::unique_ptr<WmiEnumerator>;
  Node(Fake* f, std::string name, Props props = {}) : f(f), name(name), props(std::move(props)) {}
  ~Node() override { f->Step("release " + name); }

  template <typename T>
  HRESULT Give(HRESULT hr, std::unique_ptr<T>* to, std::string child, Props p = {}) {
    if (wmi::Succeeded(hr)) *to = std::make_unique<Node>(f, std::move(child), std::move(p));
    return hr;
  }
  HRESULT Get(std::string_view n, Variant* value) override {
    f->Step("Get " + name + "." + S(n));
    const auto it = props.find(n);
    if (it != props.end()) *value = it->second;
    return it != props.end() ? wmi::kS_OK : wmi::kWbemE_NotFound;
  }
  HRESULT Put(std::string_view n, const Variant& v) override {
    const HRESULT hr = f->Step("Put " + name + "." + S(n) + "=" + Show(v));
    if (wmi::Succeeded(hr)) props[S(n)] = v;
    return hr;
  }
  HRESULT GetMethod(std::string_view m, Obj* in) override {
    const HRESULT hr = f->Step("GetMethod " + S(m));
    return f->method_takes_input ? Give(hr, in, "in") : hr;
  }
  HRESULT Next(Obj* row) override {
    const HRESULT hr = f->Step("Next");
    if (wmi::Failed(hr) || next == f->rows.size()) return wmi::Failed(hr) ? hr : f->after_rows;
    ++next;
    return Give(hr, row, "row" + std::to_string(next - 1), f->rows[next - 1]);
  }
  HRESULT SetProxyBlanket() override { return f->Step("SetProxyBlanket"); }
  HRESULT ExecQuery(std::string_view q, Enum* e) override {
    return Give(f->Step("ExecQuery " + S(q)), e, "enum");
  }
  HRESULT GetObject(std::string_view c, Obj* o) override {
    return Give(f->Step("GetObject " + S(c)), o, "class");
  }
  HRESULT ExecMethod(std::string_view path, std::string_view m, WmiObject* in, Obj* out) override {
    const std::string sent = in != nullptr ? static_cast<Node*>(in)->name : "null";
    const HRESULT hr = f->Step("ExecMethod " + S(path) + " " + S(m) + " " + sent);
    return path.empty() ? wmi::kWbemE_InvalidParameter : Give(hr, out, "out", f->out);
  }
  HRESULT CreateInstanceEnum(std::string_view c, Enum* e) override {
    return Give(f->Step("CreateInstanceEnum " + S(c)), e, "enum");
  }
  HRESULT ConnectServer(std::string_view ns, std::unique_ptr<WmiServices>* s) override {
    return Give(f->Step("ConnectServer " + S(ns)), s, "services");
  }

  Fake* f;
  std::string name;
  Props props;
  size_t next = 0;
};

HRESULT Fake::CreateLocator(std::unique_ptr<platform::WmiLocator>* locator) {
  const HRESULT hr = Step("CreateLocator");
  if (wmi::Succeeded(hr)) *locator = std::make_unique<Node>(this, "locator");
  return hr;
}

const Log kConnect = {"CoInitializeEx", "CreateLocator", R"(ConnectServer ROOT\WMI)",
                      "SetProxyBlanket"};
const Log kClose = {"release services", "release locator", "CoUninitialize"};

Log Join(std::initializer_list<Log> parts) {
  Log all;
  for (const Log& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

class WmiAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    services_.wmi = &fake_;
    services_.clock = &clock_;
    platform::InstallServices(&services_);
  }
  void TearDown() override { platform::InstallServices(nullptr); }
  Fake fake_;
  // Each pause goes into the fake's log, in order with the calls around it.
  testsupport::ManualClock clock_{
      [this](std::chrono::milliseconds ms) { fake_.Step("Sleep " + std::to_string(ms.count())); }};
  platform::Services services_;
};

// Conversions the wrappers below do not reach already.
TEST(VariantTest, ChangeTypeConvertsWithRangeChecksAndFailsWithoutChange) {
  const auto T = &Variant::Text;
  const auto U4 = &Variant::UI4;
  constexpr VarType kS = VarType::kBstr, k4 = VarType::kUI4, k8 = VarType::kUI8, kI = VarType::kI4;
  constexpr HRESULT ok = wmi::kS_OK, over = wmi::kDispE_Overflow, bad = wmi::kDispE_TypeMismatch;
  // clang-format off
  struct Case { Variant in; VarType to; HRESULT hr; Variant want; };
  const Case cases[] = {
      {Variant::I4(INT32_MIN), kS, ok, T("-2147483648")}, {Variant{}, kS, ok, T("")},
      {Variant{VarType::kI8, 1ull << 63, {}, {}}, kS, ok, T("-9223372036854775808")},
      {T("4294967296"), k4, over, {}}, {T("000000000000000000000042"), k8, ok, Variant::UI8(42)},
      {T("2147483648"), kI, over, {}}, {T("-2147483648"), kI, ok, Variant::I4(INT32_MIN)},
      {T("-1"), k4, over, {}}, {T("12a"), k4, bad, {}}, {T(" 12"), k4, bad, {}},
      {T("+5"), k4, bad, {}}, {T(""), k4, bad, {}}, {T("-"), kI, bad, {}},
      {Variant::UI8(1ull << 32), k4, over, {}}, {Variant::UI8(0xFFFFFFFFu), k4, ok, U4(0xFFFFFFFFu)},
      {Variant::I4(-1), k8, over, {}}, {Variant::I4(-1), k4, ok, U4(0xFFFFFFFFu)},
      {U4(0x80000000u), kI, ok, Variant::I4(INT32_MIN)}, {Variant::UI8(1ull << 63), kI, over, {}},
      {Variant{VarType::kI8, ~0ull, {}, {}}, k8, ok, Variant::UI8(~0ull)},
      {Variant{}, k8, ok, Variant::UI8(0)}, {Variant::Null(), kS, bad, {}},
      {Variant::Bytes({1, 2}), k4, bad, {}}, {U4(7), VarType::kUI1Array, bad, {}},
      {Variant::Bytes({1, 2}), VarType::kUI1Array, ok, Variant::Bytes({1, 2})}};
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(Show(c.in) + " -> " + std::to_string(static_cast<int>(c.to)));
    Variant v = c.in;
    ASSERT_EQ(wmi::VariantChangeType(v, c.to), c.hr);
    EXPECT_EQ(v, wmi::Succeeded(c.hr) ? c.want : c.in);
  }
}

TEST_F(WmiAccessTest, ConnectAndCloseBalanceComOnce) {
  WmiConnection c;
  ASSERT_TRUE(wmi_connect(c, R"(ROOT\WMI)"));
  EXPECT_EQ(fake_.Calls(), kConnect);
  c.extra = WmiHold(std::make_unique<Node>(&fake_, "extra"));
  wmi_close(c);
  wmi_close(c);
  EXPECT_EQ(
      fake_.Calls(),
      Join({kConnect, {"release services", "release locator", "release extra", "CoUninitialize"}}));
  {
    WmiConnection forgotten;  // the destructor closes what its owner did not
    ASSERT_TRUE(wmi_connect(forgotten, R"(ROOT\CIMV2)"));
  }
  EXPECT_EQ(fake_.Count("CoUninitialize"), 2);
}

TEST_F(WmiAccessTest, FailedConnectReleasesAndBalancesAtOnce) {
  const std::pair<const char*, Log> cases[] = {
      {"CreateLocator", {"CoInitializeEx", "CreateLocator", "CoUninitialize"}},
      {"ConnectServer",
       {"CoInitializeEx", "CreateLocator", R"(ConnectServer ROOT\WMI)", "release locator",
        "CoUninitialize"}},
      {"SetProxyBlanket", Join({kConnect, kClose})}};
  for (const auto& [step, calls] : cases) {
    SCOPED_TRACE(step);
    fake_.fail = {{step, kDenied}};
    fake_.Calls(true);
    WmiConnection c;
    EXPECT_FALSE(wmi_connect(c, R"(ROOT\WMI)"));
    EXPECT_EQ(c.hr, kDenied);
    EXPECT_TRUE(!c.com_initialized && c.services == nullptr && c.locator == nullptr);
    wmi_close(c);  // nothing left to do
    EXPECT_EQ(fake_.Calls(), calls);
    uint32_t out = 0xA5A5A5A5u;
    EXPECT_FALSE(SetFunction(1, &out));
    EXPECT_EQ(out, 0xA5A5A5A5u);
    EXPECT_EQ(fake_.Count("Sleep 30"), 0);
  }
}

TEST_F(WmiAccessTest, ThreadInSingleThreadedComKeepsIt) {
  fake_.fail = {{"CoInitializeEx", wmi::kRpcE_ChangedMode}};
  fake_.out = {{"gmOutput", Variant::UI8(0x0300)}};
  uint64_t out = 0;
  EXPECT_TRUE(GetGamingMiscSettingFunction(11, &out));
  EXPECT_EQ(out, 0x0300u);
  fake_.fail["ConnectServer"] = kDenied;  // a failed connect must not uninitialise either
  WmiConnection c;
  EXPECT_FALSE(wmi_connect(c, R"(ROOT\WMI)"));
  EXPECT_EQ(fake_.Count("CoInitializeEx"), 2);
  EXPECT_EQ(fake_.Count("CoUninitialize"), 0);
}

TEST_F(WmiAccessTest, PathUsesFirstInstanceWithANameAndDoublesBackslashes) {
  const std::string kName = "InstanceName";
  fake_.rows = {{},
                {{kName, Variant::Null()}},
                {{kName, Variant::Text("")}},
                {{kName, Variant::Text(R"(A\B\C)")}},
                {{kName, Variant::Text("never read")}}};
  WmiConnection c;
  ASSERT_TRUE(wmi_connect(c, R"(ROOT\WMI)"));
  fake_.Calls(true);
  std::string path;
  EXPECT_EQ(wmi_build_instance_path(c, "FwxAction", "SELECT * FROM FwxAction", &path), wmi::kS_OK);
  EXPECT_EQ(path, R"(FwxAction.InstanceName="A\\B\\C")");
  Log expected = {"ExecQuery SELECT * FROM FwxAction"};
  for (std::string row : {"row0", "row1", "row2", "row3"}) {
    expected.insert(expected.end(), {"Next", "Get " + row + ".InstanceName", "release " + row});
  }
  expected.push_back("release enum");
  EXPECT_EQ(fake_.Calls(), expected);
  // A failing Next ends the search with its code; no instance at all is a success code.
  fake_.fail = {{"Next", wmi::kWbemE_Failed}};
  EXPECT_EQ(wmi_build_instance_path(c, "FwxAction", "q", &path), wmi::kWbemE_Failed);
  EXPECT_EQ(path, "");
  fake_.fail.clear();
  fake_.rows.clear();
  EXPECT_EQ(wmi_build_instance_path(c, "FwxAction", "q", &path), wmi::kWbemS_False);
}

TEST_F(WmiAccessTest, PathMustFitTwoHundredSixtyWideCharacters) {
  // "FwxAction" + ".InstanceName=\"" + name + "\"" is 25 units plus the name; 259 fit.
  const std::string emoji = "\xF0\x9F\x98\x80";  // 4 bytes, 2 UTF-16 units
  std::string acutes;
  for (int i = 0; i < 234; ++i) acutes += "\xC3\xA9";  // 2 bytes, 1 unit each
  const std::pair<std::string, bool> cases[] = {
      {std::string(234, 'x'), true},         {std::string(235, 'x'), false},
      {std::string(233, 'x') + "\\", false},  // doubled: 235
      {std::string(232, 'x') + "\\", true},  {acutes, true},
      {std::string(232, 'x') + emoji, true}, {std::string(233, 'x') + emoji, false}};
  WmiConnection c;
  ASSERT_TRUE(wmi_connect(c, R"(ROOT\WMI)"));
  for (const auto& [name, fits] : cases) {
    fake_.rows = {{{"InstanceName", Variant::Text(name)}}};
    std::string path = "stale";
    const HRESULT hr = wmi_build_instance_path(c, "FwxAction", "SELECT * FROM FwxAction", &path);
    EXPECT_EQ(hr, fits ? wmi::kS_OK : wmi::kStrsafeE_InsufficientBuffer) << name.size();
    EXPECT_EQ(path.empty(), !fits) << name.size();
  }
}

TEST_F(WmiAccessTest, WrapperCallsStepByStepInOrder) {
  fake_.out = {{"gmOutput", Variant::UI8(0x11)}};
  uint32_t out = 0;
  ASSERT_TRUE(SetGamingMiscSettingFunction((5u << 8) | 0x0B, &out));
  EXPECT_EQ(out, 0x11u);
  EXPECT_EQ(fake_.Calls(),
            Join({kConnect,
                  {std::string("ExecQuery ") + kGamingQuery, "Next", "Get row0.InstanceName",
                   "release row0", "release enum", "GetObject CorlanGamingFunction",
                   "GetMethod SetGamingMiscSetting", "Put in.gmInput=BSTR:1291",
                   std::string("ExecMethod ") + kGamingPath + " SetGamingMiscSetting in",
                   "Get out.gmOutput", "release class", "release in", "release out", "Sleep 30"},
                  kClose}));
}

TEST_F(WmiAccessTest, EveryFailureExitReleasesWhatItHoldsAndSkipsThePause) {
  const std::string get = "GetObject CorlanGamingFunction", method = "GetMethod GetGamingFanSpeed",
                    put = "Put in.gmInput=BSTR:3", in = " GetGamingFanSpeed in",
                    exec = std::string("ExecMethod ") + kGamingPath + in;
  // clang-format off
  struct Case { std::string step; HRESULT hr; Log after_path; };  // `step` fails with `hr`
  const Case cases[] = {
      {"ExecQuery", wmi::kWbemE_InvalidQuery, {std::string("ExecQuery ") + kGamingQuery}},
      {"too long", wmi::kStrsafeE_InsufficientBuffer, {}},
      {"no instance", wmi::kWbemE_InvalidParameter,
       {get, method, put, "ExecMethod " + in, "release class", "release in"}},
      {"GetObject", wmi::kWbemE_InvalidClass, {get}},
      {"GetMethod", wmi::kWbemE_InvalidMethod, {get, method, "release class"}},
      {"no input object", wmi::kWbemE_InvalidMethodParameters, {get, method, "release class"}},
      {"Put", wmi::kWbemE_InvalidParameter, {get, method, put, "release class", "release in"}},
      {"ExecMethod", kDenied, {get, method, put, exec, "release class", "release in"}},
      {"exception", wmi::kWbemE_Failed, {get, method, put, exec, "release class", "release in"}},
      {"missing output", wmi::kWbemE_NotFound,
       {get, method, put, exec, "Get out.gmOutput", "release class", "release in", "release out"}}};
  // clang-format on
  for (const Case& k : cases) {
    SCOPED_TRACE(k.step);
    fake_.fail = {{k.step, k.hr}};
    if (k.step == "exception") fake_.fail = {{"ExecMethod", kThrow}};
    const std::string name = k.step == "too long" ? std::string(300, 'x') : kInstance;
    fake_.rows = {{{"InstanceName", Variant::Text(name)}}};
    if (k.step == "no instance") fake_.rows.clear();
    fake_.method_takes_input = k.step != "no input object";
    fake_.out = {{k.step == "missing output" ? "other" : "gmOutput", Variant::UI8(1)}};
    WmiConnection c;
    ASSERT_TRUE(wmi_connect(c, R"(ROOT\WMI)"));
    fake_.Calls(true);
    Variant in = Variant::Text("3"), out = Variant::Text("untouched");
    const WmiInput inputs[] = {{"gmInput", &in}};
    const WmiOutput outputs[] = {{"gmOutput", &out}};
    EXPECT_FALSE(wmi_exec_method(c, "CorlanGamingFunction", "GetGamingFanSpeed", kGamingQuery,
                                 inputs, outputs));
    EXPECT_EQ(c.hr, k.hr);
    EXPECT_EQ(out, Variant::Text("untouched"));
    const Log all = fake_.Calls(true);
    const auto path_built = std::find(all.begin(), all.end(), "release enum");
    EXPECT_EQ(path_built == all.end() ? all : Log(path_built + 1, all.end()), k.after_path);
    wmi_close(c);
    // The wrapper on the same script: false, output untouched, no pause, COM balanced.
    uint64_t value = 0x5A5A;
    EXPECT_FALSE(GetGamingFanGroupSpeedFunction(3, &value));
    EXPECT_EQ(value, 0x5A5Au);
    EXPECT_EQ(fake_.Count("Sleep 30"), 0);
    EXPECT_EQ(fake_.Calls().back(), "CoUninitialize");
  }
  // A method that ran is still no success when no output was asked for.
  fake_.fail.clear();
  WmiConnection c;
  ASSERT_TRUE(wmi_connect(c, R"(ROOT\WMI)"));
  EXPECT_FALSE(
      wmi_exec_method(c, "CorlanGamingFunction", "GetGamingFanSpeed", kGamingQuery, {}, {}));
  EXPECT_EQ(c.hr, wmi::kS_OK);
  EXPECT_EQ(fake_.Count(std::string("ExecMethod ") + kGamingPath + " GetGamingFanSpeed null"), 1);
}

template <typename In, typename Out>
std::function<bool(uint64_t, uint64_t*)> Adapt(bool (*f)(In, Out*)) {
  return [f](uint64_t in, uint64_t* out) {
    Out o = static_cast<Out>(0xDEADBEEFu);
    const bool ok = f(static_cast<In>(in), &o);
    *out = o;
    return ok;
  };
}

TEST_F(WmiAccessTest, EveryWrapperSendsDecimalTextAndConvertsItsWidth) {
  const std::string kAction = "FwxAction", kGaming = "CorlanGamingFunction";
  // clang-format off
  struct Row { std::string cls; const char* method; bool reads; decltype(Adapt(&GetFunction)) call; };
  const Row rows[] = {  // reads: 32-bit in, 64-bit out; otherwise 64-bit in, 32-bit out
      {kAction, "GetFunction", true, Adapt(&GetFunction)},
      {kAction, "SetFunction", false, Adapt(&SetFunction)},
      {kGaming, "SetGamingProfile", false, Adapt(&SetGamingProfileConfigurationFunction)},
      {kGaming, "GetGamingProfile", true, Adapt(&GetGamingProfileConfigurationFunction)},
      {kGaming, "GetGamingSysInfo", true, Adapt(&GetGamingSystemInformationFunction)},
      {kGaming, "SetGamingFanBehavior", false, Adapt(&SetGamingFanGroupBehaviorFunction)},
      {kGaming, "GetGamingFanBehavior", true, Adapt(&GetGamingFanGroupBehaviorFunction)},
      {kGaming, "SetGamingFanSpeed", false, Adapt(&SetGamingFanGroupSpeedFunction)},
      {kGaming, "GetGamingFanSpeed", true, Adapt(&GetGamingFanGroupSpeedFunction)},
      {kGaming, "SetGamingFanTable", false, Adapt(&SetGamingFanTableFunction)},
      {kGaming, "SetGamingMiscSetting", false, Adapt(&SetGamingMiscSettingFunction)},
      {kGaming, "GetGamingMiscSetting", true, Adapt(&GetGamingMiscSettingFunction)}};
  // clang-format on
  for (const Row& r : rows) {
    SCOPED_TRACE(r.method);
    const std::string ui = r.cls == kAction ? "ui" : "gm";
    const uint64_t widest_out = r.reads ? UINT64_MAX : UINT32_MAX;
    fake_.out = {{ui + "Output", Variant::Text(std::to_string(widest_out))}};
    for (std::string text : {"0", r.reads ? "4294967295" : "18446744073709551615"}) {
      fake_.Calls(true);
      uint64_t out = 0;
      ASSERT_TRUE(r.call(std::stoull(text), &out));
      EXPECT_EQ(out, widest_out);
      EXPECT_EQ(fake_.Count("ExecQuery SELECT * FROM " + r.cls), 1);
      EXPECT_EQ(fake_.Count("Put in." + ui + "Input=BSTR:" + text), 1);
      EXPECT_EQ(fake_.Count("ExecMethod " + r.cls + R"(.InstanceName="ACPI\\PNP0C14\\0_0" )" +
                            r.method + " in"),
                1);
      EXPECT_EQ(fake_.Count("Sleep 30"), 1);
    }
    // One past the output width, null and text that is no number all fail, leaving `out` alone.
    for (const Variant& bad :
         {r.reads ? Variant::Text("18446744073709551616") : Variant::UI8(1ull << 32),
          Variant::Null(), Variant::Text("0x10")}) {
      fake_.out = {{ui + "Output", bad}};
      fake_.Calls(true);
      uint64_t out = 0;
      EXPECT_FALSE(r.call(1, &out)) << Show(bad);
      EXPECT_EQ(out, 0xDEADBEEFu);
      EXPECT_EQ(fake_.Count("Sleep 30"), 0);
    }
  }
}

TEST_F(WmiAccessTest, FanTableIsInvokedWithoutInput) {
  fake_.out = {{"gmOutput", Variant::UI8(0x0102030400)}};
  uint64_t out = 0;
  ASSERT_TRUE(GetGamingFanTableFunction(7, &out));
  EXPECT_EQ(out, 0x0102030400u);
  const Log calls = fake_.Calls();
  EXPECT_EQ(fake_.Count(std::string("ExecMethod ") + kGamingPath + " GetGamingFanTable null"), 1);
  EXPECT_TRUE(std::none_of(calls.begin(), calls.end(), [](auto& s) { return s[0] == 'P'; }));
}

TEST_F(WmiAccessTest, LedResultTakesStatusByteAndTenArrayBytes) {
  std::array<uint8_t, kGamingLedResultSize> led;
  led.fill(0xEE);
  fake_.out = {{"gmReturn", Variant::UI8(0x1234)}, {"gmOutput", Variant::Bytes({3, 2, 1})}};
  ASSERT_TRUE(GetGamingLEDBehaviorFunction(&led));
  EXPECT_EQ(led, (std::array<uint8_t, 11>{0x34, 3, 2, 1, 0, 0, 0, 0, 0, 0, 0}));
  const Log calls = fake_.Calls();
  const auto put = std::find(calls.begin(), calls.end(), "Put in.gmInput=BSTR:1");
  ASSERT_TRUE(calls.end() - put > 4);
  EXPECT_EQ(Log(put + 1, put + 4),
            (Log{std::string("ExecMethod ") + kGamingPath + " GetGamingLED in", "Get out.gmReturn",
                 "Get out.gmOutput"}));
  fake_.out["gmOutput"] = Variant::Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  ASSERT_TRUE(GetGamingLEDBehaviorFunction(&led));
  EXPECT_EQ(led, (std::array<uint8_t, 11>{0x34, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  led.fill(0xEE);
  for (const Props& bad :
       {Props{{"gmReturn", Variant::UI8(0)}, {"gmOutput", Variant::UI8(5)}},
        Props{{"gmOutput", Variant::Bytes({1})}},
        Props{{"gmReturn", Variant::Null()}, {"gmOutput", Variant::Bytes({1})}}}) {
    fake_.out = bad;
    EXPECT_FALSE(GetGamingLEDBehaviorFunction(&led));
    EXPECT_EQ(led[0], 0xEE);
  }
}

TEST_F(WmiAccessTest, ConcurrentWrappersEachBalanceTheirOwnCom) {
  fake_.out = {{"gmOutput", Variant::UI8(0x0500)}};
  std::atomic<int> ok{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&ok] {
      for (int i = 0; i < 20; ++i) {
        uint64_t out = 0;
        if (GetGamingMiscSettingFunction(11, &out) && out == 0x0500) ++ok;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(ok.load(), 80);
  EXPECT_EQ(fake_.Count("CoInitializeEx"), 80);
  EXPECT_EQ(fake_.Count("CoUninitialize"), 80);
  EXPECT_EQ(fake_.Count("Sleep 30"), 80);
}

TEST_F(WmiAccessTest, FirstRowAndOptionalRowDifferOnlyWithoutRows) {
  WmiConnection c;
  ASSERT_TRUE(wmi_connect(c, R"(ROOT\CIMV2)"));
  Variant model = Variant::Text("before"), family = Variant::Text("before");
  const WmiOutput props[] = {{"Model", &model}, {"SystemFamily", &family}};
  fake_.rows = {};
  EXPECT_FALSE(wmi_query_first_row(c, "q", props));
  EXPECT_TRUE(wmi_query_optional_row(c, "q", props));
  EXPECT_EQ(model, Variant::Text("before"));
  EXPECT_EQ(fake_.Count("release enum"), 2);
  fake_.fail = {{"Next", wmi::kWbemE_Failed}};  // a failing Next delivers no row
  EXPECT_TRUE(wmi_query_optional_row(c, "q", props));
  EXPECT_FALSE(wmi_query_first_row(c, "q", props));
  EXPECT_EQ(model, Variant::Text("before"));
  fake_.fail = {{"ExecQuery", wmi::kWbemE_InvalidQuery}};
  EXPECT_FALSE(wmi_query_optional_row(c, "q", props));
  EXPECT_EQ(c.hr, wmi::kWbemE_InvalidQuery);
  // A property that cannot be read is empty; the others are still read.
  fake_.fail.clear();
  fake_.rows = {{{"SystemFamily", Variant::Text("Vexor")}}, {{"Model", Variant::Text("2nd")}}};
  EXPECT_TRUE(wmi_query_first_row(c, "q", props));
  EXPECT_EQ(model, Variant{});
  EXPECT_EQ(family, Variant::Text("Vexor"));
}

TEST_F(WmiAccessTest, FirstInstanceNeedsEveryPropertyAndEachRowWalksToTheEnd) {
  WmiConnection c;
  ASSERT_TRUE(wmi_connect(c, R"(ROOT\WMI)"));
  Variant data, size;
  const WmiOutput props[] = {{"SMBiosData", &data}, {"Size", &size}};
  fake_.rows = {{{"SMBiosData", Variant::Bytes({0xAC, 4})}, {"Size", Variant::UI4(2)}},
                {{"SMBiosData", Variant::Bytes({1})}}};
  EXPECT_TRUE(wmi_get_first_instance(c, "MSSMBios_RawSMBiosTables", props));
  EXPECT_EQ(data, Variant::Bytes({0xAC, 4}));
  EXPECT_EQ(size, Variant::UI4(2));
  EXPECT_EQ(fake_.Count("CreateInstanceEnum MSSMBios_RawSMBiosTables"), 1);

  const std::string_view names[] = {"SMBiosData", "Size"};
  std::vector<std::vector<Variant>> seen;
  const auto keep = [&](std::vector<Variant> row) { seen.push_back(std::move(row)); };
  EXPECT_TRUE(wmi_query_each_row(c, "q", keep, names));
  EXPECT_EQ(seen, (std::vector<std::vector<Variant>>{{data, size}, {Variant::Bytes({1}), {}}}));
  EXPECT_FALSE(wmi_query_each_row(c, "q", WmiRowCallback{}, names));
  EXPECT_EQ(c.hr, wmi::kWbemE_Failed);
  const auto stop = [&](std::vector<Variant>) { throw std::runtime_error("stop"); };
  EXPECT_FALSE(wmi_query_each_row(c, "q", stop, names));
  fake_.rows.pop_back();  // the second property of the only instance is missing
  fake_.rows[0].erase("Size");
  EXPECT_FALSE(wmi_get_first_instance(c, "MSSMBios_RawSMBiosTables", props));
  EXPECT_EQ(c.hr, wmi::kWbemE_NotFound);
  // An enumeration that fails after its rows ends them: the rows read count.
  fake_.rows = {{{"Size", Variant::UI4(1)}}, {{"Size", Variant::UI4(2)}}};
  fake_.after_rows = wmi::kWbemE_Failed;
  seen.clear();
  EXPECT_TRUE(wmi_query_each_row(c, "q", keep, names));
  EXPECT_EQ(seen.size(), 2u);
  fake_.fail = {{"Next", wmi::kWbemE_Failed}};
  EXPECT_FALSE(wmi_get_first_instance(c, "MSSMBios_RawSMBiosTables", props));
}

}  // namespace
