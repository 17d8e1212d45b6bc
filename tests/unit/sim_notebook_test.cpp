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

#include "firmware/smbios.h"
#include "firmware/smbios_table.h"
#include "platform/services.h"
#include "sim/machine_profile.h"
#include "sim/wmi.h"
#include "sim/simulated_notebook.h"
#include "sim/wql.h"
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

TEST(MachineProfileTest, ShippedProfilesDescribeTheirMachines) {
  const MachineProfile vexor = Shipped("vexor-default.profile");
  EXPECT_EQ(vexor.system.model, "Vexor 16 GX");
  EXPECT_TRUE(vexor.firmware.gaming_function.present);
  EXPECT_EQ(vexor.firmware.gaming_function.instance_name, "ACPI\\PNP0C14\\0_0");
  ASSERT_EQ(vexor.volumes.size(), 2u);
  EXPECT_EQ(vexor.volumes[1].label, "ESP");
  EXPECT_EQ(vexor.volumes[1].name, "S:\\");
  EXPECT_EQ(vexor.video_modes.size(), 3u);

  const MachineProfile bare = Shipped("bare.profile");
  EXPECT_FALSE(bare.firmware.gaming_function.present);
  EXPECT_FALSE(bare.firmware.fwx_action.present);

  const MachineProfile two = Shipped("two-adaptor.profile");
  EXPECT_EQ(two.firmware.adaptors, 2);
  EXPECT_TRUE(two.firmware.battery_boost);

  const MachineProfile faulty = Shipped("faulty-firmware.profile");
  ASSERT_NE(faulty.firmware.FaultFor("GetGamingFanTable"), nullptr);
  EXPECT_TRUE(faulty.firmware.FaultFor("GetGamingFanTable")->missing);
  EXPECT_EQ(faulty.firmware.gaming_function.leading_instances,
            (std::vector<sim::InstanceDefect>{sim::InstanceDefect::kMissingName,
                                              sim::InstanceDefect::kNullName}));
  EXPECT_EQ(faulty.firmware.FaultFor("GetFunction")->exec_error, static_cast<int32_t>(0x80041001));
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
  EXPECT_EQ(p.firmware.gaming_function.instance_name, "A\\\\B\\C");
  EXPECT_EQ(p.firmware.operation_mode, 10);
  EXPECT_EQ(p.firmware.led_bytes, (std::vector<uint8_t>{0x01, 0xFF, 0x03}));
  EXPECT_EQ(p.smbios.type172, (std::vector<std::pair<uint8_t, uint16_t>>{{15, 1}, {14, 0xFFFF}}));
  ASSERT_EQ(p.smbios.type170.size(), 2u);
  EXPECT_EQ(p.smbios.type170[1].code, 0x90);
  EXPECT_EQ(p.smbios.type170[1].second_byte, 2);
  EXPECT_EQ(p.smbios.type170[1].kind, 7);
  EXPECT_FALSE(p.system.family.has_value());
  ASSERT_EQ(p.volumes.size(), 2u);
  EXPECT_EQ(p.volumes[0].folders, (std::vector<std::string>{"\\EFI\\OEM", "\\EFI\\Boot"}));
  EXPECT_TRUE(p.volumes[1].folders.empty());
}

TEST(MachineProfileTest, ErrorsNameTheLine) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"[state]\n\nfan = 1\n", "t.profile:3: unknown key 'fan' in [state]"},
      {"[system]\n[gpu]\n", "t.profile:2: unknown section [gpu]"},
      {"[system extra]\n", "t.profile:1: unknown section [system extra]"},
      {"[system]\nmodel = a\nmodel = b\n", "t.profile:3: key 'model' given twice in [system]"},
      {"[system]\n[state]\n[system]\n", "t.profile:3: section [system] appears twice"},
      {"model = a\n", "t.profile:1: key 'model' before the first [section]"},
      {"[state]\njust words\n", "t.profile:2: expected 'key = value' or [section]"},
      {"[state\n", "t.profile:1: expected ']'"},
      {"[state]\noperation_mode = 256\n", "t.profile:2: value 256 is out of range 0..255"},
      {"[state]\noperation_mode = 1x\n", "t.profile:2: '1x' is not a number"},
      {"[state]\noperation_mode =\n", "t.profile:2: '' is not a number"},
      {"[state]\ngaming_profile = 0x100000000000000\n", "t.profile:2:"},
      {"[state]\nac_present = maybe\n", "t.profile:2: 'maybe' is not yes or no"},
      {"[state]\nadaptors = 3\n", "t.profile:2: adaptors 3 is out of range 0..2"},
      {"[state]\nled_bytes = 100\n", "t.profile:2: '100' is not a hex byte"},
      {"[state]\nled_bytes =\n", "t.profile:2: expected 1 to 64 hex bytes"},
      {"[firmware]\ninteger_outputs = text\n", "t.profile:2: 'text' is not wmi or typed"},
      {"[com]\napartment = both\n", "t.profile:2: 'both' is not multithreaded or single-threaded"},
      {"[accessibility]\nsticky_keys = 0x100000000\n",
       "t.profile:2: sticky_keys 0x100000000 is out of range 0..4294967295"},
      {"[firmware]\nfan_groups = 0\n", "t.profile:2: fan_groups must be 1..8"},
      {"[fault]\n", "t.profile:1: [fault] needs a method name: [fault METHOD]"},
      {"[fault Frobnicate]\n", "t.profile:1: unknown firmware method 'Frobnicate' in [fault]"},
      {"[fault GetFunction]\n[fault GetFunction]\n", "t.profile:2: section [fault GetFunction] appears twice"},
      {"[fault GetFunction]\nstatus = 0\n", "t.profile:2: status must be 1..255"},
      {"[fault GetFunction]\nexec_error = 5\n", "t.profile:2: exec_error must be a failure HRESULT"},
      {"[fault GetFunction]\noutput = garbage\n", "t.profile:2: 'garbage' is not null, absent or text:..."},
      {"[CorlanGamingFunction]\nleading_instances = missing, bogus\n", "t.profile:2: 'bogus' is not missing"},
      {"[CorlanGamingFunction]\ninstance_name =\n", "t.profile:2: the value must not be empty"},
      {"[misc_settings]\n11 = 4\n", "t.profile:2: [misc_settings] 11 is set in [state]"},
      {"[functions]\nac = 4\n", "t.profile:2: unknown key 'ac' in [functions]"},
      {"[smbios]\ntype172 = 15\n", "t.profile:2: expected FUNCTION:VALUE, got '15'"},
      {"[smbios]\ntype170 = 1:2:3:4\n", "t.profile:2: expected CODE:KIND"},
      {"[volume]\nname = S:\\\nfolders = EFI\\OEM\n",
       "t.profile:3: folder 'EFI\\OEM' must start with a backslash (\\EFI\\OEM)"},
      {"[volume]\nname = S:\\\nfolders = \\EFI,,\\OEM\n", "t.profile:3: folder '' must start"},
      {"[video_mode]\nhorizontal = 0\n", "t.profile:2: a resolution must be 1..65535"},
      // A section that lacks a required key is reported at its header.
      {"[system]\n\n[volume]\nlabel = ESP\n[system2]\n", "t.profile:3: [volume] needs a name"},
      {"[video_mode]\nhorizontal = 800\n", "t.profile:1: [video_mode] needs horizontal and vertical"},
      {"[driver]\ndriver_key = k\n", "t.profile:1: [driver] needs a hardware_id"},
      {"[driver]\nhardware_id = h\ndriver_version = 1\n",
       "t.profile:1: [driver] driver_version needs a driver_key"},
  };
  for (const auto& c : cases) {
    const std::string error = ParseError(c.text);
    EXPECT_EQ(error.rfind(c.message, 0), 0u) << "profile:\n" << c.text << "gave: " << error;
  }
}

TEST(MachineProfileTest, MissingFileIsAProfileError) {
  testsupport::TempDir dir;
  EXPECT_THROW(sim::LoadMachineProfile(dir.path() + "/none.profile"), sim::ProfileError);
  const std::string path = dir.path() + "/x.profile";
  std::ofstream(path) << "[system]\nmodel = Vexor\n[bogus]\n";
  try {
    sim::LoadMachineProfile(path);
    FAIL() << "parsed";
  } catch (const sim::ProfileError& e) {
    EXPECT_EQ(std::string(e.what()), path + ":3: unknown section [bogus]");
  }
}

// ---------------------------------------------------------------------------------------------
// WQL subset

TEST(WqlTest, ParsesTheBrokersQueries) {
  auto q = sim::ParseWql("SELECT * FROM Win32_Volume Where Label='ESP'");
  ASSERT_TRUE(q);
  EXPECT_TRUE(q->properties.empty());
  EXPECT_EQ(q->class_name, "Win32_Volume");
  ASSERT_TRUE(q->where);
  EXPECT_EQ(q->where->property, "Label");
  EXPECT_FALSE(q->where->is_number);
  EXPECT_EQ(q->where->text, "ESP");

  q = sim::ParseWql("select HorizontalResolution,VerticalResolution from CIM_VideoControllerResolution where RefreshRate = 60");
  ASSERT_TRUE(q);
  EXPECT_EQ(q->properties, (std::vector<std::string>{"HorizontalResolution", "VerticalResolution"}));
  ASSERT_TRUE(q->where);
  EXPECT_TRUE(q->where->is_number);
  EXPECT_EQ(q->where->number, 60u);

  q = sim::ParseWql("SELECT * FROM Win32_Volume WHERE Name=\"S:\\\"");
  ASSERT_TRUE(q);
  EXPECT_EQ(q->where->text, "S:\\");
}

TEST(WqlTest, RejectsEverythingElse) {
  for (const char* bad : {"", "SELECT", "SELECT * FROM", "SELECT FROM X", "SELECT a, FROM X",
                          "SELECT * X", "SELECT * FROM X Y", "SELECT * FROM X WHERE",
                          "SELECT * FROM X WHERE a", "SELECT * FROM X WHERE a = ",
                          "SELECT * FROM X WHERE a = 'b' AND c = 1", "SELECT * FROM X WHERE a < 1",
                          "SELECT * FROM X WHERE a = 'open", "SELECT * FROM X WHERE a = b",
                          "SELECT * FROM X WHERE a = 12ab", "DELETE FROM X", "SELECT * FROM X;",
                          "SELECT * FROM FROM"}) {
    EXPECT_FALSE(sim::ParseWql(bad)) << bad;
  }
}

// ---------------------------------------------------------------------------------------------
// The provider through the seam

class SimWmiTest : public ::testing::Test {
 protected:
  void Load(MachineProfile profile) {
    notebook_ = std::make_shared<sim::SimulatedNotebook>(std::move(profile));
    provider_ = std::make_unique<sim::SimWmiProvider>(notebook_);
  }
  void LoadText(const std::string& text) { Load(sim::ParseMachineProfile(text, "t.profile")); }
  void LoadShipped(const std::string& name) { Load(Shipped(name)); }

  void TearDown() override {
    while (provider_ != nullptr && provider_->ComInitializations() > 0) provider_->CoUninitialize();
  }

  std::unique_ptr<WmiServices> Connect(std::string_view name_space) {
    const HRESULT init = provider_->CoInitializeEx();
    EXPECT_TRUE(wmi::Succeeded(init)) << std::hex << init;
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
      EXPECT_NE(out, nullptr);
      if (out != nullptr) {
        EXPECT_EQ(out->Get(name, &v), wmi::kS_OK) << name;
      }
      return v;
    }
  };

  // Invokes `method` as the broker does: input from GetMethod, the value put as decimal text.
  Call Invoke(std::string_view cls, std::string_view path, std::string_view method,
              std::optional<Variant> input) {
    auto services = Connect("ROOT\\WMI");
    std::unique_ptr<WmiObject> definition;
    EXPECT_EQ(services->GetObject(cls, &definition), wmi::kS_OK);
    std::unique_ptr<WmiObject> in;
    // A method the class lacks has no input object; ExecMethod then gets none.
    if (wmi::Succeeded(definition->GetMethod(method, &in)) && input && in != nullptr) {
      const std::string name = InputName(cls);
      EXPECT_EQ(in->Put(name, *input), wmi::kS_OK);
    }
    Call call;
    call.hr = services->ExecMethod(path, method, in.get(), &call.out);
    provider_->CoUninitialize();
    return call;
  }
  static std::string InputName(std::string_view cls) {
    return cls == "FwxAction" ? "uiInput" : "gmInput";
  }

  static std::string Decimal(uint64_t v) { return std::to_string(v); }

  // Gaming-function method with a decimal input; the output as an integer (either encoding).
  uint64_t Gaming(std::string_view method, std::optional<uint64_t> input = std::nullopt) {
    Call c = Invoke("CorlanGamingFunction", kGamingPath, method,
                    input ? std::optional<Variant>(Variant::Text(Decimal(*input))) : std::nullopt);
    EXPECT_EQ(c.hr, wmi::kS_OK) << method;
    return c.hr == wmi::kS_OK ? Integer(c.Get("gmOutput")) : ~0ull;
  }
  uint64_t Fwx(std::string_view method, uint64_t input) {
    Call c = Invoke("FwxAction", kFwxPath, method, Variant::Text(Decimal(input)));
    EXPECT_EQ(c.hr, wmi::kS_OK) << method;
    return c.hr == wmi::kS_OK ? Integer(c.Get("uiOutput")) : ~0ull;
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

  static std::vector<std::unique_ptr<WmiObject>> Drain(WmiEnumerator& e) {
    std::vector<std::unique_ptr<WmiObject>> rows;
    std::unique_ptr<WmiObject> row;
    HRESULT hr;
    while ((hr = e.Next(&row)) == wmi::kS_OK) rows.push_back(std::move(row));
    EXPECT_EQ(hr, wmi::kWbemS_False);
    return rows;
  }

  std::vector<std::unique_ptr<WmiObject>> Query(std::string_view ns, std::string_view query,
                                                HRESULT expected = wmi::kS_OK) {
    auto services = Connect(ns);
    std::unique_ptr<WmiEnumerator> rows;
    EXPECT_EQ(services->ExecQuery(query, &rows), expected) << query;
    provider_->CoUninitialize();
    return rows != nullptr ? Drain(*rows) : std::vector<std::unique_ptr<WmiObject>>{};
  }

  static Variant Prop(WmiObject& o, std::string_view name, HRESULT expected = wmi::kS_OK) {
    Variant v;
    EXPECT_EQ(o.Get(name, &v), expected) << name;
    return v;
  }

  static constexpr const char* kGamingPath = "CorlanGamingFunction.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\"";
  static constexpr const char* kFwxPath = "FwxAction.InstanceName=\"ACPI\\\\PNP0C14\\\\1_0\"";

  std::shared_ptr<sim::SimulatedNotebook> notebook_;
  std::unique_ptr<sim::SimWmiProvider> provider_;
};

TEST_F(SimWmiTest, ComInitialisationIsCountedPerThread) {
  LoadShipped("vexor-default.profile");
  std::unique_ptr<platform::WmiLocator> locator;
  EXPECT_EQ(provider_->CreateLocator(&locator), sim::kCoE_NotInitialized);

  EXPECT_EQ(provider_->CoInitializeEx(), wmi::kS_OK);
  EXPECT_EQ(provider_->CoInitializeEx(), wmi::kS_FALSE);
  EXPECT_EQ(provider_->ComInitializations(), 2);
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
  EXPECT_EQ(provider_->CoInitializeEx(), wmi::kS_OK);
  provider_->CoUninitialize();

  provider_->EnterSingleThreadedApartment();
  EXPECT_EQ(provider_->CoInitializeEx(), wmi::kRpcE_ChangedMode);
  EXPECT_EQ(provider_->ComInitializations(), 0);
  EXPECT_EQ(provider_->CreateLocator(&locator), wmi::kS_OK);
  provider_->LeaveSingleThreadedApartment();
  EXPECT_EQ(provider_->CoInitializeEx(), wmi::kS_OK);
}

TEST_F(SimWmiTest, ProfileCanMakeEveryThreadSingleThreaded) {
  LoadText("[com]\napartment = single-threaded\n");
  EXPECT_EQ(provider_->CoInitializeEx(), wmi::kRpcE_ChangedMode);
  std::unique_ptr<platform::WmiLocator> locator;
  EXPECT_EQ(provider_->CreateLocator(&locator), wmi::kS_OK);
}

TEST_F(SimWmiTest, NamespacesCompareWithoutCase) {
  LoadShipped("vexor-default.profile");
  ASSERT_EQ(provider_->CoInitializeEx(), wmi::kS_OK);
  std::unique_ptr<platform::WmiLocator> locator;
  ASSERT_EQ(provider_->CreateLocator(&locator), wmi::kS_OK);
  for (const char* ok : {"ROOT\\WMI", "root\\wmi", "Root\\CimV2", "\\\\.\\root\\cimv2"}) {
    std::unique_ptr<WmiServices> s;
    EXPECT_EQ(locator->ConnectServer(ok, &s), wmi::kS_OK) << ok;
    EXPECT_NE(s, nullptr);
  }
  for (const char* bad : {"ROOT\\DEFAULT", "ROOT", "WMI", "ROOT\\WMI\\", ""}) {
    std::unique_ptr<WmiServices> s;
    EXPECT_EQ(locator->ConnectServer(bad, &s), wmi::kWbemE_InvalidNamespace) << bad;
  }
  // The firmware lives in ROOT\WMI only.
  std::unique_ptr<WmiServices> cim;
  ASSERT_EQ(locator->ConnectServer("ROOT\\CIMV2", &cim), wmi::kS_OK);
  std::unique_ptr<WmiObject> definition;
  EXPECT_EQ(cim->GetObject("CorlanGamingFunction", &definition), wmi::kWbemE_NotFound);
}

TEST_F(SimWmiTest, ExecMethodWantsTheEscapedPathOfAnExistingInstance) {
  LoadShipped("vexor-default.profile");
  const auto input = Variant::Text("11");
  EXPECT_EQ(Invoke("CorlanGamingFunction", kGamingPath, "GetGamingMiscSetting", input).hr, wmi::kS_OK);
  EXPECT_EQ(Invoke("CorlanGamingFunction", "corlangamingfunction.instancename=\"ACPI\\\\PNP0C14\\\\0_0\"",
                   "GetGamingMiscSetting", input).hr,
            wmi::kS_OK);
  const struct {
    const char* path;
    HRESULT hr;
  } cases[] = {
      {"CorlanGamingFunction.InstanceName=\"ACPI\\PNP0C14\\0_0\"", sim::kWbemE_InvalidObjectPath},
      {"CorlanGamingFunction.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0", sim::kWbemE_InvalidObjectPath},
      {"CorlanGamingFunction.InstanceName=ACPI", sim::kWbemE_InvalidObjectPath},
      {"CorlanGamingFunction", sim::kWbemE_InvalidObjectPath},
      {"", sim::kWbemE_InvalidObjectPath},
      {"CorlanGamingFunction.InstanceName=\"ACPI\\\\PNP0C14\\\\0_1\"", wmi::kWbemE_NotFound},
      {"CorlanGamingFunction.InstanceName=\"acpi\\\\pnp0c14\\\\0_0\"", wmi::kWbemE_NotFound},
      {"FwxAction.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\"", wmi::kWbemE_NotFound},
      {"Nothing.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\"", wmi::kWbemE_InvalidClass},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Invoke("CorlanGamingFunction", c.path, "GetGamingMiscSetting", input).hr, c.hr) << c.path;
  }
  EXPECT_EQ(Invoke("CorlanGamingFunction", kGamingPath, "GetFunction", input).hr, wmi::kWbemE_InvalidMethod);
}

TEST_F(SimWmiTest, InputsMustArriveAsDecimalText) {
  LoadShipped("vexor-default.profile");
  const auto hr = [&](std::string_view method, std::optional<Variant> in) {
    return Invoke("CorlanGamingFunction", kGamingPath, method, std::move(in)).hr;
  };
  EXPECT_EQ(hr("GetGamingMiscSetting", Variant::Text("0")), wmi::kS_OK);
  EXPECT_EQ(hr("GetGamingMiscSetting", Variant::Text("4294967295")), wmi::kS_OK);
  EXPECT_EQ(hr("GetGamingMiscSetting", Variant::Text("4294967296")), sim::kWbemE_TypeMismatch);
  EXPECT_EQ(hr("SetGamingFanTable", Variant::Text("18446744073709551615")), wmi::kS_OK);
  EXPECT_EQ(hr("SetGamingFanTable", Variant::Text("18446744073709551616")), sim::kWbemE_TypeMismatch);
  EXPECT_EQ(hr("GetGamingMiscSetting", Variant::UI4(11)), sim::kWbemE_TypeMismatch);
  EXPECT_EQ(hr("SetGamingMiscSetting", Variant::UI8(11)), sim::kWbemE_TypeMismatch);
  for (const char* text : {"", "0x0B", "-1", " 11", "11 ", "1e3", "+1"}) {
    EXPECT_EQ(hr("GetGamingMiscSetting", Variant::Text(text)), sim::kWbemE_TypeMismatch) << text;
  }
  // Nothing put: the input stays null.
  EXPECT_EQ(hr("GetGamingMiscSetting", std::nullopt), wmi::kWbemE_InvalidParameter);
  auto services = Connect("ROOT\\WMI");
  std::unique_ptr<WmiObject> out;
  EXPECT_EQ(services->ExecMethod(kGamingPath, "GetGamingMiscSetting", nullptr, &out),
            wmi::kWbemE_InvalidParameter);
  std::unique_ptr<WmiObject> definition, in;
  ASSERT_EQ(services->GetObject("CorlanGamingFunction", &definition), wmi::kS_OK);
  ASSERT_EQ(definition->GetMethod("GetGamingProfile", &in), wmi::kS_OK);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(Prop(*in, "gmInput").type, VarType::kNull);
  EXPECT_EQ(definition->GetMethod("Frobnicate", &in), wmi::kWbemE_NotFound);
  // GetGamingFanTable takes none.
  EXPECT_EQ(definition->GetMethod("GetGamingFanTable", &in), wmi::kS_OK);
  EXPECT_EQ(in, nullptr);
  EXPECT_EQ(services->ExecMethod(kGamingPath, "GetGamingFanTable", nullptr, &out), wmi::kS_OK);
}

TEST_F(SimWmiTest, OperationModeSetIsReadBackAndPersists) {
  LoadShipped("vexor-default.profile");
  EXPECT_EQ(Gaming("GetGamingMiscSetting", 11), 0x100u);     // mode 1
  EXPECT_EQ(Gaming("GetGamingMiscSetting", 10), 0x7F00u);    // capability, whole
  EXPECT_EQ(Gaming("SetGamingMiscSetting", 0x50B), 0u);      // mode 5
  EXPECT_EQ(Gaming("GetGamingMiscSetting", 11), 0x500u);
  EXPECT_EQ(notebook_->operation_mode(), 5);
  // Mode 7 is missing from the capability 0x7F: refused, mode unchanged.
  EXPECT_EQ(Gaming("SetGamingMiscSetting", 0x70B), 1u);
  EXPECT_EQ(Gaming("GetGamingMiscSetting", 11), 0x500u);
  // The capability is read-only; unknown settings answer status 1.
  EXPECT_EQ(Gaming("SetGamingMiscSetting", 0x10A), 1u);
  EXPECT_EQ(Gaming("GetGamingMiscSetting", 10), 0x7F00u);
  EXPECT_EQ(Gaming("GetGamingMiscSetting", 0x42) & 0xFF, 1u);
  // Boot sound and the dGPU mode switch.
  EXPECT_EQ(Gaming("GetGamingMiscSetting", 17), 0x100u);
  EXPECT_EQ(Gaming("SetGamingMiscSetting", 0x011), 0u);
  EXPECT_EQ(Gaming("GetGamingMiscSetting", 17), 0u);
  EXPECT_EQ(Gaming("GetGamingMiscSetting", 9), 0x100u);
  EXPECT_EQ(Gaming("SetGamingMiscSetting", 0x209), 0u);
  EXPECT_EQ(Gaming("GetGamingMiscSetting", 9), 0x200u);
}

TEST_F(SimWmiTest, TwoAdaptorMachineAnswersItsOwnLayouts) {
  LoadShipped("two-adaptor.profile");
  EXPECT_EQ(Fwx("GetFunction", 10), 0x200u);
  notebook_->SetAcPresent(false);
  EXPECT_EQ(Fwx("GetFunction", 10), 0u);
  EXPECT_EQ(Fwx("SetFunction", 0x10A), 1u);  // the AC state is not settable

  const uint64_t sysinfo = Gaming("GetGamingSysInfo", 2);
  EXPECT_EQ(sysinfo & 0xFF, 0u);
  EXPECT_EQ((sysinfo >> 40) & 0xFF, 1u);  // battery boost
  EXPECT_EQ(Gaming("GetGamingSysInfo", 0), 0x300u);  // three fan groups

  // No switch (output bit 10), byte 1 = 2; refused.
  EXPECT_EQ(Gaming("GetGamingMiscSetting", 9), 0x600u);
  EXPECT_EQ(Gaming("SetGamingMiscSetting", 0x109), 1u);
  // No overdrive: byte 6 reads 0xFF and stays so across a profile write.
  EXPECT_EQ((Gaming("GetGamingProfile", 0) >> 48) & 0xFF, 0xFFu);
  EXPECT_EQ(Gaming("SetGamingProfile", 0x0000000000123400), 0u);
  EXPECT_EQ(Gaming("GetGamingProfile", 0), 0x00FF000000123400u);
}

TEST_F(SimWmiTest, OneAdaptorAcAndProfileBytes) {
  LoadShipped("vexor-default.profile");
  EXPECT_EQ(Fwx("GetFunction", 10), 0x100u);
  EXPECT_EQ(Fwx("GetFunction", 11) & 0xFF, 1u);  // no such function
  EXPECT_EQ((Gaming("GetGamingSysInfo", 2) >> 40) & 0xFF, 0u);
  notebook_->SetBatteryBoost(true);
  EXPECT_EQ((Gaming("GetGamingSysInfo", 2) >> 40) & 0xFF, 1u);
  EXPECT_EQ(Gaming("GetGamingProfile", 0), 0x0001000000000000u);  // overdrive 1 in byte 6
  EXPECT_EQ(Gaming("GetGamingProfile", 1) & 0xFF, 1u);
  EXPECT_EQ(Gaming("SetGamingProfile", 0xAABBCCDDEEFF1100), 0u);
  EXPECT_EQ(Gaming("GetGamingProfile", 0), 0xAABBCCDDEEFF1100u);
}

TEST_F(SimWmiTest, FanSettingsRoundTripPerGroup) {
  LoadShipped("vexor-default.profile");
  EXPECT_EQ(Gaming("SetGamingFanBehavior", 0x0301), 0u);   // group 1 := 3
  EXPECT_EQ(Gaming("GetGamingFanBehavior", 1), 0x300u);
  EXPECT_EQ(Gaming("GetGamingFanBehavior", 0), 0u);
  EXPECT_EQ(Gaming("SetGamingFanBehavior", 0x0302), 1u);   // there is no group 2
  EXPECT_EQ(Gaming("GetGamingFanBehavior", 2) & 0xFF, 1u);
  EXPECT_EQ(Gaming("SetGamingFanSpeed", 0x5A00), 0u);
  EXPECT_EQ(Gaming("GetGamingFanSpeed", 0), 0x5A00u);
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

TEST(SimWmiEncodingTest, WmiStyleAndTypedStyle) {
  for (const bool wmi_style : {true, false}) {
    auto notebook = std::make_shared<sim::SimulatedNotebook>(sim::ParseMachineProfile(
        std::string("[firmware]\ninteger_outputs = ") + (wmi_style ? "wmi" : "typed") +
            "\n[state]\noperation_mode = 3\n[video_mode]\nhorizontal = 800\nvertical = 600\n",
        "t.profile"));
    sim::SimWmiProvider provider(notebook);
    ASSERT_EQ(provider.CoInitializeEx(), wmi::kS_OK);
    std::unique_ptr<platform::WmiLocator> locator;
    ASSERT_EQ(provider.CreateLocator(&locator), wmi::kS_OK);
    std::unique_ptr<WmiServices> services;
    ASSERT_EQ(locator->ConnectServer("ROOT\\WMI", &services), wmi::kS_OK);
    const std::string path = "CorlanGamingFunction.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\"";
    std::unique_ptr<WmiObject> definition, in, out;
    ASSERT_EQ(services->GetObject("CorlanGamingFunction", &definition), wmi::kS_OK);
    ASSERT_EQ(definition->GetMethod("GetGamingMiscSetting", &in), wmi::kS_OK);
    ASSERT_EQ(in->Put("gmInput", Variant::Text("11")), wmi::kS_OK);
    ASSERT_EQ(services->ExecMethod(path, "GetGamingMiscSetting", in.get(), &out), wmi::kS_OK);
    Variant v;
    ASSERT_EQ(out->Get("gmOutput", &v), wmi::kS_OK);
    EXPECT_EQ(v, wmi_style ? Variant::Text("768") : Variant::UI8(0x300));
    ASSERT_EQ(definition->GetMethod("SetGamingMiscSetting", &in), wmi::kS_OK);
    ASSERT_EQ(in->Put("gmInput", Variant::Text("2059")), wmi::kS_OK);  // 0x80B: mode 8, refused
    ASSERT_EQ(services->ExecMethod(path, "SetGamingMiscSetting", in.get(), &out), wmi::kS_OK);
    ASSERT_EQ(out->Get("gmOutput", &v), wmi::kS_OK);
    EXPECT_EQ(v, wmi_style ? Variant::I4(1) : Variant::UI4(1));

    ASSERT_EQ(locator->ConnectServer("ROOT\\CIMV2", &services), wmi::kS_OK);
    std::unique_ptr<WmiEnumerator> rows;
    ASSERT_EQ(services->ExecQuery("SELECT * FROM CIM_VideoControllerResolution", &rows), wmi::kS_OK);
    std::unique_ptr<WmiObject> row;
    ASSERT_EQ(rows->Next(&row), wmi::kS_OK);
    ASSERT_EQ(row->Get("HorizontalResolution", &v), wmi::kS_OK);
    EXPECT_EQ(v, wmi_style ? Variant::I4(800) : Variant::UI4(800));
    provider.CoUninitialize();
  }
}

TEST_F(SimWmiTest, FaultyFirmwareProfile) {
  LoadShipped("faulty-firmware.profile");
  // Instances: one without InstanceName, one with a null one, then the real one.
  auto rows = Query("ROOT\\WMI", "SELECT * FROM CorlanGamingFunction");
  ASSERT_EQ(rows.size(), 3u);
  Prop(*rows[0], "InstanceName", wmi::kWbemE_NotFound);
  EXPECT_EQ(Prop(*rows[1], "InstanceName").type, VarType::kNull);
  EXPECT_EQ(Prop(*rows[2], "InstanceName"), Variant::Text("ACPI\\PNP0C14\\\\Corlan_0"));
  rows = Query("ROOT\\WMI", "SELECT InstanceName FROM FwxAction");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(Prop(*rows[0], "InstanceName"), Variant::Text(""));

  // Two backslashes in a row in the name: four in the path.
  const char* path = "CorlanGamingFunction.InstanceName=\"ACPI\\\\PNP0C14\\\\\\\\Corlan_0\"";
  const auto call = [&](const char* method, const char* input) {
    return Invoke("CorlanGamingFunction", path, method, Variant::Text(input));
  };
  Call c = call("GetGamingSysInfo", "2");
  ASSERT_EQ(c.hr, wmi::kS_OK);
  EXPECT_EQ(c.Get("gmOutput"), Variant::Text("not a number"));
  c = call("GetGamingProfile", "0");
  ASSERT_EQ(c.hr, wmi::kS_OK);
  EXPECT_EQ(c.Get("gmOutput").type, VarType::kNull);
  c = call("SetGamingFanSpeed", "0");
  ASSERT_EQ(c.hr, wmi::kS_OK);
  Prop(*c.out, "gmOutput", wmi::kWbemE_NotFound);
  // The status byte replaces the firmware's, the data stays.
  c = call("GetGamingMiscSetting", "11");
  ASSERT_EQ(c.hr, wmi::kS_OK);
  EXPECT_EQ(Integer(c.Get("gmOutput")), 0x103u);
  EXPECT_EQ(Invoke("CorlanGamingFunction", path, "GetGamingFanTable", std::nullopt).hr,
            wmi::kWbemE_InvalidMethod);
  // A method without fault still works on the same instance.
  c = call("GetGamingFanBehavior", "0");
  EXPECT_EQ(c.hr, wmi::kS_OK);
  EXPECT_EQ(Integer(c.Get("gmOutput")), 0u);

  auto services = Connect("ROOT\\WMI");
  std::unique_ptr<WmiObject> definition, in;
  ASSERT_EQ(services->GetObject("CorlanGamingFunction", &definition), wmi::kS_OK);
  EXPECT_EQ(definition->GetMethod("GetGamingFanTable", &in), wmi::kWbemE_NotFound);
  EXPECT_EQ(Invoke("FwxAction", "FwxAction.InstanceName=\"ACPI\\\\PNP0C14\\\\1_0\"", "GetFunction",
                   Variant::Text("10")).hr,
            wmi::kWbemE_Failed);
}

TEST_F(SimWmiTest, BareMachineHasNoFirmwareClasses) {
  LoadShipped("bare.profile");
  Query("ROOT\\WMI", "SELECT * FROM CorlanGamingFunction", wmi::kWbemE_InvalidClass);
  Query("ROOT\\WMI", "SELECT * FROM FwxAction", wmi::kWbemE_InvalidClass);
  auto services = Connect("ROOT\\WMI");
  std::unique_ptr<WmiObject> definition, out;
  EXPECT_EQ(services->GetObject("FwxAction", &definition), wmi::kWbemE_NotFound);
  EXPECT_EQ(services->ExecMethod(kFwxPath, "GetFunction", nullptr, &out), wmi::kWbemE_InvalidClass);
  EXPECT_TRUE(Query("ROOT\\CIMV2", "SELECT * FROM Win32_Volume Where Label='ESP'").empty());
}

TEST_F(SimWmiTest, QueriesSelectFilterAndProject) {
  LoadShipped("vexor-default.profile");
  auto rows = Query("ROOT\\CIMV2", "SELECT * FROM Win32_Volume Where Label='ESP'");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(Prop(*rows[0], "Name"), Variant::Text("S:\\"));
  EXPECT_EQ(Prop(*rows[0], "DriveLetter"), Variant::Text("S:"));
  // WQL text comparison ignores case; keywords too.
  EXPECT_EQ(Query("root\\cimv2", "select * from win32_volume where label = \"esp\"").size(), 1u);

  rows = Query("ROOT\\CIMV2", "SELECT Name, Label FROM Win32_Volume");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(Prop(*rows[0], "Label"), Variant::Text("Windows"));
  Prop(*rows[0], "FileSystem", wmi::kWbemE_NotFound);

  rows = Query("ROOT\\CIMV2", "SELECT VerticalResolution FROM CIM_VideoControllerResolution WHERE HorizontalResolution = 2560");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(Integer(Prop(*rows[0], "VerticalResolution")), 1440u);
  EXPECT_EQ(Integer(Prop(*rows[1], "VerticalResolution")), 1600u);
  EXPECT_TRUE(Query("ROOT\\CIMV2", "SELECT * FROM Win32_Volume WHERE Label = 'Data'").empty());

  Query("ROOT\\CIMV2", "SELECT Colour FROM Win32_Volume", wmi::kWbemE_InvalidQuery);
  Query("ROOT\\CIMV2", "SELECT * FROM Win32_Volume WHERE Colour = 1", wmi::kWbemE_InvalidQuery);
  Query("ROOT\\CIMV2", "SELECT * FROM Win32_Volume WHERE Label = 'ESP' OR 1 = 1", wmi::kWbemE_InvalidQuery);
  Query("ROOT\\CIMV2", "SELECT * FROM Win32_Processor", wmi::kWbemE_InvalidClass);
  Query("ROOT\\CIMV2", "SELECT * FROM MSSMBios_RawSMBiosTables", wmi::kWbemE_InvalidClass);
}

TEST_F(SimWmiTest, ComputerSystemRowAndNullTexts) {
  LoadShipped("vexor-default.profile");
  auto rows = Query("ROOT\\CIMV2", "SELECT * FROM Win32_ComputerSystem");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(Prop(*rows[0], "Model"), Variant::Text("Vexor 16 GX"));
  EXPECT_EQ(Prop(*rows[0], "SystemFamily"), Variant::Text("Vexor Gaming"));
  EXPECT_EQ(Prop(*rows[0], "Manufacturer"), Variant::Text("Calvane"));

  LoadText("[system]\nmodel = Zephan 14\n[volume]\nname = D:\\\n");
  rows = Query("ROOT\\CIMV2", "SELECT * FROM Win32_ComputerSystem");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(Prop(*rows[0], "SystemFamily").type, VarType::kNull);
  rows = Query("ROOT\\CIMV2", "SELECT * FROM Win32_Volume");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(Prop(*rows[0], "Label").type, VarType::kNull);
  EXPECT_TRUE(Query("ROOT\\CIMV2", "SELECT * FROM CIM_VideoControllerResolution").empty());
}

// The table as the broker fetches it (get_raw_smbios_table over the installed provider).
TEST_F(SimWmiTest, RawSmbiosTableDecodes) {
  LoadShipped("vexor-default.profile");
  platform::Services services;
  services.wmi = provider_.get();
  platform::InstallServices(&services);
  SmbiosRawTable table;
  const bool fetched = get_raw_smbios_table(&table);
  platform::InstallServices(nullptr);
  ASSERT_TRUE(fetched);
  EXPECT_EQ(table.major_version, 3);
  EXPECT_EQ(table.minor_version, 4);
  EXPECT_EQ(table.length, static_cast<int32_t>(table.data.size()));
  const std::vector<SmbiosStructure> structures = walk_smbios_structures(table);
  ASSERT_EQ(structures.size(), 5u);
  EXPECT_EQ(structures[0].type, 0);
  EXPECT_EQ(smbios_string(structures[0], structures[0].formatted[4]), "Calvane Firmware Inc.");
  EXPECT_EQ(smbios_string(structures[0], structures[0].formatted[8]), "03/14/2024");
  EXPECT_EQ(structures[1].type, 1);
  EXPECT_EQ(smbios_string(structures[1], structures[1].formatted[4]), "Calvane");
  EXPECT_EQ(smbios_string(structures[1], structures[1].formatted[5]), "Vexor 16 GX");
  EXPECT_EQ(smbios_string(structures[1], structures[1].formatted[0x1A]), "Vexor Gaming");
  EXPECT_EQ(structures[4].type, 127);
  EXPECT_EQ(structures[4].next_offset, table.data.size());

  stSMBiosType172 features{};
  ASSERT_TRUE(parse_smbios_type172(table, &features));
  ASSERT_EQ(features.count, 6);
  EXPECT_EQ(find_smbios_function(features, 14)->value, 0x05);
  EXPECT_EQ(find_smbios_function(features, 23)->value, 2);
  SmbiosType170 hotkeys{};
  ASSERT_TRUE(parse_smbios_type170(table, &hotkeys));
  ASSERT_EQ(hotkeys.count, 2);
  EXPECT_EQ(hotkeys.codes[0], 0x85);
  EXPECT_EQ(hotkeys.kinds[0], 8);
  EXPECT_EQ(hotkeys.kinds[1], 7);

  // The same bytes through a query; the class exists only when the profile has the table, and
  // without it the caller's table is left alone.
  const auto rows = Query("ROOT\\WMI", "SELECT SMBiosData FROM MSSMBios_RawSMBiosTables");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(Prop(*rows[0], "SMBiosData"), Variant::Bytes(table.data));
  LoadText("[smbios]\npresent = no\n");
  services.wmi = provider_.get();
  platform::InstallServices(&services);
  SmbiosRawTable untouched = make_smbios_raw_table({0xAB}, 9, 9);
  EXPECT_FALSE(get_raw_smbios_table(&untouched));
  platform::InstallServices(nullptr);
  EXPECT_EQ(untouched.data, std::vector<uint8_t>{0xAB});
  EXPECT_EQ(untouched.major_version, 9);
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
