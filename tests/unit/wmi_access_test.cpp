// The firmware's WMI calls against the simulated notebook, wrapped to count live objects and COM
// initialisations (all released and balanced after every exit) and to fail one named step.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/variant.h"
#include "firmware/wmi_access.h"
#include "platform/services.h"
#include "sim/machine_profile.h"
#include "sim/simulated_notebook.h"
#include "sim/wmi.h"
#include "support/manual_clock.h"

namespace {

using wmi::HRESULT, wmi::Variant, wmi::VarType;
using Obj = std::unique_ptr<platform::WmiObject>;
using Enum = std::unique_ptr<platform::WmiEnumerator>;

constexpr HRESULT kDenied = static_cast<HRESULT>(0x80041003);  // WBEM_E_ACCESS_DENIED
constexpr HRESULT kThrow = 0x7EADBEEF;                         // the step throws
constexpr const char* kGamingQuery = "SELECT * FROM CorlanGamingFunction";

struct Counting final : platform::WmiProvider {
  explicit Counting(const std::string& profile)
      : real(std::make_shared<sim::SimulatedNotebook>(sim::ParseMachineProfile(profile, "t.profile"))) {}
  HRESULT Step(std::string_view step) const {  // the failure planted for `step`, or S_OK
    if (step == fail && fail_hr == kThrow) throw std::runtime_error("provider fault");
    return step == fail ? fail_hr : wmi::kS_OK;
  }
  HRESULT CoInitializeEx() override { const HRESULT hr = real.CoInitializeEx(); com += wmi::Succeeded(hr); return hr; }
  void CoUninitialize() override { --com, real.CoUninitialize(); }
  HRESULT CreateLocator(std::unique_ptr<platform::WmiLocator>* locator) override;
  HRESULT CreateUnsecuredApartment(std::unique_ptr<platform::WmiUnsecuredApartment>* a) override {
    return real.CreateUnsecuredApartment(a);
  }

  sim::SimWmiProvider real;
  std::string fail;  // the step that fails with fail_hr instead of reaching the notebook
  HRESULT fail_hr = 0;
  std::atomic<int> live{0}, com{0};
};

struct Counted {
  explicit Counted(Counting* c) : c(c) { ++c->live; }
  ~Counted() { --c->live; }
  template <typename Call>
  HRESULT Run(std::string_view step, Call call) const {
    const HRESULT hr = c->Step(step);
    return hr != wmi::kS_OK ? hr : call();
  }
  Counting* c;
};

template <typename W, typename T, typename Call>
HRESULT Give(Counting* c, std::string_view step, std::unique_ptr<T>* to, Call call) {
  if (const HRESULT hr = c->Step(step); hr != wmi::kS_OK) return hr;
  std::unique_ptr<T> got;
  const HRESULT hr = call(&got);
  if (got) *to = std::make_unique<W>(c, std::move(got));
  return hr;
}

struct Object final : platform::WmiObject, Counted {
  Object(Counting* c, Obj o) : Counted(c), o(std::move(o)) {}
  HRESULT Get(std::string_view n, Variant* v) override { return o->Get(n, v); }
  HRESULT Put(std::string_view n, const Variant& v) override { return Run("Put", [&] { return o->Put(n, v); }); }
  HRESULT GetMethod(std::string_view m, Obj* in) override {
    return Give<Object>(c, "GetMethod", in, [&](Obj* p) { return o->GetMethod(m, p); });
  }
  Obj o;
};

struct Rows final : platform::WmiEnumerator, Counted {
  Rows(Counting* c, Enum e) : Counted(c), e(std::move(e)) {}
  HRESULT Next(Obj* row) override { return Give<Object>(c, "Next", row, [&](Obj* p) { return e->Next(p); }); }
  Enum e;
};

struct Services final : platform::WmiServices, Counted {
  Services(Counting* c, std::unique_ptr<platform::WmiServices> s) : Counted(c), s(std::move(s)) {}
  HRESULT SetProxyBlanket() override { return Run("SetProxyBlanket", [&] { return s->SetProxyBlanket(); }); }
  HRESULT ExecQuery(std::string_view q, Enum* rows) override {
    return Give<Rows>(c, "ExecQuery", rows, [&](Enum* p) { return s->ExecQuery(q, p); });
  }
  HRESULT GetObject(std::string_view n, Obj* o) override {
    return Give<Object>(c, "GetObject", o, [&](Obj* p) { return s->GetObject(n, p); });
  }
  HRESULT ExecMethod(std::string_view path, std::string_view m, platform::WmiObject* in, Obj* out) override {
    platform::WmiObject* real_in = in != nullptr ? static_cast<Object*>(in)->o.get() : nullptr;
    return Give<Object>(c, "ExecMethod", out, [&](Obj* p) { return s->ExecMethod(path, m, real_in, p); });
  }
  HRESULT CreateInstanceEnum(std::string_view n, Enum* rows) override {
    return Give<Rows>(c, "CreateInstanceEnum", rows, [&](Enum* p) { return s->CreateInstanceEnum(n, p); });
  }
  HRESULT ExecNotificationQueryAsync(std::string_view q, int32_t f, platform::WmiStubSink* k) override {
    return s->ExecNotificationQueryAsync(q, f, k);
  }
  std::unique_ptr<platform::WmiServices> s;
};

struct Locator final : platform::WmiLocator, Counted {
  Locator(Counting* c, std::unique_ptr<platform::WmiLocator> l) : Counted(c), l(std::move(l)) {}
  HRESULT ConnectServer(std::string_view ns, std::unique_ptr<platform::WmiServices>* s) override {
    return Give<Services>(c, "ConnectServer", s, [&](auto* p) { return l->ConnectServer(ns, p); });
  }
  std::unique_ptr<platform::WmiLocator> l;
};

HRESULT Counting::CreateLocator(std::unique_ptr<platform::WmiLocator>* locator) {
  return Give<Locator>(this, "CreateLocator", locator, [&](auto* p) { return real.CreateLocator(p); });
}

class WmiAccessTest : public ::testing::Test {
 protected:
  void SetUp() override { Boot(""), services_.clock = &clock_; }
  void TearDown() override { ExpectBalanced(), platform::InstallServices(nullptr); }
  void Boot(const std::string& profile) {
    if (wmi_) ExpectBalanced();
    wmi_ = std::make_unique<Counting>(profile);
    services_.wmi = wmi_.get();
    platform::InstallServices(&services_);
  }
  void Fail(const std::string& step, HRESULT hr) { wmi_->fail = step, wmi_->fail_hr = hr; }
  void ExpectBalanced() {
    EXPECT_EQ(std::pair(wmi_->live.load(), wmi_->com.load()), std::pair(0, 0)) << "live objects, COM initialisations";
  }

  std::unique_ptr<Counting> wmi_;
  std::atomic<int> pauses_{0};
  testsupport::ManualClock clock_{[this](std::chrono::milliseconds ms) { pauses_ += ms.count() == 30; }};
  platform::Services services_;
};

// A failed connect releases and balances at once; a thread's own single-threaded apartment is kept.
TEST_F(WmiAccessTest, ConnectionsBalanceComAndFailedOnesReleaseAtOnce) {
  {
    WmiConnection c, forgotten;
    ASSERT_TRUE(wmi_connect(c, R"(ROOT\WMI)"));
    EXPECT_EQ(wmi_->com.load(), 1);
    Obj cls;
    ASSERT_EQ(c.services->GetObject("CorlanGamingFunction", &cls), wmi::kS_OK);
    c.extra = WmiHold(std::move(cls));
    wmi_close(c);
    wmi_close(c);
    ExpectBalanced();
    ASSERT_TRUE(wmi_connect(forgotten, R"(ROOT\CIMV2)"));
  }
  ExpectBalanced();
  const struct { const char* step; const char* ns; HRESULT hr; } cases[] = {
      {"CreateLocator", R"(ROOT\WMI)", kDenied}, {"", R"(ROOT\Nowhere)", wmi::kWbemE_InvalidNamespace},
      {"SetProxyBlanket", R"(ROOT\WMI)", kDenied}, {"ConnectServer", R"(ROOT\WMI)", kDenied}};
  for (const bool sta : {false, true}) {
    if (sta) wmi_->real.EnterSingleThreadedApartment();
    for (const auto& k : cases) {
      SCOPED_TRACE(k.ns + std::string(" ") + k.step);
      Fail(k.step, k.hr);
      WmiConnection c;
      EXPECT_FALSE(wmi_connect(c, k.ns));
      EXPECT_EQ(c.hr, k.hr);
      EXPECT_TRUE(!c.com_initialized && c.services == nullptr && c.locator == nullptr);
      ExpectBalanced();
      wmi_close(c);  // nothing left to do
    }
    wmi_->fail = "";
    uint64_t out = 0;
    EXPECT_TRUE(GetGamingMiscSettingFunction(11, &out));
  }
}

TEST_F(WmiAccessTest, PathUsesFirstInstanceWithANameAndFitsTwoHundredSixtyUnits) {
  // "FwxAction" + ".InstanceName=\"" + name + "\"" is 25 units plus the name; 259 fit.
  std::string acutes;
  for (int i = 0; i < 234; ++i) acutes += "\xC3\xA9";  // 2 bytes, 1 unit each
  const std::pair<std::string, std::string> cases[] = {
      {R"(A\B\C)", R"(FwxAction.InstanceName="A\\B\\C")"},
      {std::string(234, 'x'), "FwxAction.InstanceName=\"" + std::string(234, 'x') + "\""},
      {std::string(235, 'x'), ""}, {std::string(233, 'x') + "\\", ""},  // doubled: 235
      {std::string(232, 'x') + "\\", "FwxAction.InstanceName=\"" + std::string(232, 'x') + "\\\\\""},
      {acutes, "FwxAction.InstanceName=\"" + acutes + "\""},
      {std::string(233, 'x') + "\xF0\x9F\x98\x80", ""}};  // the emoji: 4 bytes, 2 UTF-16 units
  for (const auto& [name, expected] : cases) {
    Boot("[FwxAction]\ninstance_name = " + name + "\nleading_instances = missing, null, empty\n");
    WmiConnection c;
    ASSERT_TRUE(wmi_connect(c, R"(ROOT\WMI)"));
    std::string path = "stale";
    EXPECT_EQ(wmi_build_instance_path(c, "FwxAction", "SELECT * FROM FwxAction", &path),
              expected.empty() ? wmi::kStrsafeE_InsufficientBuffer : wmi::kS_OK) << name.size();
    EXPECT_EQ(path, expected) << name.size();
    // A failing Next ends the search with its code; no instance at all is a success code.
    for (const HRESULT next : {wmi::kWbemE_Failed, wmi::kWbemS_False}) {
      Fail("Next", next);
      EXPECT_EQ(wmi_build_instance_path(c, "FwxAction", "SELECT * FROM FwxAction", &path), next);
      EXPECT_EQ(path, "");
      wmi_->fail = "";
    }
  }
}

TEST_F(WmiAccessTest, EveryFailureExitReleasesWhatItHoldsAndSkipsThePause) {
  const std::string fault = "[fault GetGamingFanSpeed]\n";
  struct Case { const char* what; std::string profile, fail; HRESULT hr; const char* method = "GetGamingFanSpeed"; };
  const Case cases[] = {
      {"no class", "[CorlanGamingFunction]\npresent = no\n", "", wmi::kWbemE_InvalidClass},
      {"too long", "[CorlanGamingFunction]\ninstance_name = " + std::string(300, 'x') + "\n", "",
       wmi::kStrsafeE_InsufficientBuffer},
      {"no instance", "", "Next", wmi::kWbemS_False},  // the empty path is refused
      {"GetObject", "", "GetObject", wmi::kWbemE_InvalidClass},
      {"no method", fault + "missing = yes\n", "", wmi::kWbemE_NotFound},
      {"no input object", "", "", wmi::kWbemE_InvalidMethodParameters, "GetGamingFanTable"},
      {"Put", "", "Put", wmi::kWbemE_InvalidParameter},
      {"ExecMethod", fault + "exec_error = 0x80041003\n", "", kDenied},
      {"exception", "", "ExecMethod", kThrow},
      {"missing output", fault + "output = absent\n", "", wmi::kWbemE_NotFound}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    Boot(k.profile);
    Fail(k.fail, k.hr);
    WmiConnection c;
    ASSERT_TRUE(wmi_connect(c, R"(ROOT\WMI)"));
    Variant in = Variant::Text("3"), out = Variant::Text("untouched");
    const WmiInput inputs[] = {{"gmInput", &in}};
    const WmiOutput outputs[] = {{"gmOutput", &out}};
    EXPECT_FALSE(wmi_exec_method(c, "CorlanGamingFunction", k.method, kGamingQuery, inputs, outputs));
    const HRESULT expected = k.hr == kThrow ? wmi::kWbemE_Failed
                             : k.hr == wmi::kWbemS_False ? sim::kWbemE_InvalidObjectPath : k.hr;
    EXPECT_EQ(c.hr, expected);
    EXPECT_EQ(out, Variant::Text("untouched"));
    wmi_close(c);
    ExpectBalanced();
    uint64_t value = 0x5A5A;  // the wrapper on the same notebook
    EXPECT_EQ(GetGamingFanGroupSpeedFunction(3, &value), k.method != std::string("GetGamingFanSpeed"));
    EXPECT_EQ(value == 0x5A5Au, k.method == std::string("GetGamingFanSpeed"));
  }
  EXPECT_EQ(pauses_.load(), 1) << "only the one call that succeeded paused";
  // A method that ran is still no success when no output was asked for.
  Boot("");
  WmiConnection c;
  ASSERT_TRUE(wmi_connect(c, R"(ROOT\WMI)"));
  EXPECT_FALSE(wmi_exec_method(c, "CorlanGamingFunction", "GetGamingFanTable", kGamingQuery, {}, {}));
  EXPECT_EQ(c.hr, wmi::kS_OK);
}

// Conversions the wrappers below do not reach (win32_tests compares others with oleaut32's).
TEST(VariantTest, ChangeTypeConvertsWithRangeChecksAndFailsWithoutChange) {
  const auto T = &Variant::Text;
  constexpr VarType kS = VarType::kBstr, k4 = VarType::kUI4, k8 = VarType::kUI8, kI = VarType::kI4;
  constexpr HRESULT ok = wmi::kS_OK, over = wmi::kDispE_Overflow, bad = wmi::kDispE_TypeMismatch;
  struct Case { Variant in; VarType to; HRESULT hr; Variant want; };
  const Case cases[] = {
      {Variant::I4(INT32_MIN), kS, ok, T("-2147483648")}, {Variant{}, kS, ok, T("")},
      {Variant{VarType::kI8, 1ull << 63, {}, {}}, kS, ok, T("-9223372036854775808")},
      {T("000000000000000000000042"), k8, ok, Variant::UI8(42)}, {T("2147483648"), kI, over, {}},
      {T("-2147483648"), kI, ok, Variant::I4(INT32_MIN)}, {T("-1"), k4, over, {}}, {T(" 12"), k4, bad, {}},
      {T("+5"), k4, bad, {}}, {T(""), k4, bad, {}}, {T("-"), kI, bad, {}},
      {Variant::UI8(1ull << 32), k4, over, {}}, {Variant::UI4(0x80000000u), kI, ok, Variant::I4(INT32_MIN)},
      {Variant{VarType::kI8, ~0ull, {}, {}}, k8, ok, Variant::UI8(~0ull)}, {Variant::Null(), kS, bad, {}},
      {Variant::Bytes({1, 2}), k4, bad, {}}, {Variant::UI4(7), VarType::kUI1Array, bad, {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.in.type)) + c.in.text + " -> " + std::to_string(static_cast<int>(c.to)));
    Variant v = c.in;
    ASSERT_EQ(wmi::VariantChangeType(v, c.to), c.hr);
    EXPECT_EQ(v, wmi::Succeeded(c.hr) ? c.want : c.in);
  }
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

// Decimal text within the method's input width; the output fits the wrapper's width or fails.
TEST_F(WmiAccessTest, EveryWrapperSendsDecimalTextAndConvertsItsWidth) {
  struct Row { const char* method; bool reads; decltype(Adapt(&GetFunction)) call; };
  const Row rows[] = {  // each shape of wrapper; reads: 32-bit in, 64-bit out, writes the reverse
      {"GetFunction", true, Adapt(&GetFunction)}, {"SetFunction", false, Adapt(&SetFunction)},
      {"SetGamingFanSpeed", false, Adapt(&SetGamingFanGroupSpeedFunction)},
      {"GetGamingFanTable", true, Adapt(&GetGamingFanTableFunction)}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.method);
    const std::string fault = std::string("[fault ") + r.method + "]\noutput = text:";
    const uint64_t widest = r.reads ? UINT64_MAX : UINT32_MAX;
    Boot(fault + std::to_string(widest) + "\n");
    for (const uint64_t in : {uint64_t{0}, r.reads ? uint64_t{UINT32_MAX} : UINT64_MAX}) {
      uint64_t out = 0;
      ASSERT_TRUE(r.call(in, &out)) << in;
      EXPECT_EQ(out, widest);
    }
    EXPECT_EQ(pauses_.exchange(0), 2);
    for (const std::string bad : {r.reads ? "text:18446744073709551616" : "text:4294967296",
                                  "null", "text:0x10"}) {
      Boot(std::string("[fault ") + r.method + "]\noutput = " + bad + "\n");
      uint64_t out = 0;
      EXPECT_FALSE(r.call(1, &out)) << bad;
      EXPECT_EQ(out, 0xDEADBEEFu);
    }
    EXPECT_EQ(pauses_.exchange(0), 0);
  }
}

TEST_F(WmiAccessTest, LedResultTakesStatusByteAndTenArrayBytes) {
  std::array<uint8_t, kGamingLedResultSize> led;
  Boot("[state]\nled_bytes = 04 02 01 04 05 06 07 08 09 0a 0b 0c\n[fault GetGamingLED]\nstatus = 0x34\n");
  ASSERT_TRUE(GetGamingLEDBehaviorFunction(&led));
  EXPECT_EQ(led, (std::array<uint8_t, 11>{0x34, 4, 2, 1, 4, 5, 6, 7, 8, 9, 10}));
  for (const char* bad : {"text:5", "null", "absent"}) {
    Boot(std::string("[fault GetGamingLED]\noutput = ") + bad + "\n");
    led.fill(0xEE);
    EXPECT_FALSE(GetGamingLEDBehaviorFunction(&led)) << bad;
    EXPECT_EQ(led[0], 0xEE);
  }
}

TEST_F(WmiAccessTest, RowQueriesDifferOnlyWithoutRowsAndEachRowWalksToTheEnd) {
  Boot("[volume]\nname = C:\\\nlabel = Windows\n[volume]\nname = S:\\\n"
       "[video_mode]\nhorizontal = 800\nvertical = 600\n[video_mode]\nhorizontal = 1\nvertical = 1\nfails = yes\n");
  WmiConnection c;
  ASSERT_TRUE(wmi_connect(c, R"(ROOT\CIMV2)"));
  Variant name = Variant::Text("before"), label = Variant::Text("before");
  const WmiOutput props[] = {{"Name", &name}, {"Label", &label}};
  const char* none = "SELECT * FROM Win32_Volume WHERE Name = 'X:\\\\'";
  EXPECT_FALSE(wmi_query_first_row(c, none, props));
  EXPECT_TRUE(wmi_query_optional_row(c, none, props));
  EXPECT_EQ(name, Variant::Text("before"));
  EXPECT_FALSE(wmi_query_optional_row(c, "SELECT * FROM Nowhere", props));
  EXPECT_EQ(c.hr, wmi::kWbemE_InvalidClass);
  const WmiOutput odd[] = {{"Name", &name}, {"NoSuchProperty", &label}};
  EXPECT_TRUE(wmi_query_first_row(c, "SELECT * FROM Win32_Volume", odd));
  EXPECT_EQ(name, Variant::Text("C:\\"));
  EXPECT_EQ(label, Variant{}) << "a property that cannot be read is empty; the others are read";
  Fail("Next", wmi::kWbemE_Failed);  // a failing Next delivers no row
  EXPECT_TRUE(wmi_query_optional_row(c, "SELECT * FROM Win32_Volume", props));
  EXPECT_FALSE(wmi_query_first_row(c, "SELECT * FROM Win32_Volume", props));
  EXPECT_FALSE(wmi_get_first_instance(c, "Win32_Volume", props));
  wmi_->fail = "";

  const std::string_view names[] = {"Name", "Label"};
  std::vector<std::vector<Variant>> seen;
  const auto keep = [&](std::vector<Variant> row) { seen.push_back(std::move(row)); };
  EXPECT_TRUE(wmi_query_each_row(c, "SELECT * FROM Win32_Volume", keep, names));
  EXPECT_EQ(seen, (std::vector<std::vector<Variant>>{{Variant::Text("C:\\"), Variant::Text("Windows")},
                                                     {Variant::Text("S:\\"), Variant::Null()}}));
  EXPECT_FALSE(wmi_query_each_row(c, "SELECT * FROM Win32_Volume", WmiRowCallback{}, names));
  EXPECT_EQ(c.hr, wmi::kWbemE_Failed) << "a callback that throws ends the walk";
  // An enumeration that fails after its rows ends them: the rows read count.
  seen.clear();
  const std::string_view modes[] = {"HorizontalResolution"};
  EXPECT_TRUE(wmi_query_each_row(c, "SELECT * FROM CIM_VideoControllerResolution", keep, modes));
  EXPECT_EQ(seen.size(), 1u);
  EXPECT_TRUE(wmi_get_first_instance(c, "Win32_Volume", props));
  EXPECT_FALSE(wmi_get_first_instance(c, "Win32_Volume", odd)) << "needs every property";
  EXPECT_EQ(c.hr, wmi::kWbemE_NotFound);
}

}  // namespace
