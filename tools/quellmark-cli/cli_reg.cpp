// quellmark-cli reg: query, add and delete registry keys and values directly (no broker), with
// the command line and the output of the system's reg tool:
//   reg query  KEY [/v NAME | /ve] [/s]
//   reg add    KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]
//   reg delete KEY [/v NAME | /ve | /va] [/f]
// and, for the tests of the Linux build, two verbs of its own:
//   reg protect KEY     the broker may read KEY and what lies below but not change it
//   reg unprotect KEY   lifts that mark (a mark on a parent stays)
// KEY begins with a root: HKLM, HKCU, HKCR, HKU, HKCC or their full names, in any case.
// Exit code 0 on success, 1 on failure (message on stderr) or when the user declines.
#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/little_endian.h"
#include "base/registry_roots.h"
#include "base/text.h"
#include "base/win_codes.h"
#include "cli.h"
#include "cli_registry.h"
#include "registry_types.h"
#include "send_arguments.h"

namespace cli {
namespace {

// The types `reg add /t` accepts.
constexpr uint32_t kAddableTypes[] = {win::kRegNone,   win::kRegSz,    win::kRegExpandSz,
                                      win::kRegBinary, win::kRegDword, win::kRegMultiSz,
                                      win::kRegQword};

constexpr const char* kDefaultValueLabel = "(Default)";

// A failure already reported in words; RunReg turns it into exit code 1.
struct Failure {
  std::string message;
};

[[noreturn]] void Syntax(const std::string& verb, const std::string& why) {
  throw Failure{"ERROR: Invalid syntax. " + why + "\nType \"quellmark-cli reg " +
                (verb.empty() ? std::string() : verb + " ") + "/?\" for usage."};
}

std::string DescribeError(uint32_t code) {
  switch (code) {
    case win::kErrorFileNotFound:
      return "ERROR: The system was unable to find the specified registry key or value.";
    case win::kErrorAccessDenied:
      return "ERROR: Access is denied.";
    case win::kErrorBadPathname:
    case win::kErrorInvalidParameter:
      return "ERROR: Invalid key name.";
    case win::kErrorBusy:
      return "ERROR: The registry is in use by another process (error 170).";
    case win::kErrorDiskFull:
      return "ERROR: There is not enough space on the disk (error 112).";
    case win::kErrorBadDb:
      return "ERROR: The configuration registry database is corrupt (error 1009).";
    default:
      return "ERROR: The registry operation failed (error " + std::to_string(code) + ").";
  }
}

void Check(uint32_t code) {
  if (code != win::kErrorSuccess) throw Failure{DescribeError(code)};
}

// KEY: ROOT or ROOT\SUBKEY; the subkey keeps its spelling, one trailing backslash dropped.
struct KeyArg {
  win::RegRoot root;
  std::string root_name;  // full name, for display
  std::string subkey;
  std::string Display() const { return subkey.empty() ? root_name : root_name + "\\" + subkey; }
  KeyArg Child(const std::string& name) const {
    KeyArg child = *this;
    child.subkey = subkey.empty() ? name : subkey + "\\" + name;
    return child;
  }
};

KeyArg ParseKey(std::string_view arg) {
  const size_t slash = arg.find('\\');
  if (const std::optional<win::RegRoot> root = win::RegRootFromName(arg.substr(0, slash), true)) {
    KeyArg key{*root, win::RegRootFullName(*root), ""};
    if (slash != std::string_view::npos) {
      key.subkey = std::string(arg.substr(slash + 1));
      if (!key.subkey.empty() && key.subkey.back() == '\\') key.subkey.pop_back();
    }
    return key;
  }
  throw Failure{"ERROR: Invalid key name.\nThe key must begin with HKLM, HKCU, HKCR, HKU or "
                "HKCC (or their full names)."};
}

std::string TypeToName(uint32_t type) {
  for (const RegistryTypeName& t : kRegistryTypes) {
    if (t.type == type) return t.name;
  }
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "0x%" PRIX32, type);
  return buffer;
}

std::optional<uint32_t> TypeFromName(std::string_view name) {
  const std::string upper = text::AsciiUpper(name);
  for (const uint32_t type : kAddableTypes) {
    if (upper == TypeToName(type)) return type;
  }
  return std::nullopt;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

std::string FormatData(uint32_t type, const std::vector<uint8_t>& data) {
  char buffer[32];
  switch (type) {
    case win::kRegSz:
    case win::kRegExpandSz:
      return text::FromWireText(data.data(), data.size());
    case win::kRegMultiSz: {
      std::string out;
      size_t unit = 0;
      while (unit * 2 + 1 < data.size()) {
        bool terminated = false;
        const std::string item =
            text::FromWireText(data.data() + unit * 2, data.size() - unit * 2, &terminated);
        const size_t units = text::Utf8ToUtf16(item).size();
        if (units == 0) break;  // the closing empty string
        if (!out.empty()) out += "\\0";
        out += item;
        unit += units + 1;
        if (!terminated) break;
      }
      return out;
    }
    case win::kRegDword:
      if (data.size() != 4) return Hex(data);
      std::snprintf(buffer, sizeof buffer, "0x%" PRIx64, le::Load(data));
      return buffer;
    case win::kRegQword:
      if (data.size() != 8) return Hex(data);
      std::snprintf(buffer, sizeof buffer, "0x%" PRIx64, le::Load(data));
      return buffer;
    default:
      return Hex(data);
  }
}

void PrintValue(std::string_view name, uint32_t type, const std::vector<uint8_t>& data) {
  const std::string label = name.empty() ? std::string(kDefaultValueLabel) : std::string(name);
  std::printf("    %s    %s    %s\n", label.c_str(), TypeToName(type).c_str(),
              FormatData(type, data).c_str());
}

// Reads one value as stored (REG_EXPAND_SZ unexpanded); the registry's code when it fails.
uint32_t ReadValue(platform::Registry& reg, const KeyArg& key, std::string_view name,
                   uint32_t* type, std::vector<uint8_t>* data) {
  constexpr uint32_t kFlags = win::kRrfRtAny | win::kRrfNoExpand;
  for (;;) {
    uint32_t size = 0;
    uint32_t rc = reg.GetValue(key.root, key.subkey, name, kFlags, type, nullptr, &size);
    if (rc != win::kErrorSuccess) return rc;
    data->assign(size, 0);
    rc = reg.GetValue(key.root, key.subkey, name, kFlags, type, data->data(), &size);
    if (rc == win::kErrorMoreData) continue;  // it grew in between
    if (rc == win::kErrorSuccess) data->resize(size);
    return rc;
  }
}

bool Confirm(const std::string& question) {
  std::printf("%s (Yes/No)? ", question.c_str());
  std::fflush(stdout);
  std::string answer;
  if (!std::getline(std::cin, answer)) answer.clear();
  const std::string upper = text::AsciiUpper(answer);
  if (upper == "Y" || upper == "YES") return true;
  std::printf("\n");
  std::fputs("The operation was cancelled by the user.\n", stderr);
  return false;
}

// The options of one verb: /x and -x alike, names in any case.
struct Options {
  std::optional<std::string> value;  // /v NAME, or "" for /ve
  bool all_values = false;           // /va
  bool recurse = false;              // /s (query)
  std::optional<std::string> type;   // /t
  std::optional<std::string> data;   // /d
  std::optional<std::string> separator;  // /s (add)
  bool force = false;                // /f
  bool help = false;                 // /?
};

Options ParseOptions(const std::string& verb, const std::vector<std::string>& args,
                     size_t first) {
  Options o;
  auto take = [&](size_t& i, const std::string& option) {
    if (i + 1 >= args.size()) Syntax(verb, "The option " + option + " needs an argument.");
    return args[++i];
  };
  auto once = [&](bool already, const std::string& option) {
    if (already) Syntax(verb, "The option " + option + " is given twice.");
  };
  for (size_t i = first; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) {
      Syntax(verb, "Unexpected argument '" + arg + "'.");
    }
    const std::string option = text::AsciiLower(arg.substr(1));
    const bool is_add = verb == "ADD";
    if (option == "?") {
      o.help = true;
    } else if (option == "v") {
      once(o.value.has_value() || o.all_values, arg);
      o.value = take(i, arg);
    } else if (option == "ve") {
      once(o.value.has_value() || o.all_values, arg);
      o.value = "";
    } else if (option == "va" && verb == "DELETE") {
      once(o.value.has_value() || o.all_values, arg);
      o.all_values = true;
    } else if (option == "s" && verb == "QUERY") {
      o.recurse = true;
    } else if (option == "s" && is_add) {
      once(o.separator.has_value(), arg);
      o.separator = take(i, arg);
      if (o.separator->size() != 1) Syntax(verb, "The separator must be one character.");
    } else if (option == "t" && is_add) {
      once(o.type.has_value(), arg);
      o.type = take(i, arg);
    } else if (option == "d" && is_add) {
      once(o.data.has_value(), arg);
      o.data = take(i, arg);
    } else if (option == "f" && verb != "QUERY") {
      o.force = true;
    } else {
      Syntax(verb, "Unknown option " + arg + ".");
    }
  }
  return o;
}

std::vector<uint8_t> BuildData(uint32_t type, const std::string& data,
                               const std::string& separator) {
  auto invalid = [&](const char* what) -> Failure {
    return Failure{"ERROR: Invalid data '" + data + "' for " + TypeToName(type) + ": " + what};
  };
  switch (type) {
    case win::kRegSz:
    case win::kRegExpandSz:
      return text::ToWireText(data);
    case win::kRegMultiSz: {
      std::vector<uint8_t> out;
      size_t start = 0;
      while (start < data.size()) {
        size_t end = data.find(separator, start);
        if (end == std::string::npos) end = data.size();
        const std::vector<uint8_t> item = text::ToWireText(data.substr(start, end - start));
        out.insert(out.end(), item.begin(), item.end());
        start = end + separator.size();
      }
      out.insert(out.end(), {0, 0});
      return out;
    }
    case win::kRegDword:
    case win::kRegQword: {
      const bool dword = type == win::kRegDword;
      const std::optional<uint64_t> value =
          data.empty() ? 0 : ParseUnsigned(data, dword ? UINT32_MAX : UINT64_MAX);
      if (!value) throw invalid("expected a decimal number or 0x followed by hex digits.");
      return le::Bytes(*value, dword ? 4 : 8);
    }
    default: {  // REG_BINARY, REG_NONE: hex digits, two per byte
      if (data.size() % 2 != 0) throw invalid("expected an even number of hex digits.");
      std::vector<uint8_t> out;
      for (size_t i = 0; i < data.size(); i += 2) {
        const std::optional<uint64_t> byte = ParseUnsigned("0x" + data.substr(i, 2), 0xFF);
        if (!byte) throw invalid("expected hex digits.");
        out.push_back(static_cast<uint8_t>(*byte));
      }
      return out;
    }
  }
}

// Prints KEY, its values (or the one asked for) and, without recursion, its subkeys'
// paths; with recursion every key below follows. Answers how many values were printed.
size_t QueryKey(platform::Registry& reg, const KeyArg& key, const Options& o) {
  std::vector<platform::RegValueInfo> values;
  if (o.value) {
    uint32_t type = 0;
    std::vector<uint8_t> data;
    const uint32_t rc = ReadValue(reg, key, *o.value, &type, &data);
    if (rc == win::kErrorSuccess) {
      values.push_back({*o.value, type, std::move(data)});
    } else if (!(rc == win::kErrorFileNotFound && o.recurse)) {
      Check(rc);  // a search (/s) skips the keys without the value
    }
  } else {
    Check(reg.EnumValues(key.root, key.subkey, &values));
  }

  std::vector<std::string> subkeys;
  if (!o.value || o.recurse) Check(reg.EnumSubkeys(key.root, key.subkey, &subkeys));

  const bool show_key = !(o.value && o.recurse) || !values.empty();
  if (show_key) {
    std::printf("\n%s\n", key.Display().c_str());
    for (const auto& v : values) PrintValue(v.name, v.type, v.data);
  }
  size_t found = values.size();
  if (o.recurse) {
    for (const std::string& name : subkeys) found += QueryKey(reg, key.Child(name), o);
  } else {
    if (!subkeys.empty()) std::printf("\n");
    for (const std::string& name : subkeys) std::printf("%s\n", key.Child(name).Display().c_str());
  }
  return found;
}

int Query(platform::Registry& reg, const KeyArg& key, const Options& o) {
  Check(reg.OpenKey(key.root, key.subkey, win::kKeyRead));
  const size_t found = QueryKey(reg, key, o);
  // Like the system's tool, a listing ends with an empty line (a search that found nothing
  // listed nothing).
  if (!(o.value && o.recurse) || found > 0) std::printf("\n");
  if (o.value && o.recurse) {
    std::printf("End of search: %zu match(es) found.\n", found);
    if (found == 0) Check(win::kErrorFileNotFound);
  }
  return 0;
}

int Add(platform::Registry& reg, const KeyArg& key, const Options& o) {
  if (!o.value && !o.type && !o.data) {
    Check(reg.CreateKey(key.root, key.subkey, win::kKeyAllAccess));
  } else {
    uint32_t type = win::kRegSz;
    if (o.type) {
      const std::optional<uint32_t> parsed = TypeFromName(*o.type);
      if (!parsed) {
        Syntax("ADD", "Unknown type " + *o.type +
                          " (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, "
                          "REG_BINARY or REG_NONE).");
      }
      type = *parsed;
    }
    if (o.separator && type != win::kRegMultiSz) Syntax("ADD", "/s is for REG_MULTI_SZ only.");
    const std::vector<uint8_t> data =
        BuildData(type, o.data.value_or(""), o.separator.value_or("\\0"));
    const std::string name = o.value.value_or("");
    if (!o.force) {
      const uint32_t rc = reg.GetValue(key.root, key.subkey, name,
                                       win::kRrfRtAny | win::kRrfNoExpand, nullptr, nullptr,
                                       nullptr);
      if (rc == win::kErrorSuccess &&
          !Confirm("Value " + (name.empty() ? std::string(kDefaultValueLabel) : name) +
                   " exists, overwrite")) {
        return 1;
      }
    }
    Check(reg.SetKeyValue(key.root, key.subkey, name, type, data.data(),
                          static_cast<uint32_t>(data.size())));
  }
  std::printf("The operation completed successfully.\n");
  return 0;
}

int Delete(platform::Registry& reg, const KeyArg& key, const Options& o) {
  if (o.value) {
    const std::string label = o.value->empty() ? std::string(kDefaultValueLabel) : *o.value;
    Check(reg.OpenKey(key.root, key.subkey, win::kKeyRead));
    if (!o.force && !Confirm("Delete the registry value " + label)) return 1;
    Check(reg.DeleteKeyValue(key.root, key.subkey, *o.value));
  } else if (o.all_values) {
    std::vector<platform::RegValueInfo> values;
    Check(reg.EnumValues(key.root, key.subkey, &values));
    if (!o.force && !Confirm("Delete all values under the registry key " + key.Display())) {
      return 1;
    }
    for (const auto& v : values) Check(reg.DeleteKeyValue(key.root, key.subkey, v.name));
  } else {
    if (key.subkey.empty()) throw Failure{"ERROR: Invalid key name. A root key cannot be deleted."};
    Check(reg.OpenKey(key.root, key.subkey, win::kKeyRead));
    if (!o.force && !Confirm("Permanently delete the registry key " + key.Display())) return 1;
    Check(reg.DeleteTree(key.root, key.subkey));
  }
  std::printf("The operation completed successfully.\n");
  return 0;
}

void PrintUsage(const std::string& verb) {
  if (verb.empty() || verb == "QUERY") {
    std::puts(
        "quellmark-cli reg query KEY [/v NAME | /ve] [/s]\n"
        "  Lists the values of KEY (or the one named; /ve: the default value) and its\n"
        "  subkeys; /s lists every key below as well (with /v: searches for the value).");
  }
  if (verb.empty() || verb == "ADD") {
    std::puts(
        "quellmark-cli reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEP] [/d DATA] [/f]\n"
        "  Creates KEY, or sets a value in it (creating the key). TYPE: REG_SZ (default),\n"
        "  REG_EXPAND_SZ, REG_MULTI_SZ (items separated by \\0 or SEP), REG_DWORD, REG_QWORD\n"
        "  (decimal or 0x hex), REG_BINARY, REG_NONE (hex digits). /f: overwrite without asking.");
  }
  if (verb.empty() || verb == "DELETE") {
    std::puts(
        "quellmark-cli reg delete KEY [/v NAME | /ve | /va] [/f]\n"
        "  Deletes KEY with everything below it, or one value, the default value (/ve) or\n"
        "  all values of KEY (/va). /f: delete without asking.");
  }
  if (verb.empty() || verb == "PROTECT" || verb == "UNPROTECT") {
    std::puts(
        "quellmark-cli reg protect|unprotect KEY   (Linux build)\n"
        "  Marks KEY (created when missing) and everything below it as read-only for the\n"
        "  broker, whose changes there then answer ERROR_ACCESS_DENIED (5); unprotect lifts\n"
        "  the mark of KEY itself.");
  }
  std::puts("KEY: ROOT\\SUBKEY, ROOT one of HKLM, HKCU, HKCR, HKU, HKCC or their full names.");
}

int Protect(const Context& context, const KeyArg& key, bool protect) {
  std::optional<uint32_t> rc;
  try {
    rc = SetKeyProtection(context, key.root, key.subkey, protect);
  } catch (const std::exception& e) {
    throw Failure{std::string("ERROR: ") + e.what()};
  }
  if (!rc) {
    throw Failure{"ERROR: reg protect and reg unprotect exist in the Linux build only; on "
                  "Windows a key's security descriptor decides who may change it."};
  }
  Check(*rc);
  std::printf("The operation completed successfully.\n");
  return 0;
}

}  // namespace

int RunReg(const Context& context, const std::vector<std::string>& args) {
  try {
    if (args.empty()) Syntax("", "Missing operation (query, add, delete, protect or unprotect).");
    const std::string verb = text::AsciiUpper(args[0]);
    if (verb == "/?" || verb == "-?") {
      PrintUsage("");
      return 0;
    }
    const bool protection = verb == "PROTECT" || verb == "UNPROTECT";
    if (verb != "QUERY" && verb != "ADD" && verb != "DELETE" && !protection) {
      Syntax("", "Unknown operation '" + args[0] + "'.");
    }
    if (args.size() >= 2 && (args[1] == "/?" || args[1] == "-?")) {
      PrintUsage(verb);
      return 0;
    }
    if (args.size() < 2) Syntax(verb, "Missing KEY.");
    const KeyArg key = ParseKey(args[1]);
    if (protection) {
      if (args.size() > 2) Syntax(verb, "Unexpected argument '" + args[2] + "'.");
      return Protect(context, key, verb == "PROTECT");
    }
    const Options options = ParseOptions(verb, args, 2);
    if (options.help) {
      PrintUsage(verb);
      return 0;
    }

    std::unique_ptr<platform::Registry> reg;
    try {
      reg = OpenRegistry(context);
    } catch (const std::exception& e) {
      throw Failure{std::string("ERROR: ") + e.what()};
    }
    if (verb == "QUERY") return Query(*reg, key, options);
    if (verb == "ADD") return Add(*reg, key, options);
    return Delete(*reg, key, options);
  } catch (const Failure& f) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", f.message.c_str());
    return 1;
  }
}

}  // namespace cli
