// The machine the Linux build simulates when no profile is named: machines/vexor-default.profile,
// built into the program so that the broker runs wherever it is installed.
#pragma once
#include <string_view>

namespace sim {

inline constexpr const char* kDefaultProfileName = "vexor-default.profile";

// The text of machines/vexor-default.profile as it was when the program was built.
std::string_view DefaultMachineProfileText();

}  // namespace sim
