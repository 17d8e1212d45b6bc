// The simulated notebook: machine profiles, the firmware state and the WMI provider, driven
// through the platform WMI seam the way the broker drives Windows.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/services.h"
#include "sim/machine_profile.h"
#include "sim/wmi.h"
#include "sim/simulated_notebook.h"

namespace {

using platform::WmiEnumerator;
using platform::WmiObject;
using platform::WmiServices;
using sim::MachineProfile;
using wmi::HRESULT;
using wmi::Variant;
using wmi::VarType;

TEST(MachineProfileTest, ValuesAreTakenLiterallyAroundCommentsBlanksAndCrLf) {
  const MachineProfile p = sim::ParseMachineProfile(
      "# comment\r\n\r\n; another\r\n[system]\r\n  model   =  Vexor 15 X  \r\n"
      "[CorlanGamingFunction]\r\ninstance_name = A\\\\B\\C\r\n[state]\r\n"
      "operation_mode = 0x0A\r\nled_bytes = 01 ff 3\r\n[smbios]\r\n"
      "type172 = 15:1, 0x0E:0xFFFF\r\ntype170 = 0x85:8, 0x90:2:7\r\n"
      "[volume]\nname = S:\\\nfolders = \\EFI\\OEM , \\EFI\\Boot\n[volume]\nname = C:\\\n",
      "t.profile");
  EXPECT_EQ(p.system.model, "Vexor 15 X");
  EXPECT_FALSE(p.system.family.has_value());
  EXPECT_EQ(p.firmware.gaming_function.instance_name, "A\\\\B\\C");
  EXPECT_EQ(p.firmware.operation_mode, 10);
  EXPECT_EQ(p.firmware.led_bytes, (std::vector<uint8_t>{0x01, 0xFF, 0x03}));
  EXPECT_EQ(p.smbios.type172, (std::vector<std::pair<uint8_t, uint16_t>>{{15, 1}, {14, 0xFFFF}}));
  ASSERT_EQ(p.smbios.type170.size(), 2u);
  EXPECT_EQ((std::vector<int>{p.smbios.type170[1].code, p.smbios.type170[1].second_byte,
                              p.smbios.type170[1].kind}),
            (std::vector<int>{0x90, 2, 7}));
  ASSERT_EQ(p.volumes.size(), 2u);
  EXPECT_EQ(p.volumes[0].folders, (std::vector<std::string>{"\\EFI\\OEM", "\\EFI\\Boot"}));
  EXPECT_TRUE(p.volumes[1].folders.empty());
}

// The provider through the seam.
class SimWmiTest : public ::testing::Test {
 protected:
  void LoadText(const std::string& text) {
    notebook_ = std::make_shared<sim::SimulatedNotebook>(sim::ParseMachineProfile(text, "t.p"));
    provider_ = std::make_unique<sim::SimWmiProvider>(notebook_);
  }
  void TearDown() override {
    while (provider_ != nullptr && provider_->ComInitializations() > 0) provider_->CoUninitialize();
  }

  std::unique_ptr<WmiServices> Connect(std::string_view name_space) {
    EXPECT_TRUE(wmi::Succeeded(provider_->CoInitializeEx()));
    std::unique_ptr<platform::WmiLocator> locator;
    EXPECT_EQ(provider_->CreateLocator(&locator), wmi::kS_OK);
    std::unique_ptr<WmiServices> services;
    EXPECT_EQ(locator->ConnectServer(name_space, &services), wmi::kS_OK);
    return services;
  }

  struct Call {
    HRESULT hr = 0;
    std::unique_ptr<WmiObject> out;
    Variant Get(std::string_view name) const {
      Variant v;
      EXPECT_TRUE(out != nullptr && out->Get(name, &v) == wmi::kS_OK) << name;
      return v;
    }
  };

  // Invokes `method` as the broker does: input from GetMethod, the value put as given.
  Call Invoke(std::string_view cls, std::string_view path, std::string_view method,
              std::optional<Variant> input) {
    auto services = Connect("ROOT\\WMI");
    std::unique_ptr<WmiObject> definition, in;
    EXPECT_EQ(services->GetObject(cls, &definition), wmi::kS_OK);
    // A method the class lacks has no input object; ExecMethod then gets none.
    if (wmi::Succeeded(definition->GetMethod(method, &in)) && input && in != nullptr) {
      EXPECT_EQ(in->Put(cls == "FwxAction" ? "uiInput" : "gmInput", *input), wmi::kS_OK);
    }
    Call call;
    call.hr = services->ExecMethod(path, method, in.get(), &call.out);
    provider_->CoUninitialize();
    return call;
  }
  // A gaming method with a decimal input; the output as an integer.
  uint64_t Gaming(std::string_view method, uint64_t input) {
    Call c = Invoke("CorlanGamingFunction", kGamingPath, method,
                    Variant::Text(std::to_string(input)));
    EXPECT_EQ(c.hr, wmi::kS_OK) << method;
    return c.hr == wmi::kS_OK ? Integer(c.Get("gmOutput")) : ~0ull;
  }

  // An output as the WMI service delivers integers: text, or a 32-bit status.
  static uint64_t Integer(const Variant& v) {
    if (v.type == VarType::kBstr) return std::stoull(v.text);
    EXPECT_EQ(static_cast<int>(v.type), static_cast<int>(VarType::kI4));
    return static_cast<uint32_t>(v.bits);
  }

  std::vector<std::unique_ptr<WmiObject>> Query(std::string_view ns, std::string_view query,
                                                HRESULT expected = wmi::kS_OK) {
    auto services = Connect(ns);
    std::unique_ptr<WmiEnumerator> rows;
    EXPECT_EQ(services->ExecQuery(query, &rows), expected) << query;
    provider_->CoUninitialize();
    std::vector<std::unique_ptr<WmiObject>> all;
    std::unique_ptr<WmiObject> row;
    HRESULT hr = wmi::kWbemS_False;
    while (rows != nullptr && (hr = rows->Next(&row)) == wmi::kS_OK) all.push_back(std::move(row));
    EXPECT_EQ(hr, wmi::kWbemS_False);
    return all;
  }
  static Variant Prop(WmiObject& o, std::string_view name, HRESULT expected = wmi::kS_OK) {
    Variant v;
    EXPECT_EQ(o.Get(name, &v), expected) << name;
    return v;
  }

  static constexpr const char* kGamingPath =
      "CorlanGamingFunction.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\"";

  std::shared_ptr<sim::SimulatedNotebook> notebook_;
  std::unique_ptr<sim::SimWmiProvider> provider_;
};

TEST_F(SimWmiTest, ExecMethodWantsTheEscapedPathOfAnExistingInstanceAndADecimalInput) {
  LoadText("");
  const std::pair<const char*, HRESULT> paths[] = {
      {kGamingPath, wmi::kS_OK},
      {"corlangamingfunction.instancename=\"ACPI\\\\PNP0C14\\\\0_0\"", wmi::kS_OK},
      {"CorlanGamingFunction.InstanceName=\"ACPI\\PNP0C14\\0_0\"", sim::kWbemE_InvalidObjectPath},
      {"CorlanGamingFunction.InstanceName=\"acpi\\\\pnp0c14\\\\0_0\"", wmi::kWbemE_NotFound},
      {"FwxAction.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\"", wmi::kWbemE_NotFound},
      {"Nothing.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\"", wmi::kWbemE_InvalidClass},
  };
  const auto hr = [&](const char* path, const char* method, std::optional<Variant> in) {
    return Invoke("CorlanGamingFunction", path, method, std::move(in)).hr;
  };
  for (const auto& [path, expected] : paths) {
    EXPECT_EQ(hr(path, "GetGamingMiscSetting", Variant::Text("11")), expected) << path;
  }
  EXPECT_EQ(hr(kGamingPath, "GetFunction", Variant::Text("11")), wmi::kWbemE_InvalidMethod);

  const std::pair<Variant, HRESULT> inputs[] = {
      {Variant::Text("4294967295"), wmi::kS_OK},
      {Variant::Text("4294967296"), sim::kWbemE_TypeMismatch},  // a 32-bit input
      {Variant::Text("0x0B"), sim::kWbemE_TypeMismatch},
      {Variant::Text("-1"), sim::kWbemE_TypeMismatch},
      {Variant::UI4(11), sim::kWbemE_TypeMismatch},
  };
  for (const auto& [input, expected] : inputs) {
    EXPECT_EQ(hr(kGamingPath, "GetGamingMiscSetting", input), expected) << input.text;
  }
  EXPECT_EQ(hr(kGamingPath, "SetGamingFanTable", Variant::Text("18446744073709551615")),
            wmi::kS_OK);
  EXPECT_EQ(hr(kGamingPath, "SetGamingFanTable", Variant::Text("18446744073709551616")),
            sim::kWbemE_TypeMismatch);
  // Nothing put: the input stays null.
  EXPECT_EQ(hr(kGamingPath, "GetGamingMiscSetting", std::nullopt), wmi::kWbemE_InvalidParameter);
}

TEST_F(SimWmiTest, MiscSettingsAreReadBackAndOnlyCapableModesAreTaken) {
  LoadText("[state]\noperation_mode = 1\noperation_mode_capability = 0x7F\n"
                                "boot_sound = 1\ndgpu_setting = 0x01\n");
  const std::pair<uint64_t, uint64_t> steps[] = {  // SetGamingMiscSetting input, its status
      {0x50B, 0}, {0x70B, 1}, {0x10A, 1}, {0x011, 0}, {0x209, 0}};
  for (const auto& [input, status] : steps) {
    EXPECT_EQ(Gaming("SetGamingMiscSetting", input), status) << std::hex << input;
  }
  EXPECT_EQ(notebook_->operation_mode(), 5);
  EXPECT_EQ(Gaming("GetGamingMiscSetting", 11), 0x500u);
  EXPECT_EQ(Gaming("GetGamingMiscSetting", 10), 0x7F00u);  // the capability is read-only
  EXPECT_EQ(Gaming("GetGamingMiscSetting", 17), 0u);
  EXPECT_EQ(Gaming("GetGamingMiscSetting", 9), 0x200u);
  EXPECT_EQ(Gaming("GetGamingMiscSetting", 0x42) & 0xFF, 1u);
}

TEST_F(SimWmiTest, FaultsShapeInstancesOutputsAndStatus) {
  LoadText(
      "[CorlanGamingFunction]\ninstance_name = ACPI\\PNP0C14\\\\Corlan_0\n"
      "leading_instances = missing, null\n"
      "[fault GetGamingSysInfo]\noutput = text:not a number\n[fault GetGamingProfile]\n"
      "output = null\n[fault SetGamingFanSpeed]\noutput = absent\n"
      "[fault GetGamingMiscSetting]\nstatus = 3\n[fault GetGamingFanTable]\nmissing = yes\n");
  auto rows = Query("ROOT\\WMI", "SELECT * FROM CorlanGamingFunction");
  ASSERT_EQ(rows.size(), 3u);
  Prop(*rows[0], "InstanceName", wmi::kWbemE_NotFound);
  EXPECT_EQ(Prop(*rows[1], "InstanceName").type, VarType::kNull);
  // Two backslashes in a row in the name: four in the path.
  const char* path = "CorlanGamingFunction.InstanceName=\"ACPI\\\\PNP0C14\\\\\\\\Corlan_0\"";
  const auto call = [&](const char* method, const char* input) {
    Call c = Invoke("CorlanGamingFunction", path, method, Variant::Text(input));
    EXPECT_EQ(c.hr, wmi::kS_OK) << method;
    return c;
  };
  EXPECT_EQ(call("GetGamingSysInfo", "2").Get("gmOutput"), Variant::Text("not a number"));
  EXPECT_EQ(call("GetGamingProfile", "0").Get("gmOutput").type, VarType::kNull);
  Prop(*call("SetGamingFanSpeed", "0").out, "gmOutput", wmi::kWbemE_NotFound);
  // The status byte replaces the firmware's, the data stays.
  EXPECT_EQ(Integer(call("GetGamingMiscSetting", "11").Get("gmOutput")), 0x103u);
  EXPECT_EQ(Integer(call("GetGamingFanBehavior", "0").Get("gmOutput")), 0u);
  EXPECT_EQ(Invoke("CorlanGamingFunction", path, "GetGamingFanTable", std::nullopt).hr,
            wmi::kWbemE_InvalidMethod);
}

}  // namespace
