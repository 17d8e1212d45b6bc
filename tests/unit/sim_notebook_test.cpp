// The simulated notebook's WMI provider, driven through the platform WMI seam the way the
// broker drives Windows: what it refuses, so that a malformed call fails the other tests.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/services.h"
#include "sim/machine_profile.h"
#include "sim/wmi.h"
#include "sim/simulated_notebook.h"

namespace {

using platform::WmiObject, platform::WmiServices, wmi::HRESULT, wmi::Variant;

class SimWmiTest : public ::testing::Test {
 protected:
  // Invokes a gaming method as the broker does: input from GetMethod, the value put as given.
  HRESULT Invoke(std::string_view path, std::string_view method, std::optional<Variant> input) {
    EXPECT_TRUE(wmi::Succeeded(provider_.CoInitializeEx()));
    std::unique_ptr<platform::WmiLocator> locator;
    EXPECT_EQ(provider_.CreateLocator(&locator), wmi::kS_OK);
    std::unique_ptr<WmiServices> services;
    EXPECT_EQ(locator->ConnectServer("ROOT\\WMI", &services), wmi::kS_OK);
    std::unique_ptr<WmiObject> definition, in, out;
    EXPECT_EQ(services->GetObject("CorlanGamingFunction", &definition), wmi::kS_OK);
    // A method the class lacks has no input object; ExecMethod then gets none.
    if (wmi::Succeeded(definition->GetMethod(method, &in)) && input && in != nullptr) {
      EXPECT_EQ(in->Put("gmInput", *input), wmi::kS_OK);
    }
    const HRESULT hr = services->ExecMethod(path, method, in.get(), &out);
    provider_.CoUninitialize();
    return hr;
  }
  static constexpr const char* kGamingPath =
      "CorlanGamingFunction.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\"";

  sim::SimWmiProvider provider_{
      std::make_shared<sim::SimulatedNotebook>(sim::ParseMachineProfile("", "t.p"))};
};

TEST_F(SimWmiTest, ExecMethodWantsTheEscapedPathOfAnExistingInstanceAndADecimalInput) {
  const std::pair<const char*, HRESULT> paths[] = {
      {kGamingPath, wmi::kS_OK},
      {"corlangamingfunction.instancename=\"ACPI\\\\PNP0C14\\\\0_0\"", wmi::kS_OK},
      {"CorlanGamingFunction.InstanceName=\"ACPI\\PNP0C14\\0_0\"", sim::kWbemE_InvalidObjectPath},
      {"CorlanGamingFunction.InstanceName=\"acpi\\\\pnp0c14\\\\0_0\"", wmi::kWbemE_NotFound},
      {"FwxAction.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\"", wmi::kWbemE_NotFound},
      {"Nothing.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\"", wmi::kWbemE_InvalidClass},
  };
  for (const auto& [path, expected] : paths)
    EXPECT_EQ(Invoke(path, "GetGamingMiscSetting", Variant::Text("11")), expected) << path;
  EXPECT_EQ(Invoke(kGamingPath, "GetFunction", Variant::Text("11")), wmi::kWbemE_InvalidMethod);

  // Only decimal text within the method's input width (32 bits here, 64 for the fan table).
  for (const Variant& input : {Variant::Text("4294967296"), Variant::Text("0x0B"), Variant::Text("-1"),
                               Variant::UI4(11)})
    EXPECT_EQ(Invoke(kGamingPath, "GetGamingMiscSetting", input), sim::kWbemE_TypeMismatch) << input.text;
  EXPECT_EQ(Invoke(kGamingPath, "SetGamingFanTable", Variant::Text("18446744073709551616")),
            sim::kWbemE_TypeMismatch);
  // Nothing put: the input stays null.
  EXPECT_EQ(Invoke(kGamingPath, "GetGamingMiscSetting", std::nullopt), wmi::kWbemE_InvalidParameter);
}

}  // namespace
