#include "sim/input_verbs.h"

#include <array>
#include <charconv>
#include <optional>
#include <string_view>
#include <vector>

namespace sim {
namespace {

constexpr struct { std::string_view word; uint8_t bit; } kModifierWords[] = {
    {"--ctrl", kLeftCtrl}, {"--rctrl", kRightCtrl}, {"--shift", kLeftShift},
    {"--rshift", kRightShift}, {"--alt", kLeftAlt}, {"--ralt", kRightAlt},
};

std::optional<unsigned> Number(std::string_view word, unsigned max) {
  int base = 10;
  if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
    word.remove_prefix(2);
    base = 16;
  }
  unsigned value = 0;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value, base);
  if (error != std::errc() || end != word.data() + word.size() || word.empty() || value > max)
    return std::nullopt;
  return value;
}

// Takes the modifier words out of `words`; false when one is not a modifier.
bool Modifiers(std::span<const std::string> words, uint8_t* modifiers) {
  for (const std::string& word : words) {
    bool known = false;
    for (const auto& m : kModifierWords) {
      if (word == m.word) {
        *modifiers |= m.bit;
        known = true;
      }
    }
    if (!known) return false;
  }
  return true;
}

std::string ModifierText(uint8_t modifiers) {
  std::string text;
  for (const auto& m : kModifierWords) {
    if (modifiers & m.bit) text += " " + std::string(m.word.substr(2));
  }
  return text.empty() ? std::string() : " with" + text;
}

}  // namespace

VerbResult KeyVerb(SimulatedInput& input, std::span<const std::string> words) {
  const VerbResult usage{false,
                         "key helm|brightness-up|brightness-down|0xCODE [--e0] [--ctrl|--rctrl|"
                         "--shift|--rshift|--alt|--ralt]... [--hold N|--release]"};
  if (words.empty()) return usage;
  constexpr struct { std::string_view name; ScanKey key; } kKeys[] = {
      {"helm", kHelmKey}, {"brightness-up", kBrightnessUpKey}, {"brightness-down", kBrightnessDownKey}};
  std::optional<ScanKey> key;
  for (const auto& k : kKeys) {
    if (words[0] == k.name) key = k.key;
  }
  if (!key) {
    const auto code = Number(words[0], 0xFFFF);
    if (!code) return usage;
    key = ScanKey{static_cast<uint16_t>(*code), false};
  }
  uint8_t modifiers = 0;
  std::optional<unsigned> hold;
  bool release = false;
  std::vector<std::string> rest;
  for (size_t i = 1; i < words.size(); ++i) {
    if (words[i] == "--e0") {
      key->e0 = true;
    } else if (words[i] == "--hold" && i + 1 < words.size() && !hold) {
      hold = Number(words[++i], 1000);
      if (!hold) return usage;
    } else if (words[i] == "--release") {
      release = true;
    } else {
      rest.push_back(words[i]);
    }
  }
  if (!Modifiers(rest, &modifiers) || (hold && release)) return usage;
  if (hold) {
    input.HoldKey(*key, *hold, modifiers);
    return {true, words[0] + " held" + ModifierText(modifiers) + ", " + std::to_string(*hold) + " repeats"};
  }
  if (release) {
    input.ReleaseKey(*key, modifiers);
    return {true, words[0] + " released" + ModifierText(modifiers)};
  }
  input.PressKey(*key, modifiers);
  return {true, words[0] + " pressed" + ModifierText(modifiers)};
}

VerbResult VendorKeyVerb(SimulatedInput& input, std::span<const std::string> words) {
  const VerbResult usage{false, "vendor-key helm|brightness-up|brightness-down|mode|30s-off|30s-on|"
                                "0xBYTE [--ctrl|--rctrl|--shift|--rshift|--alt|--ralt]..."};
  if (words.empty()) return usage;
  constexpr struct { std::string_view name; uint8_t key; } kKeys[] = {
      {"helm", kVendorHelm}, {"brightness-up", kVendorBrightnessUp},
      {"brightness-down", kVendorBrightnessDown}, {"mode", kVendorOperationMode},
      {"30s-off", kVendorBacklight30sOff}, {"30s-on", kVendorBacklight30sOn}};
  std::optional<unsigned> key;
  for (const auto& k : kKeys) {
    if (words[0] == k.name) key = k.key;
  }
  if (!key) key = Number(words[0], 0xFF);
  uint8_t modifiers = 0;
  if (!key || !Modifiers(words.subspan(1), &modifiers)) return usage;
  input.VendorKey(static_cast<uint8_t>(*key), modifiers);
  return {true, "vendor report " + words[0] + ModifierText(modifiers)};
}

VerbResult VendorReportVerb(SimulatedInput& input, std::span<const std::string> words) {
  std::array<uint8_t, 4> report{};
  if (words.size() != report.size()) return {false, "vendor-report B0 B1 B2 B3"};
  for (size_t i = 0; i < report.size(); ++i) {
    const auto byte = Number(words[i], 0xFF);
    if (!byte) return {false, "vendor-report B0 B1 B2 B3"};
    report[i] = static_cast<uint8_t>(*byte);
  }
  input.VendorReport(report);
  return {true, "vendor report sent"};
}

VerbResult MouseVerb(SimulatedInput& input, std::span<const std::string> words) {
  if (!words.empty()) return {false, "mouse"};
  input.MoveMouse();
  return {true, "mouse moved"};
}

VerbResult ConsoleVerb(ConsoleSession& session, std::span<const std::string> words) {
  if (words.size() != 1 || (words[0] != "logon" && words[0] != "logoff"))
    return {false, "console logon|logoff"};
  session.SetUserLoggedOn(words[0] == "logon");
  return {true, words[0] == "logon" ? "user logged on at the console" : "nobody at the console"};
}

void AddInputVerbs(ControlChannel& channel, SimulatedInput& input, ConsoleSession& session) {
  channel.Add("key", "NAME|0xCODE [--e0] [MODIFIER...] [--hold N | --release]",
              [&input](std::span<const std::string> a) { return KeyVerb(input, a); });
  channel.Add("vendor-key", "NAME|0xBYTE [MODIFIER...]",
              [&input](std::span<const std::string> a) { return VendorKeyVerb(input, a); });
  channel.Add("vendor-report", "B0 B1 B2 B3",
              [&input](std::span<const std::string> a) { return VendorReportVerb(input, a); });
  channel.Add("mouse", "", [&input](std::span<const std::string> a) { return MouseVerb(input, a); });
  channel.Add("console", "logon|logoff",
              [&session](std::span<const std::string> a) { return ConsoleVerb(session, a); });
}

}  // namespace sim
