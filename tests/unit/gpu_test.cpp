// GPU discovery and the GPU commands against the simulated notebook's GPUs behind the NVAPI and
// ADLX seams, with the exact log lines: units and truncations, the index rules, the name gap,
// the AMD activity thresholds, and every ADLX reference given back.
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "gpu/gpu_monitor.h"
#include "gpu/overclock.h"
#include "sim/gpus.h"
#include "support/handler_harness.h"

namespace {

using testsupport::Le;
using testsupport::U32;
using Lines = std::vector<std::string>;

constexpr const char* kNvidia =
    "[gpu]\nvendor = nvidia\nname = GN-A\nclock_khz = 1999999\nmax_clock_khz = 2190500\n"
    "usage = 37\ntemperatures = 61, 72\ncoproc_state = 1\n";
constexpr const char* kAmd =
    "[gpu]\nvendor = amd\nname = RA-1\nclock_mhz = 2100\nclock_range = 500, 2600\n"
    "usage = 42.9\nusage_range = 0, 100\npower = 30\npower_range = 3, 90\ntemperature = 64.7\n";

class GpuTest : public testsupport::HandlerTest {
 protected:
  // The machine's GPUs from `profile`, then discovery as the survey runs it.
  void Gpus(const std::string& profile) {
    const sim::MachineProfile machine = sim::ParseMachineProfile(profile, "test.profile");
    nvapi_ = std::make_unique<sim::SimulatedNvApi>(machine.gpus);
    adlx_ = std::make_unique<sim::SimulatedAdlx>(machine.gpus);
    services_.nvapi = nvapi_.get();
    services_.adlx = adlx_.get();
    check_gpu_name();
    TakeLog();
  }
  int32_t Call(uint16_t code, const std::vector<std::vector<uint8_t>>& args = {}) {
    const std::vector<uint8_t> item = testsupport::CallForItem(code, args);
    return item.size() == 4 ? static_cast<int32_t>(le::LoadU32(item.data())) : 0x7EEEEEEE;
  }
  // The log since the last call, the processor prefix dropped.
  Lines Log() {
    Lines lines;
    for (std::string line : TakeLog()) {
      const std::string prefix = "ironbark::IbClientCommandProcessor::";
      if (const size_t at = line.find(prefix); at != std::string::npos) line.erase(at, prefix.size());
      lines.push_back(line);
    }
    return lines;
  }
  std::string Name(int n) {
    const auto [type, bytes] = Stored(win::RegRoot::kLocalMachine, "SOFTWARE\\OEM\\Calvane",
                                      "GPU_Name" + std::to_string(n));
    if (type == testsupport::kMissing) return "-";
    std::string text;
    for (size_t i = 0; i + 1 < bytes.size() && bytes[i] != 0; i += 2) text += char(bytes[i]);
    return text;
  }

  std::unique_ptr<sim::SimulatedNvApi> nvapi_;
  std::unique_ptr<sim::SimulatedAdlx> adlx_;
};

// The overclock table from INI files, against a machine whose one display adapter is an NVIDIA
// GPU with the hardware ID below.
class GpuOverclockTest : public GpuTest {
 protected:
  void SetUp() override {
    GpuTest::SetUp();
    adapter_ = std::make_unique<sim::SimulatedDeviceSetup>(
        std::vector<sim::DriverProfile>{},
        std::vector<std::string>{"PCI\\VEN_10DE&DEV_2820&SUBSYS_3A1F"});
    services_.device_setup = adapter_.get();
    Gpus(std::string(kNvidia) + "memory_clock_khz = 8001000\n");
  }
  // The ProgramData INI file.
  void Ini(const std::string& text) {
    testsupport::WriteFile(At("C/ProgramData/oem/Calvane/VexorHelm.ini"), text);
  }
  uint32_t Supported() {
    return Stored(win::RegRoot::kLocalMachine, "SOFTWARE\\OEM\\Calvane\\Overclock",
                  "GPU_OC_Support").first != testsupport::kMissing;
  }
  std::unique_ptr<sim::SimulatedDeviceSetup> adapter_;
};

TEST_F(GpuOverclockTest, TheTableFromTheIniFile) {
  constexpr const char* kList = "[OC_GPU]\nCount = 2\nGPUName1 = DEV_2820\nGPUName2 = VEN_10DE\n";
  struct Case {
    std::string ini;
    int32_t support;
    double level1;  // graphics offset of level 1
  };
  const std::vector<Case> cases = {
      {"[OC_GPU]\nCount = 0\nGPUName1 = DEV_2820\n[DEV_2820]\nDefault = 5\n", 0, 0},
      {"[OC_GPU]\nGPUName1 = DEV_2820\n[DEV_2820]\nDefault = 5\n", 0, 0},
      // The second name is missing: "NULL" matches no adapter.
      {"[OC_GPU]\nCount = 2\nGPUName1 = DEV_9999\n[NULL]\nDefault = 5\n", 0, 0},
      {std::string(kList) + "[DEV_2820]\nDefault = 50\nBalanced = 75\n[VEN_10DE]\nDefault = 9\n", 1, 75},
      {std::string(kList) + "[DEV_2820]\nDefault = 50\n", 1, 50},
      {std::string(kList) + "[DEV_2820]\n", 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ini);
    ResetGpuOverclockForTest();
    Ini(c.ini);
    search_cpu_gpu_oc_support("Vexor 16 GX");
    EXPECT_EQ(g_GPUOCSupport.load(), c.support);
    EXPECT_EQ(Supported(), static_cast<uint32_t>(c.support));
    EXPECT_EQ(GpuOcOffset(1, 0), c.level1);
    const Lines log = TakeLog();
    // An unusable Count ends the step right after its line.
    if (c.ini.find("Count = 2") == std::string::npos && c.ini.find("Count = 1") == std::string::npos) {
      EXPECT_EQ(log.back().rfind("[INFO] search_cpu_gpu_oc_support | OC_GPU->Count: ", 0), 0u) << log.back();
    }
    if (c.level1 == 50) {
      EXPECT_EQ(log.back(), "[INFO] search_cpu_gpu_oc_support | GPU Default overclock frequency: 50.000000");
    }
  }
}

TEST_F(GpuOverclockTest, TheProgramDataFileWinsOverTheModelsOwn) {
  const std::string own = At("C" + launcher_.ModuleDirectory() + "/Vexor 16 GX.ini");
  testsupport::WriteFile(own, "[OC_GPU]\nCount = 1\nGPUName1 = DEV_2820\n[DEV_2820]\nTurbo = 10\n");
  search_cpu_gpu_oc_support("Vexor 16 GX");
  EXPECT_EQ(GpuOcOffset(3, 0), 10.0);
  EXPECT_EQ(TakeLog().front(), "[INFO] search_cpu_gpu_oc_support | VH_INI_FILE_PATH: " +
                                   launcher_.ModuleDirectory() + "\\Vexor 16 GX.ini");
  Ini("[OC_GPU]\nCount = 1\nGPUName1 = DEV_2820\n[DEV_2820]\nTurbo = 20\n");
  search_cpu_gpu_oc_support("Vexor 16 GX");
  EXPECT_EQ(GpuOcOffset(3, 0), 20.0);
}

TEST_F(GpuOverclockTest, OffsetsAreWrittenAsKilohertzDeltasTruncatedTowardZero) {
  Ini("[OC_GPU]\nCount = 1\nGPUName1 = DEV_2820\n[DEV_2820]\nTurbo = 150.7\n"
      "RAM_Turbo = -1.0009\nQuiet = -20\nRAM_Quiet = -0.0005\n");
  search_cpu_gpu_oc_support("M");
  struct Case {
    uint32_t level;
    std::pair<int32_t, int32_t> deltas;
  };
  for (const Case& c : {Case{3, {150700, -1000}}, Case{0, {-20000, 0}}, Case{7, {0, 0}}}) {
    TakeLog();
    gpu_set_oc_level(c.level);
    EXPECT_EQ(nvapi_->applied_deltas(0), c.deltas) << c.level;
  }
  TakeLog();
  gpu_set_oc_level(3);
  const Lines log = TakeLog();
  const Lines expected = {
      "[INFO] gpu_set_oc_level | gpu_set_oc_level",
      "[INFO] gpu_set_oc_level | Input overlock level: 3",
      "[INFO] nvidiaOC_set_oclevel | nvidiaOC_set_oclevel() - start",
      "[INFO] nvidiaOC_set_oclevel | Overclock level flag: 3",
      "[INFO] nvidiaOC_set_oclevel | Graphic index: 0",
      "[INFO] nvidiaOC_set_oclevel | NvAPI_GPU_GetPstates20() try count: 0",
      "[INFO] nvidiaOC_set_oclevel | Current overclock freqency: 2190500 kHz",
      "[INFO] nvidiaOC_set_oclevel | Need shift overclock freqency: 150700 kHz",
      "[INFO] nvidiaOC_set_oclevel | Current memory freqency: 8001000 kHz",
      "[INFO] nvidiaOC_set_oclevel | Need shift memory freqency: -1000 kHz",
      "[INFO] nvidiaOC_set_oclevel | NvAPI_GPU_SetPstates20() try count: 0",
      "[INFO] nvidiaOC_set_oclevel | nvidiaOC_set_oclevel() - end"};
  EXPECT_EQ(log, expected);
}

TEST_F(GpuOverclockTest, AFailingReadIsTriedFiveTimes100msApart) {
  Gpus(std::string(kNvidia) + "fail = GetPstates20\n");
  Ini("[OC_GPU]\nCount = 1\nGPUName1 = DEV_2820\n[DEV_2820]\n");
  search_cpu_gpu_oc_support("M");
  TakeLog();
  const auto before = clock_.Now();
  gpu_set_oc_level(1);
  EXPECT_EQ(clock_.Now() - before, std::chrono::milliseconds(500));
  const Lines log = TakeLog();
  ASSERT_EQ(log.size(), 5u + 5 * 2 + 1);
  EXPECT_EQ(log[13], "[INFO] nvidiaOC_set_oclevel | NvAPI_GPU_GetPstates20() try count: 4");
  EXPECT_EQ(log[14], "[ERROR] nvidiaOC_set_oclevel | NvAPI_GPU_GetPstates20() fail");
  EXPECT_EQ(log[15], "[ERROR] nvidiaOC_set_oclevel | NvAPI_GPU_GetPstates20() fail");
  EXPECT_EQ(nvapi_->set_pstates_calls(), 0u);
}

TEST_F(GpuTest, NvidiaCommandsAnswerMegahertzAndMinusOneOnEveryFailure) {
  struct Case {
    std::string extra;  // more keys of the GPU
    uint16_t code;
    std::vector<std::vector<uint8_t>> args;
    int32_t answer;
    Lines query;  // the lines of get_nvidia_monitor_value between its input and end lines
  };
  const std::vector<Case> cases = {
      {"", 10, {U32(0)}, 1999, {"[INFO] get_nvidia_monitor_value | GPU frequency: 1999"}},
      {"", 11, {U32(0)}, 2190, {"[INFO] get_nvidia_monitor_value | GPU max frequency: 2190"}},
      {"", 12, {Le(1, 8)}, 37, {"[INFO] get_nvidia_monitor_value | GPU usage: 37"}},
      {"", 12, {U32(1)}, -1, {"[ERROR] get_nvidia_monitor_value | NvAPI_EnumPhysicalGPUs() fail"}},
      {"fail = GetPstates20", 11, {U32(0)}, -1,
       {"[ERROR] get_nvidia_monitor_value | NvAPI_GPU_GetPstates20() fail"}},
      {"fail = GetAllClockFrequencies", 10, {U32(0)}, -1,
       {"[ERROR] get_nvidia_monitor_value | NvAPI_GPU_GetAllClockFrequencies() fail"}},
      {"fail = GetDynamicPstatesInfoEx", 12, {U32(0)}, -1,
       {"[ERROR] get_nvidia_monitor_value | NvAPI_GPU_GetDynamicPstatesInfoEx() fail"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extra + " code " + std::to_string(c.code));
    Gpus(std::string(kNvidia) + c.extra + "\n");
    EXPECT_EQ(Call(c.code, c.args), c.answer);
    Lines log = Log();
    ASSERT_GE(log.size(), 5u);
    const size_t index_arg = c.args[0].size() == 4 ? le::LoadU32(c.args[0].data()) : 0;
    EXPECT_EQ(log[3], "[INFO] get_nvidia_monitor_value | Input NVMonitorType: " +
                          std::to_string(c.code == 10 ? 0 : c.code == 11 ? 2 : 1) +
                          ", Graphic index: " + std::to_string(index_arg));
    const bool ok = c.answer >= 0;
    const Lines query(log.begin() + 4, log.end() - (ok ? 2 : 1));
    EXPECT_EQ(query, c.query);
    if (ok) {
      EXPECT_EQ(log[log.size() - 2], "[INFO] get_nvidia_monitor_value | get_nvdia_monitor_value - end");
    }
  }
}

TEST_F(GpuTest, MaxTemperatureIsTheHottestSensorAndNeverBelowZero) {
  struct Case {
    const char* temperatures;
    int32_t answer;
  };
  for (const Case c : {Case{"61, 72, 70", 72}, Case{"-5, -12", 0}, Case{"", 0}}) {
    Gpus(std::string("[gpu]\nvendor = nvidia\nname = X\n") +
         (*c.temperatures ? std::string("temperatures = ") + c.temperatures + "\n" : ""));
    int32_t out = -1;
    EXPECT_EQ(get_nvidia_monitor_value(kNvMaxTemperature, 0, &out), 1);
    EXPECT_EQ(out, c.answer) << c.temperatures;
  }
  // A selector past the table: success, nothing written.
  int32_t out = -1;
  EXPECT_EQ(get_nvidia_monitor_value(5, 0, &out), 1);
  EXPECT_EQ(out, -1);
}

TEST_F(GpuTest, DiscoveryNumbersNamesLeavingGapsAndCountsThemAll) {
  Gpus("[gpu]\nvendor = nvidia\nname = One\n[gpu]\nvendor = nvidia\nname = Two\nfail = GetFullName\n"
       "[gpu]\nvendor = nvidia\nname = Three\n[gpu]\nvendor = amd\nname = Never\n");
  check_gpu_name();  // again, for its lines
  EXPECT_EQ(Log(), (Lines{"[INFO] check_gpu_name | write_gpu_name - start",
                          "[INFO] check_gpu_name | Nvidia GPU support.",
                          "[INFO] check_gpu_name | check_gpu_name - end"}));
  EXPECT_EQ((std::vector<std::string>{Name(1), Name(2), Name(3)}),
            (std::vector<std::string>{"One", "-", "Three"}));
  EXPECT_EQ(g_AMDGPUSupport.load(), 0);
  EXPECT_EQ(Call(8), 3);
}

TEST_F(GpuTest, WithoutAKnownGpuCountIsZeroAndTheOthersMinusOne) {
  Gpus("");
  EXPECT_EQ((std::vector<int32_t>{Call(8), Call(9), Call(10, {U32(0)}), Call(11, {U32(0)}),
                                  Call(12, {U32(0)})}),
            (std::vector<int32_t>{0, -1, -1, -1, -1}));
  check_gpu_name();
  EXPECT_EQ(Log().back(), "[INFO] check_gpu_name | check_gpu_name - end");
}

// Commands arriving while discovery runs answer as without a GPU or with it, never anything
// else; queries of both kinds run side by side with an overclock (a lock left out shows under
// ThreadSanitizer).
TEST_F(GpuTest, CommandsRaceDiscoveryAndEachOther) {
  Gpus(kNvidia);
  ResetGpuDiscoveryForTest();
  std::vector<std::thread> threads;
  threads.emplace_back([] { check_gpu_name(); });
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([this] {
      for (int i = 0; i < 20; ++i) {
        const int32_t mhz = Call(10, {U32(0)});
        EXPECT_TRUE(mhz == -1 || mhz == 1999) << mhz;
      }
    });
  }
  threads.emplace_back([] {
    for (int i = 0; i < 5; ++i) gpu_set_oc_level(1);
  });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(Call(10, {U32(0)}), 1999);
}

TEST_F(GpuTest, CoprocessorStateAndItsFailure) {
  Gpus(kNvidia);
  EXPECT_EQ(Call(9), 1);
  Gpus(std::string(kNvidia) + "fail = GetCoprocStatus\n");
  EXPECT_EQ(Call(9), -1);
  EXPECT_EQ(Log(), (Lines{"[INFO] gpu_get_idle_state | kSvcCmdGPUGetIdleState",
                          "[INFO] nvidia_get_coproc_status | nvidia_get_coproc_status() - start",
                          "[INFO] nvidia_get_coproc_status | NvAPI_Coproc_GetCoprocStatus() fail",
                          "[INFO] nvidia_get_coproc_status | pCoprocState: -1",
                          "[INFO] nvidia_get_coproc_status | nvidia_get_coproc_status() - end",
                          "[INFO] gpu_get_idle_state | Rsponse state: -1"}));
}

TEST_F(GpuTest, AmdMetricsTruncateAndReleaseEveryReference) {
  struct Case {
    std::string extra;
    uint16_t code;
    int32_t answer;
    Lines lines;  // between "Input ..." and "End"
  };
  const std::vector<Case> cases = {
      {"", 8, 1, {"[INFO] get_amd_monitor_value | GPU count: 1"}},
      {"fail = GetCurrentGPUMetrics", 8, 0, {"[INFO] get_amd_monitor_value | ADLX initial fail."}},
      {"", 10, 2100, {"[INFO] get_amd_monitor_value | GPU frequency: 2100"}},
      {"", 11, 2600, {"[INFO] get_amd_monitor_value | GPU max frequency: 2600"}},
      {"", 12, 42, {"[INFO] get_amd_monitor_value | GPU usage: 42"}},
      {"unsupported = usage", 12, -1, {"[INFO] get_amd_monitor_value | GPU usage supported: 1, 0"}},
      {"fail = IsSupported", 12, -1, {"[INFO] get_amd_monitor_value | GPU usage supported: 0, 0"}},
      {"fail = IsSupported", 10, -1,
       {"[INFO] get_amd_monitor_value | GPU frequency supported: 0, 0"}},
      {"unsupported = clock", 11, -1,
       {"[INFO] get_amd_monitor_value | GPU clock speed range not support."}},
      {"fail = GetRange", 11, -1, {"[INFO] get_amd_monitor_value | get GPU max frequency fail."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extra + " code " + std::to_string(c.code));
    Gpus(std::string(kAmd) + c.extra + "\n");
    EXPECT_EQ(Call(c.code, {U32(0)}), c.answer);
    const Lines log = Log();
    const size_t first = c.code >= 10 ? 4 : 3;  // the index line of the metric commands
    ASSERT_GE(log.size(), first + 2);
    EXPECT_EQ(Lines(log.begin() + first, log.end() - 2), c.lines);
    EXPECT_EQ(log[log.size() - 2], "[INFO] get_amd_monitor_value | End");
    EXPECT_EQ(adlx_->live_objects(), 0u);
  }
  int32_t temperature = -1;
  EXPECT_EQ(get_amd_monitor_value(kAmdTemperature, 0, &temperature), 1);
  EXPECT_EQ(temperature, 64);
}

TEST_F(GpuTest, AmdActivityTestThresholds) {
  struct Case {
    const char* gpu;
    int32_t state;
  };
  const std::vector<Case> cases = {
      {"unsupported = clock, power, usage", 1},  // no step ran: the query failed
      {"unsupported = clock, usage\npower = 5\npower_range = 3, 90", 0},
      {"unsupported = clock, usage\npower = 13\npower_range = 3, 90", 1},
      {"unsupported = power, usage\nclock_mhz = 599\nclock_range = 500, 2600", 0},
      {"unsupported = power, usage\nclock_mhz = 600\nclock_range = 500, 2600", 1},
      {"unsupported = clock, power\nusage = 2.9\nusage_range = 0, 100", 0},
      {"unsupported = clock, power\nusage = 3\nusage_range = 0, 100", 1},
      {"power = 5\npower_range = 3, 90\nusage = 1\nclock_mhz = 2000\nclock_range = 500, 2600", 1},
  };
  for (const Case& c : cases) {
    Gpus(std::string("[gpu]\nvendor = amd\nname = R\n") + c.gpu + "\n");
    EXPECT_EQ(Call(9), c.state) << c.gpu;
    EXPECT_EQ(adlx_->live_objects(), 0u);
  }
}

}  // namespace
