// The simulated notebook: machine profiles, the firmware state and the WMI provider, driven
// through the platform WMI seam the way the broker drives Windows.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/services.h"
#include "sim/machine_profile.h"
#include "sim/wmi.h"
#include "sim/simulated_notebook.h"
#include "support/temp_dir.h"

namespace {

using platform::WmiEnumerator;
using platform::WmiObject;
using platform::WmiServices;
using sim::MachineProfile;
using wmi::HRESULT;
using wmi::Variant;
using wmi::VarType;

const std::string kMachinesDir =
    (std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "machines").lexically_normal().string();

MachineProfile Shipped(const std::string& name) {
  return sim::LoadMachineProfile(kMachinesDir + "/" + name);
}

std::string ParseError(const std::string& text) {
  try {
    sim::ParseMachineProfile(text, "t.profile");
  } catch (const sim::ProfileError& e) {
    return e.what();
  }
  return "(parsed)";
}

// ---------------------------------------------------------------------------------------------
// Machine profile parser

TEST(MachineProfileTest, EveryShippedProfileLoads) {
  size_t loaded = 0;
  for (const auto& file : std::filesystem::directory_iterator(kMachinesDir)) {
    if (file.path().extension() != ".profile") continue;
    EXPECT_NO_THROW(Shipped(file.path().filename().string())) << file.path();
    ++loaded;
  }
  EXPECT_GE(loaded, 4u);
}

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

TEST(MachineProfileTest, ErrorsNameTheFileAndLine) {
  // A bad line is reported where it is; a section lacking a required key at its header.
  const std::pair<const char*, int> cases[] = {
      {"[state]\n\nfan = 1\n", 3},
      {"[system]\n[gpu]\n", 2},
      {"[system]\nmodel = a\nmodel = b\n", 3},
      {"[system]\n[state]\n[system]\n", 3},
      {"[state]\njust words\n", 2},
      {"[state]\noperation_mode = 256\n", 2},
      {"[state]\ngaming_profile = 0x100000000000000\n", 2},
      {"[accessibility]\nsticky_keys = 0x100000000\n", 2},
      {"[fault Frobnicate]\n", 1},
      {"[smbios]\ntype170 = 1:2:3:4\n", 2},
      {"[volume]\nname = S:\\\nfolders = EFI\\OEM\n", 3},
      {"[system]\n\n[volume]\nlabel = ESP\n[system2]\n", 3},
      {"[driver]\nhardware_id = h\ndriver_version = 1\n", 1},
  };
  for (const auto& [text, line] : cases) {
    EXPECT_EQ(ParseError(text).rfind("t.profile:" + std::to_string(line) + ": ", 0), 0u)
        << text << "gave: " << ParseError(text);
  }
  testsupport::TempDir dir;
  EXPECT_THROW(sim::LoadMachineProfile(dir.path() + "/none.profile"), sim::ProfileError);
  const std::string path = dir.path() + "/x.profile";
  std::ofstream(path) << "[system]\nmodel = Vexor\n[bogus]\n";
  try {
    sim::LoadMachineProfile(path);
    ADD_FAILURE() << "parsed";
  } catch (const sim::ProfileError& e) {
    EXPECT_EQ(std::string(e.what()).rfind(path + ":3: ", 0), 0u) << e.what();
  }
}

// ---------------------------------------------------------------------------------------------
// WQL subset

// ---------------------------------------------------------------------------------------------
// The provider through the seam

class SimWmiTest : public ::testing::Test {
 protected:
  void Load(MachineProfile profile) {
    notebook_ = std::make_shared<sim::SimulatedNotebook>(std::move(profile));
    provider_ = std::make_unique<sim::SimWmiProvider>(notebook_);
  }
  void LoadText(const std::string& text) { Load(sim::ParseMachineProfile(text, "t.profile")); }
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
  // A method of either class with a decimal input; the output as an integer (either encoding).
  uint64_t Gaming(std::string_view method, std::optional<uint64_t> input = std::nullopt) {
    return Output("CorlanGamingFunction", kGamingPath, method, input, "gmOutput");
  }
  uint64_t Fwx(std::string_view method, uint64_t input) {
    return Output("FwxAction", kFwxPath, method, input, "uiOutput");
  }
  uint64_t Output(std::string_view cls, std::string_view path, std::string_view method,
                  std::optional<uint64_t> input, std::string_view name) {
    Call c = Invoke(cls, path, method,
                    input ? std::optional(Variant::Text(std::to_string(*input))) : std::nullopt);
    EXPECT_EQ(c.hr, wmi::kS_OK) << method;
    return c.hr == wmi::kS_OK ? Integer(c.Get(name)) : ~0ull;
  }

  static uint64_t Integer(const Variant& v) {
    switch (v.type) {
      case VarType::kBstr: return std::stoull(v.text);
      case VarType::kI4: return static_cast<uint32_t>(v.bits);
      case VarType::kUI4:
      case VarType::kUI8:
      case VarType::kUI1: return v.bits;
      default: ADD_FAILURE() << "not an integer: type " << static_cast<int>(v.type); return ~0ull;
    }
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
  static constexpr const char* kFwxPath = "FwxAction.InstanceName=\"ACPI\\\\PNP0C14\\\\1_0\"";

  std::shared_ptr<sim::SimulatedNotebook> notebook_;
  std::unique_ptr<sim::SimWmiProvider> provider_;
};

TEST_F(SimWmiTest, ComInitialisationIsCountedPerThreadAndApartmentsConflict) {
  LoadText("");
  std::unique_ptr<platform::WmiLocator> locator;
  EXPECT_EQ(provider_->CreateLocator(&locator), sim::kCoE_NotInitialized);
  EXPECT_EQ(provider_->CoInitializeEx(), wmi::kS_OK);
  EXPECT_EQ(provider_->CoInitializeEx(), wmi::kS_FALSE);
  HRESULT other_first = 0, other_locator = 0;
  std::thread([&] {
    other_first = provider_->CoInitializeEx();
    provider_->CoUninitialize();
    // This thread has no COM of its own now but joins the main thread's apartment.
    std::unique_ptr<platform::WmiLocator> l;
    other_locator = provider_->CreateLocator(&l);
  }).join();
  EXPECT_EQ(other_first, wmi::kS_OK);
  EXPECT_EQ(other_locator, wmi::kS_OK);
  provider_->CoUninitialize();
  EXPECT_EQ(provider_->ComInitializations(), 1);
  provider_->CoUninitialize();
  provider_->CoUninitialize();  // unbalanced: ignored
  EXPECT_EQ(provider_->ComInitializations(), 0);

  provider_->EnterSingleThreadedApartment();
  EXPECT_EQ(provider_->CoInitializeEx(), wmi::kRpcE_ChangedMode);
  EXPECT_EQ(provider_->CreateLocator(&locator), wmi::kS_OK);
  provider_->LeaveSingleThreadedApartment();
  EXPECT_EQ(provider_->CoInitializeEx(), wmi::kS_OK);
  provider_->CoUninitialize();
  LoadText("[com]\napartment = single-threaded\n");
  EXPECT_EQ(provider_->CoInitializeEx(), wmi::kRpcE_ChangedMode);
}

TEST_F(SimWmiTest, ExecMethodWantsTheEscapedPathOfAnExistingInstanceAndADecimalInput) {
  LoadText("");
  const std::pair<const char*, HRESULT> paths[] = {
      {kGamingPath, wmi::kS_OK},
      {"corlangamingfunction.instancename=\"ACPI\\\\PNP0C14\\\\0_0\"", wmi::kS_OK},
      {"CorlanGamingFunction.InstanceName=\"ACPI\\PNP0C14\\0_0\"", sim::kWbemE_InvalidObjectPath},
      {"CorlanGamingFunction.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0", sim::kWbemE_InvalidObjectPath},
      {"CorlanGamingFunction", sim::kWbemE_InvalidObjectPath},
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
      {Variant::Text(" 11"), sim::kWbemE_TypeMismatch},
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
  // Nothing put: the input stays null. GetGamingFanTable takes none.
  EXPECT_EQ(hr(kGamingPath, "GetGamingMiscSetting", std::nullopt), wmi::kWbemE_InvalidParameter);
  auto services = Connect("ROOT\\WMI");
  std::unique_ptr<WmiObject> definition, in, out;
  ASSERT_EQ(services->GetObject("CorlanGamingFunction", &definition), wmi::kS_OK);
  EXPECT_EQ(definition->GetMethod("Frobnicate", &in), wmi::kWbemE_NotFound);
  EXPECT_EQ(definition->GetMethod("GetGamingFanTable", &in), wmi::kS_OK);
  EXPECT_EQ(in, nullptr);
  EXPECT_EQ(services->ExecMethod(kGamingPath, "GetGamingFanTable", nullptr, &out), wmi::kS_OK);
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
  // Without the switch (output bit 10) the dGPU mode is refused.
  LoadText("[state]\ndgpu_setting = 0x06\n");
  EXPECT_EQ(Gaming("SetGamingMiscSetting", 0x109), 1u);
  EXPECT_EQ(Gaming("GetGamingMiscSetting", 9), 0x600u);
}

TEST_F(SimWmiTest, AdaptorsBatteryBoostProfileAndFans) {
  LoadText("[firmware]\nfan_groups = 3\n[state]\nadaptors = 2\n"
                                "lcd_overdrive = 0xFF\n");
  EXPECT_EQ(Fwx("GetFunction", 10), 0x200u);
  notebook_->SetAcPresent(false);
  EXPECT_EQ(Fwx("GetFunction", 10), 0u);
  EXPECT_EQ(Fwx("SetFunction", 0x10A), 1u);  // the AC state is not settable
  EXPECT_EQ(Fwx("GetFunction", 11) & 0xFF, 1u);
  EXPECT_EQ((Gaming("GetGamingSysInfo", 2) >> 40) & 0xFF, 0u);
  notebook_->SetBatteryBoost(true);
  EXPECT_EQ(Gaming("GetGamingSysInfo", 2), uint64_t{1} << 40);
  EXPECT_EQ(Gaming("GetGamingSysInfo", 0), 0x300u);  // three fan groups
  // Byte 6 is the overdrive state and stays across a profile write.
  EXPECT_EQ(Gaming("SetGamingProfile", 0xAABBCCDDEE123400), 0u);
  EXPECT_EQ(Gaming("GetGamingProfile", 0), 0xAAFFCCDDEE123400u);
  EXPECT_EQ(Gaming("GetGamingProfile", 1) & 0xFF, 1u);

  EXPECT_EQ(Gaming("SetGamingFanBehavior", 0x0302), 0u);  // group 2 := 3
  EXPECT_EQ(Gaming("GetGamingFanBehavior", 2), 0x300u);
  EXPECT_EQ(Gaming("GetGamingFanBehavior", 1), 0u);
  EXPECT_EQ(Gaming("SetGamingFanBehavior", 0x0303), 1u);  // there is no group 3
  EXPECT_EQ(Gaming("SetGamingFanTable", 0x12345600), 0u);
  EXPECT_EQ(Gaming("GetGamingFanTable"), 0x12345600u);
}

TEST_F(SimWmiTest, LedStateArrivesAsReturnAndByteArray) {
  LoadText("[state]\nled_bytes = 10 20 30\nturbo_key = 2\n");
  Call c = Invoke("CorlanGamingFunction", kGamingPath, "GetGamingLED", Variant::Text("1"));
  ASSERT_EQ(c.hr, wmi::kS_OK);
  EXPECT_EQ(Integer(c.Get("gmReturn")), 0u);
  EXPECT_EQ(c.Get("gmOutput"), Variant::Bytes({0x12, 0x20, 0x30}));
  notebook_->SetTurboKeyState(1);
  c = Invoke("CorlanGamingFunction", kGamingPath, "GetGamingLED", Variant::Text("1"));
  EXPECT_EQ(c.Get("gmOutput").bytes.at(0), 0x11);
  c = Invoke("CorlanGamingFunction", kGamingPath, "GetGamingLED", Variant::Text("2"));
  EXPECT_EQ(Integer(c.Get("gmReturn")) & 0xFF, 1u);
}

TEST_F(SimWmiTest, IntegersArriveAsWmiTextOrTyped) {
  for (const bool wmi_style : {true, false}) {
    LoadText(std::string("[firmware]\ninteger_outputs = ") + (wmi_style ? "wmi" : "typed") +
             "\n[state]\noperation_mode = 3\n[video_mode]\nhorizontal = 800\nvertical = 600\n");
    Call c = Invoke("CorlanGamingFunction", kGamingPath, "GetGamingMiscSetting",
                    Variant::Text("11"));
    EXPECT_EQ(c.Get("gmOutput"), wmi_style ? Variant::Text("768") : Variant::UI8(0x300));
    c = Invoke("CorlanGamingFunction", kGamingPath, "SetGamingMiscSetting",
               Variant::Text("2059"));  // 0x80B: mode 8, refused
    EXPECT_EQ(c.Get("gmOutput"), wmi_style ? Variant::I4(1) : Variant::UI4(1));
    auto rows = Query("ROOT\\CIMV2", "SELECT * FROM CIM_VideoControllerResolution");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(Prop(*rows[0], "HorizontalResolution"),
              wmi_style ? Variant::I4(800) : Variant::UI4(800));
  }
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

TEST_F(SimWmiTest, QueriesSelectFilterAndProject) {
  LoadText("[CorlanGamingFunction]\npresent = no\n[system]\nmodel = Zephan 14\n"
           "[volume]\nname = C:\\\nlabel = Windows\n"
           "[volume]\nname = S:\\\nlabel = ESP\ndrive_letter = S:\n"
           "[video_mode]\nhorizontal = 2560\nvertical = 1440\n[video_mode]\nhorizontal = 1920\n"
           "vertical = 1080\n[video_mode]\nhorizontal = 2560\nvertical = 1600\n");
  auto rows = Query("root\\cimv2", "select * from win32_volume where label = \"esp\"");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(Prop(*rows[0], "Name"), Variant::Text("S:\\"));
  EXPECT_EQ(Prop(*rows[0], "DriveLetter"), Variant::Text("S:"));
  rows = Query("ROOT\\CIMV2", "SELECT Name, Label FROM Win32_Volume");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(Prop(*rows[0], "Label"), Variant::Text("Windows"));
  Prop(*rows[0], "FileSystem", wmi::kWbemE_NotFound);
  rows = Query("ROOT\\CIMV2", "SELECT VerticalResolution FROM CIM_VideoControllerResolution "
                              "WHERE HorizontalResolution = 2560");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(Integer(Prop(*rows[1], "VerticalResolution")), 1600u);
  rows = Query("ROOT\\CIMV2", "SELECT * FROM Win32_ComputerSystem");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(Prop(*rows[0], "Model"), Variant::Text("Zephan 14"));
  EXPECT_EQ(Prop(*rows[0], "SystemFamily").type, VarType::kNull);

  Query("ROOT\\CIMV2", "SELECT Colour FROM Win32_Volume", wmi::kWbemE_InvalidQuery);
  Query("ROOT\\CIMV2", "SELECT * FROM Win32_Volume WHERE Colour = 1", wmi::kWbemE_InvalidQuery);
  Query("ROOT\\CIMV2", "SELECT * FROM Win32_Processor", wmi::kWbemE_InvalidClass);
  Query("ROOT\\WMI", "SELECT * FROM CorlanGamingFunction", wmi::kWbemE_InvalidClass);
}

TEST_F(SimWmiTest, ConcurrentCallersKeepTheirOwnFanGroups) {
  LoadText("[firmware]\nfan_groups = 4\n[state]\noperation_mode_capability = 0xFF\n");
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int group = 0; group < 4; ++group) {
    threads.emplace_back([&, group] {
      for (uint64_t value = 1; value <= 25; ++value) {
        if (Gaming("SetGamingFanSpeed", (value << 8) | group) != 0) ++mismatches;
        if (Gaming("GetGamingFanSpeed", group) != value << 8) ++mismatches;
        Gaming("SetGamingMiscSetting", (value % 8) << 8 | 11);
        if ((Gaming("GetGamingMiscSetting", 11) & 0xFF) != 0) ++mismatches;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_LT(notebook_->operation_mode(), 8);
}

}  // namespace
