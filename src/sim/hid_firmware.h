// The firmware behind one simulated HID interface: what a device does with the feature reports
// the host writes and what it hands back when the host reads one. SimulatedHid (sim/hid.h) owns
// one per interface and calls it under its lock, with reports already at the interface's
// feature-report length and carrying a report ID the firmware knows.
#pragma once
#include <cstdint>
#include <span>

namespace sim {

class HidFirmware {
 public:
  virtual ~HidFirmware() = default;
  // Whether the device's report descriptor declares feature report `report_id`. The class
  // driver refuses any other before the device sees it.
  virtual bool KnowsReport(uint8_t report_id) const = 0;
  // A feature report written by the host, report ID first. False: the device stalls the
  // transfer (the write fails).
  virtual bool Write(std::span<const uint8_t> report) = 0;
  // The feature report the device answers: bytes 1 and on of `report` (byte 0 holds the report
  // ID asked for and stays). The device fills every byte.
  virtual void Read(std::span<uint8_t> report) = 0;
};

// Copies `from` into `to`, cut to its length or padded with zero bytes: how a device's fixed
// block meets a transfer of another length.
inline void CopyPadded(std::span<const uint8_t> from, std::span<uint8_t> to) {
  for (size_t i = 0; i < to.size(); ++i) to[i] = i < from.size() ? from[i] : 0;
}

}  // namespace sim
