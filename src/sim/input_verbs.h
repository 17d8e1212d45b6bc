// The simulated input devices and console session as text verbs, for the `quellmark-cli sim`
// control channel: each function takes the words after the verb and acts on the device at once.
// A channel wires one verb to one function (ok: the reply text; not ok: the usage to print).
//
//   key NAME|0xCODE [--e0] [MODIFIER...] [--hold N | --release]
//       NAME: helm, brightness-up, brightness-down (E0-prefixed scan codes 0x75, 0x6F, 0x70);
//       0xCODE: any scan code, --e0 for the prefix. MODIFIER: --ctrl --rctrl --shift --rshift
//       --alt --ralt, held around the key. Without --hold or --release: pressed and released;
//       --hold N: pressed and held, N auto-repeat key-downs; --release: released.
//   vendor-key NAME|0xBYTE [MODIFIER...]
//       NAME: helm, brightness-up, brightness-down, mode, 30s-off, 30s-on: one report of the
//       vendor collection (report id, key, 0xFF, 0).
//   vendor-report B0 B1 B2 B3     any four-byte vendor report
//   mouse                         one mouse movement
//   console logon|logoff          a user logs on or off at the console
#pragma once
#include <span>
#include <string>

#include "sim/console_session.h"
#include "sim/control_channel.h"
#include "sim/keyboard_input.h"

namespace sim {

// ok: the reply text; not ok: the usage to print.
using VerbResult = ControlReply;

VerbResult KeyVerb(SimulatedInput& input, std::span<const std::string> words);
VerbResult VendorKeyVerb(SimulatedInput& input, std::span<const std::string> words);
VerbResult VendorReportVerb(SimulatedInput& input, std::span<const std::string> words);
VerbResult MouseVerb(SimulatedInput& input, std::span<const std::string> words);
VerbResult ConsoleVerb(ConsoleSession& session, std::span<const std::string> words);

// The verbs above as rows of the control channel.
void AddInputVerbs(ControlChannel& channel, SimulatedInput& input, ConsoleSession& session);

}  // namespace sim
