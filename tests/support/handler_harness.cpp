#include "support/handler_harness.h"

#include <cstring>
#include <filesystem>

#include "gpu/gpu_monitor.h"
#include "gpu/overclock.h"
#include <fstream>

#include "base/text.h"
#include "hid/ec_hid.h"
#include "hid/keyboard_hid.h"
#include "pipe/protocol.h"
#include "support/pipe_client.h"

namespace testsupport {

std::vector<uint8_t> Wire(const std::string& text) { return text::ToWireText(text); }

std::string MachineProfile(const std::string& file) {
  const auto machines = std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "machines";
  return (machines / file).lexically_normal().string();
}

std::optional<std::string> ReadFile(const std::string& host_path) {
  if (!std::filesystem::is_regular_file(host_path)) return std::nullopt;
  return ReadText(host_path);
}

void WriteFile(const std::string& host_path, const std::string& content) {
  std::filesystem::create_directories(std::filesystem::path(host_path).parent_path());
  std::ofstream(host_path, std::ios::binary) << content;
}

std::vector<std::vector<uint8_t>> CallCommand(uint16_t code,
                                              const std::vector<std::vector<uint8_t>>& arguments) {
  std::vector<std::vector<uint8_t>> items;
  const auto entry = g_CommandHandlers.find(code);
  EXPECT_NE(entry, g_CommandHandlers.end()) << "command " << code;
  if (entry == g_CommandHandlers.end()) return items;
  const std::vector<uint8_t> message = ironbark::EncodeRequest(code, arguments);
  const auto block = std::make_unique<uint8_t[]>(message.size());
  std::memcpy(block.get(), message.data(), message.size());
  std::optional<ironbark::CommandRequest> request;
  const auto status =
      ironbark::ParseRequest(block.get(), static_cast<uint32_t>(message.size()), &request);
  EXPECT_EQ(status, ironbark::ParseStatus::kOk);
  if (status != ironbark::ParseStatus::kOk) return items;
  ironbark::CommandResponse response;
  ironbark::RunCommand(entry->second, *request, response);
  EXPECT_TRUE(response.present);
  EXPECT_TRUE(ironbark::ParseResponse(response.bytes.data(), response.bytes.size(), &items));
  return items;
}

std::vector<uint8_t> CallForItem(uint16_t code, const std::vector<std::vector<uint8_t>>& arguments) {
  auto items = CallCommand(code, arguments);
  EXPECT_EQ(items.size(), 1u);
  return items.size() == 1 ? std::move(items[0]) : std::vector<uint8_t>{};
}

std::vector<std::string> LogReader::Take() {
  const std::string all = ReadFile(path).value_or("");
  constexpr std::string_view kProduct = " | Quellmark | ";
  std::vector<std::string> lines;
  for (size_t end; (end = all.find("\r\n", consumed)) != std::string::npos; consumed = end + 2) {
    const std::string line = all.substr(consumed, end - consumed);
    const size_t product = line.find(kProduct);
    lines.push_back(line.substr(0, line.find(' ')) + " " +
                    (product == std::string::npos ? line : line.substr(product + kProduct.size())));
  }
  return lines;
}

std::string ProcessorLine(const std::string& operation) {
  return "[INFO] ironbark::IbClientCommandProcessor::" + operation + " | ";
}


void HandlerTest::BootWith(sim::MachineProfile profile) {
  notebook_ = std::make_shared<sim::SimulatedNotebook>(std::move(profile));
  wmi_ = std::make_unique<sim::SimWmiProvider>(notebook_);
  services_.wmi = wmi_.get();
}

std::pair<uint32_t, std::vector<uint8_t>> HandlerTest::Stored(win::RegRoot root, const std::string& key,
                                                              const std::string& name) {
  std::vector<platform::RegValueInfo> values;
  registry_.EnumValues(root, key, &values);
  for (const auto& v : values)
    if (text::AsciiUpper(v.name) == text::AsciiUpper(name)) return {v.type, v.data};
  return {kMissing, {}};
}

void HandlerTest::SetUp() {
  ASSERT_TRUE(files_.MakeSureDirectoryPathExists(log_.path()));
  platform::InstallServices(&services_);
  g_LogFile.store(&log_);
}

void HandlerTest::TearDown() {
  // The device classes' caches outlive a test; the next one starts without them.
  corlan::QRN300::EcHID::ResetForTests();
  corlan::QRN300::KeyboardHID::ResetForTests();
  ResetGpuDiscoveryForTest();
  ResetGpuOverclockForTest();
  DetachLogFile();
  platform::InstallServices(nullptr);
}

}  // namespace testsupport
