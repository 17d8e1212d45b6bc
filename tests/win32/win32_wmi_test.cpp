// The COM backend of the WMI seam against the real WMI service (Windows', or Wine's) beyond the
// contract: methods through COM, the thread's own apartment, and the VARIANT conversions.
#include <gtest/gtest.h>
#include <windows.h>
#undef GetObject
#include <oleauto.h>

#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "base/variant.h"
#include "firmware/wmi_access.h"
#include "platform/services.h"
#include "platform/win32/wmi.h"

namespace {

using platform::WmiObject;
using platform::win32::FromComVariant;
using platform::win32::ToComVariant;
using wmi::Variant;
using wmi::VarType;

struct ForeignObject final : WmiObject {
  wmi::HRESULT Get(std::string_view, Variant*) override { return wmi::kS_OK; }
  wmi::HRESULT Put(std::string_view, const Variant&) override { return wmi::kS_OK; }
  wmi::HRESULT GetMethod(std::string_view, std::unique_ptr<WmiObject>*) override { return wmi::kS_OK; }
};

// Methods through COM take only this backend's objects; a thread's own apartment is kept.
TEST(Win32Wmi, MethodsRunAndTheThreadsOwnApartmentIsKept) {
  platform::win32::Win32WmiProvider provider;
  platform::Services services;
  services.wmi = &provider;
  platform::InstallServices(&services);
  std::thread([] {
    WmiConnection c;
    ASSERT_TRUE(wmi_connect(c, "ROOT\\CIMV2"));
    std::unique_ptr<WmiObject> process_class, out, in = std::make_unique<ForeignObject>();
    ASSERT_EQ(c.services->GetObject("Win32_Process", &process_class), wmi::kS_OK);
    ASSERT_EQ(process_class->GetMethod("GetOwner", &in), wmi::kS_OK);
    EXPECT_EQ(in, nullptr) << "GetOwner takes no input";
    const std::string path = "Win32_Process.Handle=\"" + std::to_string(GetCurrentProcessId()) + "\"";
    ASSERT_EQ(c.services->ExecMethod(path, "GetOwner", nullptr, &out), wmi::kS_OK);
    Variant user;
    EXPECT_EQ(out->Get("User", &user), wmi::kS_OK);
    EXPECT_FALSE(user.text.empty());
    ForeignObject foreign;
    EXPECT_EQ(c.services->ExecMethod(path, "GetOwner", &foreign, &out), wmi::kWbemE_InvalidParameter);
    wmi_close(c);
  }).join();
  std::thread([] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    WmiConnection c;
    ASSERT_TRUE(wmi_connect(c, "ROOT\\CIMV2")) << std::hex << c.hr;
    EXPECT_FALSE(c.uninitialize_com);
    Variant model;
    const WmiOutput props[] = {{"Model", &model}};
    EXPECT_TRUE(wmi_query_first_row(c, "SELECT * FROM Win32_ComputerSystem", props));
    wmi_close(c);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK) << "COM was left once";
    CoUninitialize();
  }).join();
  platform::InstallServices(nullptr);
}

// The VARIANTs made for WMI survive oleaut32's own deep copy and read back unchanged.
TEST(Win32WmiVariant, EveryPortableTypeSurvivesOleAutomationCopies) {
  for (const Variant& value : {
           Variant{}, Variant::Null(), Variant::I4(INT32_MIN), Variant{VarType::kUI1, 0xAB, {}, {}},
           Variant::UI4(0xFFFFFFFFu), Variant{VarType::kI8, ~0ull, {}, {}}, Variant::UI8(~0ull),
           Variant{VarType::kBool, 1, {}, {}}, Variant{VarType::kBool, 0, {}, {}}, Variant::Text(""),
           Variant::Text(std::string("h\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\0x", 12)),
           Variant::Bytes({}), Variant::Bytes({0x00, 0xFF, 0x10, 0x80})}) {
    SCOPED_TRACE(static_cast<int>(value.type));
    VARIANT com, copy;
    VariantInit(&copy);
    ASSERT_EQ(ToComVariant(value, &com), S_OK);
    EXPECT_EQ(V_VT(&com), static_cast<VARTYPE>(value.type));
    EXPECT_TRUE(value.type != VarType::kBool || V_BOOL(&com) == (value.bits ? VARIANT_TRUE : VARIANT_FALSE));
    ASSERT_EQ(VariantCopy(&copy, &com), S_OK);  // deep: a new BSTR, a new SAFEARRAY
    Variant back = Variant::UI4(99);
    EXPECT_EQ(FromComVariant(copy, &back), S_OK);
    EXPECT_EQ(back, value);
    VariantClear(&com), VariantClear(&copy);
  }
  VARIANT com;
  EXPECT_EQ(ToComVariant(Variant{static_cast<VarType>(0x4242), 0, {}, {}}, &com), DISP_E_BADVARTYPE);
  EXPECT_EQ(V_VT(&com), VT_EMPTY);
}

// FromComVariant of a `vt` VARIANT; a refusal is DISP_E_TYPEMISMATCH, leaves the output alone.
template <typename Fill>
Variant Read(VARTYPE vt, Fill fill) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = vt;
  fill(v);
  Variant out = Variant::UI4(42);
  const HRESULT hr = FromComVariant(v, &out);
  VariantClear(&v);
  if (hr == S_OK) return out;
  EXPECT_EQ(hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(out, Variant::UI4(42));
  return Variant::Text("refused");
}

TEST(Win32WmiVariant, NarrowIntegersWidenOddArraysReadAndOtherTypesAreRefused) {
  EXPECT_EQ(Read(VT_I1, [](VARIANT& v) { V_I1(&v) = -3; }), Variant::I4(-3));
  EXPECT_EQ(Read(VT_I2, [](VARIANT& v) { V_I2(&v) = -300; }), Variant::I4(-300));
  EXPECT_EQ(Read(VT_UI2, [](VARIANT& v) { V_UI2(&v) = 65535; }), Variant::UI4(65535));
  EXPECT_EQ(Read(VT_UINT, [](VARIANT& v) { V_UINT(&v) = 0xFFFFFFFFu; }), Variant::UI4(0xFFFFFFFFu));
  EXPECT_EQ(Read(VT_BSTR, [](VARIANT& v) { V_BSTR(&v) = nullptr; }), Variant::Text(""));
  EXPECT_EQ(Read(VT_ARRAY | VT_UI1, [](VARIANT& v) { V_ARRAY(&v) = nullptr; }), Variant::Bytes({}));
  EXPECT_EQ(Read(VT_ARRAY | VT_UI1, [](VARIANT& v) {  // from index 5: the order is kept
              SAFEARRAYBOUND from_five{3, 5};
              V_ARRAY(&v) = SafeArrayCreate(VT_UI1, 1, &from_five);
              for (LONG i = 5; i < 8; ++i) {
                BYTE b = static_cast<BYTE>(0xA0 + i);
                SafeArrayPutElement(V_ARRAY(&v), &i, &b);
              }
            }), Variant::Bytes({0xA5, 0xA6, 0xA7}));
  const Variant refused = Variant::Text("refused");
  EXPECT_EQ(Read(VT_R8, [](VARIANT& v) { V_R8(&v) = 1.5; }), refused);
  EXPECT_EQ(Read(VT_ARRAY | VT_I4, [](VARIANT& v) { V_ARRAY(&v) = SafeArrayCreateVector(VT_I4, 0, 2); }), refused);
  EXPECT_EQ(Read(VT_ARRAY | VT_UI1, [](VARIANT& v) {
              SAFEARRAYBOUND square[2] = {{2, 0}, {2, 0}};
              V_ARRAY(&v) = SafeArrayCreate(VT_UI1, 2, square);
            }), refused);
}

// The core's portable VariantChangeType must agree with oleaut32's for the wrappers' conversions.
TEST(Win32WmiVariant, PortableConversionsAgreeWithOleAutomation) {
  const std::pair<Variant, VarType> cases[] = {
      {Variant::UI4(0xFFFFFFFFu), VarType::kBstr},  {Variant::UI8(~0ull), VarType::kBstr},
      {Variant::Text("18446744073709551615"), VarType::kUI8}, {Variant::Text("4294967296"), VarType::kUI4},
      {Variant::Text("12a"), VarType::kUI8},        {Variant::I4(-1), VarType::kUI8},
      {Variant::I4(-1), VarType::kUI4},             {Variant::Null(), VarType::kUI8}};
  for (const auto& [value, to] : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(value.type)) + value.text + "->" + std::to_string(static_cast<int>(to)));
    Variant portable = value;
    const wmi::HRESULT portable_hr = wmi::VariantChangeType(portable, to);
    VARIANT com;
    ASSERT_EQ(ToComVariant(value, &com), S_OK);
    const HRESULT ole_hr = VariantChangeType(&com, &com, 0, static_cast<VARTYPE>(to));
    EXPECT_EQ(portable_hr, SUCCEEDED(ole_hr) ? S_OK : ole_hr);
    Variant ole = value;
    EXPECT_EQ(SUCCEEDED(ole_hr) ? FromComVariant(com, &ole) : S_OK, S_OK);
    EXPECT_EQ(ole, portable);
    VariantClear(&com);
  }
}

}  // namespace
