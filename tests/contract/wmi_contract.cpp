// The WMI seam's contract on the simulated notebook and on COM/WMI: COM counted per thread,
// namespaces, rows, properties, class definitions and the failure codes the core relies on.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <thread>

#include "contract/backends.h"

namespace {

using namespace wmi;
constexpr HRESULT kInvalidObjectPath = static_cast<HRESULT>(0x8004103A);

void OnFreshThread(std::function<void()> body) { std::thread(body).join(); }  // COM state is per thread

TEST(WmiContract, ComPerThreadNamespacesRowsPropertiesClassesAndTheirFailures) {
  auto b = contract::MakeWmiBackend();
  platform::WmiProvider& com = *b->provider;
  OnFreshThread([&] {
    ASSERT_EQ(com.CoInitializeEx(), kS_OK);
    EXPECT_EQ(com.CoInitializeEx(), kS_FALSE);
    {
      std::unique_ptr<platform::WmiLocator> locator;
      std::unique_ptr<platform::WmiServices> wmi;
      ASSERT_EQ(com.CreateLocator(&locator), kS_OK);
      EXPECT_EQ(locator->ConnectServer("ROOT\\QuellmarkNowhere", &wmi), kWbemE_InvalidNamespace);
      EXPECT_EQ(wmi, nullptr);
      ASSERT_EQ(locator->ConnectServer("root\\cimv2", &wmi), kS_OK);
      EXPECT_EQ(wmi->SetProxyBlanket(), kS_OK);
      std::unique_ptr<platform::WmiEnumerator> rows;
      for (const bool query : {true, false}) {
        SCOPED_TRACE(query ? "ExecQuery" : "CreateInstanceEnum");
        ASSERT_EQ(query ? wmi->ExecQuery("SELECT * FROM Win32_ComputerSystem", &rows)
                        : wmi->CreateInstanceEnum("Win32_ComputerSystem", &rows),
                  kS_OK);
        std::unique_ptr<platform::WmiObject> row;
        ASSERT_EQ(rows->Next(&row), kS_OK);
        Variant model;
        EXPECT_EQ(row->Get("Model", &model), kS_OK);
        EXPECT_EQ(model.type, VarType::kBstr);
        const Variant before = model;
        EXPECT_EQ(row->Get("QuellmarkNoSuchProperty", &model), kWbemE_NotFound);
        EXPECT_EQ(model, before) << "a failed Get leaves the caller's value";
        // An instance takes a text with characters beyond the BMP and gives it back unchanged
        // (Wine's instances refuse every Put: WBEM_E_FAILED).
        if (contract::kWine) continue;
        const Variant name = Variant::Text("Z\xC3\xBCrich \xE2\x82\xAC \xF0\x9F\x98\x80 \\\"");
        ASSERT_EQ(row->Put("Model", name), kS_OK);
        ASSERT_EQ(row->Get("Model", &model), kS_OK);
        EXPECT_EQ(model, name);
        EXPECT_EQ(rows->Next(&row), kWbemS_False) << "one computer";
      }
      const HRESULT bad = wmi->ExecQuery("SELECT FROM WHERE", &rows);
      std::unique_ptr<platform::WmiObject> row, cls, in, out;
      EXPECT_EQ(Succeeded(bad) ? rows->Next(&row) : bad, kWbemE_InvalidQuery);
      EXPECT_EQ(wmi->GetObject("Quellmark_NoSuchClass", &cls), kWbemE_NotFound);
      ASSERT_EQ(wmi->GetObject("Win32_ComputerSystem", &cls), kS_OK);
      EXPECT_EQ(cls->GetMethod("QuellmarkNoSuchMethod", &in), kWbemE_NotFound);
      EXPECT_EQ(wmi->ExecMethod("", "Rename", nullptr, &out), kInvalidObjectPath)
          << "the core relies on an empty path failing";
      EXPECT_EQ(out, nullptr);
    }
    com.CoUninitialize();
    com.CoUninitialize();
  });
  OnFreshThread([&] { EXPECT_EQ(com.CoInitializeEx(), kS_OK) << "nothing of the other thread's";
                      com.CoUninitialize(); });
}

}  // namespace
