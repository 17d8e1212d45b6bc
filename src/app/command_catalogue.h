// The command processor and its catalogue.
//
// ironbark::IbClientCommandProcessor is assembled here from the share each subsystem declares
// in its own header. The catalogue lists every command of the command pipe in one row: its
// code, handler and logged name, its arguments and answer, and quellmark-cli's words for it.
// The dispatcher's table g_CommandHandlers and the command-line tool's named commands are both
// derived from these rows, so a new command is one row here plus its handler.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "audio/dts_sound_mode.h"
#include "firmware/firmware_commands.h"
#include "gpu/gpu_commands.h"
#include "hid/hid_commands.h"
#include "input/sticky_keys.h"
#include "pipe/command_processor.h"
#include "survey/boot_logo.h"
#include "survey/capability_survey.h"
#include "survey/registry_commands.h"

namespace ironbark {

class IbClientCommandProcessor : public PipeOperations,
                                 public RegistryCommands,
                                 public FirmwareCommands,
                                 public GpuCommands,
                                 public StickyKeyCommands,
                                 public HidCommands,
                                 public DtsSoundModeCommands,
                                 public BootLogo,
                                 public CapabilitySurvey {};

// An argument as the command reads it, and how quellmark-cli takes it from its command line.
enum class ArgKind : uint8_t {
  kU32,          // a 32-bit number
  kU64,          // a 64-bit number
  kText,         // UTF-16LE text with its NUL
  kData,         // raw bytes; the tool takes a typed argument as `send` does (u32:7, str:x, ...)
  kRegType,      // 32-bit registry value type; the tool also takes REG_SZ, REG_DWORD, ...
  kRegFlags,     // 32-bit RegGetValueW flags; the tool also takes RRF_RT_ANY, ...
  kOnOff,        // 32 bits; the tool also takes on (1) and off (0)
  kImageFormat,  // 32 bits; the tool also takes gif (0), jpg and jpeg (1)
};

struct CommandArg {
  ArgKind kind;
  const char* name;  // in usage texts: "MODE"; null ends the list
  // Last argument only: the tool may leave it out and sends zero bytes for data, a 0 of the
  // argument's width for a number.
  bool optional = false;
};

// What a command answers.
enum class AnswerKind : uint8_t {
  kItem32,        // one 4-byte item
  kItem64,        // one 8-byte item
  kItems32x3,     // three 4-byte items
  kCodeThenData,  // a 4-byte result code, then the data read
  kTextItem,      // one UTF-16LE text with its NUL
  kNone,          // nothing: the broker writes no answer
};

inline constexpr size_t kMaxCommandArgs = 5;

struct CommandRow {
  uint16_t code;
  CommandEntry entry;
  AnswerKind answer;
  // quellmark-cli's words for the command ("op-mode", "set"); null when it has none.
  const char* noun = nullptr;
  const char* verb = nullptr;
  CommandArg args[kMaxCommandArgs] = {};
};

// Every command, in code order.
std::span<const CommandRow> CommandCatalogue();

}  // namespace ironbark

// Command code (the 16-bit wire code zero-extended) to its entry: derived from the catalogue
// during static initialisation, read-only afterwards.
extern const ironbark::CommandTable g_CommandHandlers;
