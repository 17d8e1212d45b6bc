// The simulated HID devices, driven through the HID seam as the broker drives Windows: the
// embedded controller's replies byte for byte, the keyboard's checksum and state, and the class
// driver's handles.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "base/win_codes.h"
#include "sim/hid.h"
#include "sim/machine_profile.h"
#include "support/handler_harness.h"
#include "support/manual_clock.h"

namespace {

using platform::HidHandle;
using platform::kInvalidHidHandle;
using Bytes = std::vector<uint8_t>;

std::unique_ptr<sim::SimulatedHid> Machine(const std::string& text) {
  const sim::MachineProfile p = sim::ParseMachineProfile(text, "hid.profile");
  return std::make_unique<sim::SimulatedHid>(p.hid_interfaces, p.ec, p.keyboard);
}

// Writes `request` (nothing when empty) after report ID `id` in a report of `length` bytes and
// reads the reply back; nullopt when either fails.
std::optional<std::vector<uint8_t>> Exchange(sim::SimulatedHid& hid, HidHandle h, uint8_t id,
                                             size_t length, std::vector<uint8_t> request) {
  std::vector<uint8_t> report(length, 0);
  report[0] = id;
  std::copy(request.begin(), request.end(), report.begin() + 1);
  uint32_t error = 0;
  if (!request.empty() && !hid.SetFeature(h, report.data(), length, &error)) return std::nullopt;
  std::fill(report.begin() + 1, report.end(), 0xEE);
  if (!hid.GetFeature(h, report.data(), length)) return std::nullopt;
  return std::vector<uint8_t>(report.begin() + 1, report.end());
}

constexpr const char* kEcInterface =
    "[hid]\nvendor_id = 0x2E5C\nproduct_id = 0x174B\nfeature_report_length = 65\ndevice = ec\n";

TEST(SimEcTest, AnswersEveryRequestAsTheFirmwareDoes) {
  auto current = Machine(std::string(kEcInterface) +
                         "[ec]\ndata_version = 0x0600\n"
                         "oc_profile = 1, 0x0203, 0x0405, 6, 7, 8, 9, 10, 11, 0x0C0D, 14, 15\n"
                         "backlight_brightness = 80\nbacklight_timeout = 60\n"
                         "[ec_fault]\nrequest = data_version\nmalformed = yes\ntimes = 1\n"
                         "[ec_fault]\nrequest = status_2\necho_type = 3\ntimes = 1\n"
                         "[ec_fault]\nrequest = device_set\nreturn_code = 0xE001\ntimes = 1\n");
  auto legacy = Machine(std::string(kEcInterface) + "[ec]\ndata_version = 0x0500\noc_profile = no\n");
  const HidHandle c = current->Open(current->Path(0));
  const HidHandle l = legacy->Open(legacy->Path(0));
  const struct {
    const char* what;
    bool legacy;
    std::vector<uint8_t> request;  // empty: only a read
    std::vector<uint8_t> reply;    // then zeros up to 64 bytes
  } rows[] = {
      {"version, malformed once", false, Bytes({0, 0xA0, 0, 0, 0}), Bytes({0, 0xE0, 0, 0, 0xFF, 0, 0, 0})},
      {"AC", false, Bytes({0, 0xA0, 0, 0, 3}), Bytes({0, 0xE0, 0, 0, 3, 0, 1, 0})},
      {"boost, type 3 echoed once", false, Bytes({0, 0xA0, 0, 0, 2}), Bytes({0, 0xE0, 0, 0, 3})},
      {"unknown type", false, Bytes({0, 0xA0, 0, 0, 1}), Bytes({0x03, 0xE0, 0, 0, 1})},
      {"OC profile", false, Bytes({0, 0xA0, 2, 0, 2, 0}),
       Bytes({0, 0xE0, 2, 0, 2, 1, 3, 2, 5, 4, 6, 0, 7, 0, 8, 0, 9, 10, 11, 0x0D, 0x0C, 14, 0, 15, 0})},
      {"backlight set, refused once", false, Bytes({0, 0xA0, 0x0A, 0, 1, 2, 1, 0, 100, 0, 30, 0}),
       Bytes({0x01, 0xE0, 0x0A, 0, 1, 2, 1, 0, 100, 0, 30, 0})},
      {"nothing stored", false, Bytes({0, 0xA0, 0x0A, 0, 2, 2}),
       Bytes({0, 0xE0, 0x0A, 0, 2, 2, 1, 0, 80, 0, 60, 0})},
      {"set without state word", false, Bytes({0, 0xA0, 0x0A, 0, 1, 2, 0, 0, 7, 0, 7, 0}),
       Bytes({0x03, 0xE0, 0x0A, 0, 1, 2})},
      {"no device 5", false, Bytes({0, 0xA0, 0x0A, 0, 2, 5}), Bytes({0x01, 0xE0, 0x0A, 0, 2, 5})},
      {"unknown command", false, Bytes({0, 0xA0, 7, 0}), Bytes({0x02, 0xE0, 7, 0})},
      {"bad header", false, Bytes({0, 0xA1, 0, 0, 0}), Bytes({0xFF, 0xE0})},
      {"legacy AC", true, Bytes({0, 0xA0, 0, 0, 3}), Bytes({0, 0xE0, 0, 0, 1, 0, 0, 0})},
      {"no OC profile", true, Bytes({0, 0xA0, 2, 0, 2, 0}), Bytes({0x02, 0xE0, 2, 0})},
      {"read again", true, {}, Bytes({0x02, 0xE0, 2, 0})},
  };
  for (const auto& row : rows) {
    std::vector<uint8_t> expected = row.reply;
    expected.resize(sim::kEcBlockBytes, 0);
    EXPECT_EQ(Exchange(row.legacy ? *legacy : *current, row.legacy ? l : c, 0xA0, 65, row.request),
              expected)
        << row.what;
  }
}

TEST(SimKeyboardTest, RefusesABadChecksumAndKeepsItsState) {
  auto hid = Machine(
      "[hid]\nvendor_id = 0x0D62\nproduct_id = 0x0B9D\nfeature_report_length = 9\n"
      "device = keyboard\ndelay_ms = 20\n[keyboard]\nbacklight_off_30s = 1\nwin_key_byte = 0x02\n");
  testsupport::ManualClock clock;
  platform::Services services;
  services.clock = &clock;
  platform::InstallServices(&services);
  const HidHandle h = hid->Open(hid->Path(0));
  const auto command = [&](std::vector<uint8_t> block) { return Exchange(*hid, h, 0, 9, block); };
  EXPECT_EQ(command(Bytes({0xB0, 0, 0, 0, 0, 0, 0, 0x4F})), Bytes({0xB0, 1, 1, 0, 0, 0, 0, 0x4D}));
  EXPECT_EQ(command(Bytes({0x83, 0, 0, 0, 0, 0, 0, 0x7C})), Bytes({0x83, 2, 0, 0, 0, 0, 0, 0x7A}));

  uint32_t error = 0;
  const auto bad = Bytes({0, 0x30, 0x01, 0, 0, 0, 0, 0, 0xCF});
  EXPECT_FALSE(hid->SetFeature(h, bad.data(), bad.size(), &error));
  EXPECT_EQ(error, win::kErrorGenFailure);
  EXPECT_EQ(command(Bytes({0xB0, 0, 0, 0, 0, 0, 0, 0x4F})), Bytes({0xB0, 1, 1, 0, 0, 0, 0, 0x4D}));
  // Seven reports of 20 ms each, the refused one included.
  EXPECT_EQ(clock.Now(), std::chrono::milliseconds(140));
  platform::InstallServices(nullptr);
}

TEST(SimHidTest, HandlesDieWithCloseAndUnplugAndNoneLeaks) {
  auto hid = Machine(std::string(kEcInterface) +
                     "[hid]\nvendor_id = 0x0D62\nproduct_id = 0x0B9D\nfeature_report_length = 2\n");
  std::vector<platform::HidInterface> listed;
  ASSERT_TRUE(hid->ListInterfaces(&listed));
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0].path, hid->Path(0));
  const HidHandle a = hid->Open(listed[0].path);
  const HidHandle b = hid->Open(text::AsciiUpper(listed[0].path));
  const HidHandle kb = hid->Open(listed[1].path);
  EXPECT_NE(a, kInvalidHidHandle);
  EXPECT_NE(a, b);

  std::vector<uint8_t> report(65, 0);
  report[0] = 0xA0;
  uint32_t error = 0;
  EXPECT_FALSE(hid->SetFeature(a, report.data(), 64, &error));
  EXPECT_EQ(error, win::kErrorInvalidParameter);
  report[0] = 0xA1;
  EXPECT_FALSE(hid->SetFeature(a, report.data(), 65, &error));
  EXPECT_EQ(error, win::kErrorInvalidParameter);
  report[0] = 0xA0;
  EXPECT_TRUE(hid->SetFeature(a, report.data(), 65, &error));
  hid->Close(b);
  EXPECT_FALSE(hid->SetFeature(b, report.data(), 65, &error));
  EXPECT_EQ(error, win::kErrorInvalidHandle);

  hid->Unplug(0);
  ASSERT_TRUE(hid->ListInterfaces(&listed));
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].path, hid->Path(1));
  EXPECT_EQ(hid->Open(hid->Path(0)), kInvalidHidHandle);
  EXPECT_FALSE(hid->SetFeature(a, report.data(), 65, &error));
  hid->Plug(0);
  platform::HidCaps caps;
  EXPECT_EQ(hid->GetCaps(a, &caps), platform::HidCapsResult::kNoPreparsedData);
  const HidHandle again = hid->Open(hid->Path(0));
  EXPECT_TRUE(hid->SetFeature(again, report.data(), 65, &error));
  EXPECT_EQ(hid->OpenHandles(), 3u);
  for (HidHandle h : {a, kb, again}) hid->Close(h);
  EXPECT_EQ(hid->OpenHandles(), 0u);
  EXPECT_EQ(hid->Enumerations(), 2u);
  EXPECT_EQ(hid->Opens(), 5u);
}

TEST(SimHidTest, ProfileMistakesAreNamed) {
  const std::pair<const char*, const char*> rows[] = {
      {"[ec]\noc_profile = 1, 2\n", "hid.profile:2: oc_profile needs twelve values (or no), not 2"},
      {"[ec_fault]\nrequest = status_2\nmalformed = yes\n",
       "hid.profile:1: [ec_fault] malformed = yes needs request = data_version"},
  };
  for (const auto& [text, message] : rows) {
    try {
      sim::ParseMachineProfile(text, "hid.profile");
      ADD_FAILURE() << text;
    } catch (const sim::ProfileError& e) {
      EXPECT_STREQ(e.what(), message);
    }
  }
  EXPECT_NO_THROW(sim::LoadMachineProfile(testsupport::MachineProfile("no-ec.profile")));
}

}  // namespace
