#include "survey/registry_commands.h"

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "base/little_endian.h"
#include "base/registry_roots.h"
#include "base/text.h"
#include "log/log_file.h"
#include "log/message_format.h"
#include "pipe/handler_log.h"
#include "pipe/connection_context.h"
#include "pipe/named_pipe.h"
#include "pipe/protocol.h"
#include "platform/services.h"

namespace ironbark {
namespace {

using Bytes = std::vector<uint8_t>;
using ironbark::CommandRequest;
using ironbark::CommandResponse;

constexpr size_t kMessageChars = 64;
constexpr size_t kShortAnswerSize = 9;  // 1 item of 4 bytes

// A text argument: the decoded text and its wire form up to and including the NUL.
struct Text {
  std::string value;
  Bytes wire;
};

std::optional<Text> ReadText(const CommandRequest& request, size_t index) {
  std::optional<std::string> value = request.ArgumentText(index);
  if (!value) return std::nullopt;
  const auto bytes = request.Argument(index);
  size_t end = 0;
  while (end + 1 < bytes.size() && (bytes[end] != 0 || bytes[end + 1] != 0)) end += 2;
  return Text{std::move(*value), Bytes(bytes.begin(), bytes.begin() + end + 2)};
}

Bytes ReadData(const CommandRequest& request, size_t index) {
  const auto bytes = request.Argument(index);
  return Bytes(bytes.begin(), bytes.end());
}

// KEY split at its first backslash; the root name resolved.
struct KeyPath {
  std::optional<win::RegRoot> root;
  std::string subkey;
};

KeyPath SplitKeyPath(const std::string& path) {
  const size_t slash = path.find('\\');
  KeyPath key;
  // Clients name their roots in full; an abbreviation names no key.
  key.root = win::RegRootFromName(std::string_view(path).substr(0, slash), false);
  if (slash != std::string::npos) key.subkey = path.substr(slash + 1);
  return key;
}

void LogResult(const char* handler, uint32_t result) {
  LogProcessor(handler, FormatMessageSized(kMessageChars, "Rsponse error code: 0x%d",
                                           static_cast<int>(result)));
}

void AnswerCode(const char* handler, uint32_t result, CommandResponse& response) {
  ironbark::BuildResponse(response, {{&result, sizeof result}});
  LogResult(handler, result);
}

// The value writer: makes sure the key exists (probe with KEY_READ, create with
// KEY_ALL_ACCESS), then creates or overwrites the value.
uint32_t WriteValue(const KeyPath& key, const std::string& name, uint32_t type,
                    const Bytes& data) {
  platform::Registry& reg = platform::Reg();
  if (reg.OpenKey(*key.root, key.subkey, win::kKeyRead) != win::kErrorSuccess) {
    if (const uint32_t rc = reg.CreateKey(*key.root, key.subkey, win::kKeyAllAccess);
        rc != win::kErrorSuccess) {
      return rc;
    }
  }
  return reg.SetKeyValue(*key.root, key.subkey, name, type, data.empty() ? nullptr : data.data(),
                         static_cast<uint32_t>(data.size()));
}

// --- Forward -------------------------------------------------------------------------------

// True when the request being handled may be passed on to the command pipe: it did not itself
// arrive as a forward. A direct call (no connection on this thread) counts as a client's.
bool MayForward() {
  const ConnectionContext* connection = CurrentConnection();
  return connection == nullptr || !connection->from_this_process;
}

bool Forwardable(const Text& text) {
  return text.wire.size() / 2 - 1 <= ironbark::kMaxForwardedTextUnits;
}

// Connects to the command pipe, writes one request and reads the whole answer. 0 with the
// answer, or the failing step's error.
uint32_t ExchangeWithCommandPipe(uint16_t code, const std::vector<Bytes>& arguments,
                                 Bytes* answer) {
  NamedPipeClient client(kCommandPipeName);
  // A connection error shows in the write, whose error then becomes the result.
  client.ConnectPipe();
  if (const uint32_t rc = client.WritePipeMessage(code, arguments); rc != win::kErrorSuccess) {
    return rc;
  }
  const uint32_t rc = client.ReadPipeMessage(answer);
  client.Close();
  return rc;
}

// Commands 1 to 5, passed on under their own `code`: the forwarded answer's code.
uint32_t ForwardForCode(uint16_t code, const std::vector<Bytes>& arguments) {
  Bytes answer;
  if (const uint32_t rc = ExchangeWithCommandPipe(code, arguments, &answer);
      rc != win::kErrorSuccess) {
    return rc;
  }
  if (answer.size() < kShortAnswerSize) return win::kErrorInvalidData;
  return le::LoadU32(answer.data() + 5);
}

// Command 6, passed on under its own `code`: the forwarded answer's code, and its data cut to
// `limit` bytes.
uint32_t ForwardForValue(uint16_t code, const std::vector<Bytes>& arguments, uint32_t limit,
                         Bytes* data) {
  data->clear();
  Bytes answer;
  if (const uint32_t rc = ExchangeWithCommandPipe(code, arguments, &answer);
      rc != win::kErrorSuccess) {
    return rc;
  }
  std::vector<Bytes> items;
  if (!ironbark::ParseResponse(answer.data(), answer.size(), &items) || items.empty() ||
      items[0].size() != 4) {
    return win::kErrorInvalidData;
  }
  if (items.size() > 1) {
    *data = std::move(items[1]);
    if (data->size() > limit) data->resize(limit);
  }
  return le::LoadU32(items[0].data());
}

// --- The commands --------------------------------------------------------------------------

// Commands 1 to 5 share their shape: read the arguments, run one registry operation, forward on
// 5, answer the code.
struct SimpleCommand {
  const char* handler;
  size_t texts;     // KEY, or KEY and NAME
  bool with_data;   // TYPE and DATA follow the texts
};

using Operation = uint32_t (*)(const KeyPath& key, const std::string& name, uint32_t type,
                               const Bytes& data);

void RunSimple(const SimpleCommand& command, Operation operation, const CommandRequest& request,
               CommandResponse& response) {
  const size_t needed = command.texts + (command.with_data ? 2 : 0);
  std::optional<Text> texts[2];
  bool readable = request.argument_count() >= needed;
  for (size_t i = 0; readable && i < command.texts; ++i) {
    texts[i] = ReadText(request, i);
    readable = texts[i].has_value();
  }
  if (!readable) {
    AnswerCode(command.handler, ironbark::kMalformedRequestAnswer, response);
    return;
  }
  const uint32_t type = command.with_data ? request.ArgumentU32(command.texts) : 0;
  const Bytes data = command.with_data ? ReadData(request, command.texts + 1) : Bytes{};
  const std::string name = command.texts > 1 ? texts[1]->value : std::string();

  const KeyPath key = SplitKeyPath(texts[0]->value);
  if (!key.root) {
    AnswerCode(command.handler, win::kErrorFileNotFound, response);
    return;
  }
  uint32_t result = operation(key, name, type, data);

  if (result == win::kErrorAccessDenied && MayForward() && Forwardable(*texts[0]) &&
      (command.texts < 2 || Forwardable(*texts[1]))) {
    std::vector<Bytes> arguments;
    for (size_t i = 0; i < command.texts; ++i) arguments.push_back(texts[i]->wire);
    if (command.with_data) {
      arguments.push_back(le::Bytes(type, 4));
      arguments.push_back(data);
    }
    result = ForwardForCode(request.code(), arguments);
  }
  AnswerCode(command.handler, result, response);
}

uint32_t CreateKeyOperation(const KeyPath& key, const std::string&, uint32_t, const Bytes&) {
  return platform::Reg().CreateKey(*key.root, key.subkey, win::kKeyAllAccess);
}

uint32_t DeleteKeyOperation(const KeyPath& key, const std::string&, uint32_t, const Bytes&) {
  return platform::Reg().DeleteTree(*key.root, key.subkey);
}

uint32_t DeleteValueOperation(const KeyPath& key, const std::string& name, uint32_t,
                              const Bytes&) {
  return platform::Reg().DeleteKeyValue(*key.root, key.subkey, name);
}

// Overwrites an existing value only; the existence check's error otherwise.
uint32_t SetValueOperation(const KeyPath& key, const std::string& name, uint32_t type,
                           const Bytes& data) {
  const uint32_t exists = platform::Reg().GetValue(*key.root, key.subkey, name, win::kRrfRtAny,
                                                   nullptr, nullptr, nullptr);
  if (exists != win::kErrorSuccess) return exists;
  return WriteValue(key, name, type, data);
}

constexpr SimpleCommand kCreateKeyCommand = {"reg_create_key", 1, false};
constexpr SimpleCommand kDeleteKeyCommand = {"reg_delete_key", 1, false};
constexpr SimpleCommand kCreateValueCommand = {"reg_create_value", 2, true};
constexpr SimpleCommand kDeleteValueCommand = {"reg_delete_value", 2, false};
constexpr SimpleCommand kSetValueCommand = {"reg_set_value", 2, true};

constexpr const char* kGetValueHandler = "reg_get_value";

// The type the default data is written with for a read restricted by `flags`.
uint32_t DefaultValueType(uint32_t flags) {
  if (flags == win::kRrfRtRegSz) return win::kRegSz;
  if (flags == win::kRrfRtRegDword) return win::kRegDword;
  return flags;
}

// How often a read is repeated when the value grew between learning its size and reading it.
constexpr int kReadAttempts = 4;

// RegGetValueW into a buffer of `capacity` bytes, as the client asked, with only as much memory
// reserved as the value needs: the registry is first asked for the value's size, and the read
// gets a buffer of that size (never more than `capacity`). A value that grew in between, but
// still fits `capacity`, is read again. `data` holds the bytes of a successful read; 0 or the
// read's error. Throws std::bad_alloc when even the value's own size cannot be reserved.
uint32_t ReadValue(const KeyPath& key, const std::string& name, uint32_t flags, uint32_t capacity,
                   Bytes* data) {
  platform::Registry& reg = platform::Reg();
  data->clear();
  uint32_t needed = 0;
  if (const uint32_t rc =
          reg.GetValue(*key.root, key.subkey, name, flags, nullptr, nullptr, &needed);
      rc != win::kErrorSuccess) {
    return rc;
  }
  for (int attempt = 1;; ++attempt) {
    uint32_t size = std::min(needed, capacity);
    // One spare byte keeps a zero-byte buffer a buffer: a null one asks for the size only.
    data->resize(static_cast<size_t>(size) + 1);
    const uint32_t rc =
        reg.GetValue(*key.root, key.subkey, name, flags, nullptr, data->data(), &size);
    if (rc == win::kErrorSuccess) {
      data->resize(size);
      return rc;
    }
    data->clear();
    if (rc != win::kErrorMoreData || size > capacity || attempt == kReadAttempts) return rc;
    needed = size;  // the size it has now
  }
}

void AnswerValue(uint32_t result, const uint8_t* data, uint32_t size,
                 CommandResponse& response) {
  if (result != win::kErrorSuccess) size = 0;
  ironbark::BuildResponse(response, {{&result, sizeof result}, {data, size}});
  LogResult(kGetValueHandler, result);
}

}  // namespace

void RegistryCommands::reg_create_key(const CommandRequest& request,
                                      CommandResponse& response) {
  RunSimple(kCreateKeyCommand, &CreateKeyOperation, request, response);
}

void RegistryCommands::reg_delete_key(const CommandRequest& request,
                                      CommandResponse& response) {
  RunSimple(kDeleteKeyCommand, &DeleteKeyOperation, request, response);
}

void RegistryCommands::reg_create_value(const CommandRequest& request,
                                        CommandResponse& response) {
  RunSimple(kCreateValueCommand, &WriteValue, request, response);
}

void RegistryCommands::reg_delete_value(const CommandRequest& request,
                                        CommandResponse& response) {
  RunSimple(kDeleteValueCommand, &DeleteValueOperation, request, response);
}

void RegistryCommands::reg_set_value(const CommandRequest& request,
                                     CommandResponse& response) {
  RunSimple(kSetValueCommand, &SetValueOperation, request, response);
}

void RegistryCommands::reg_get_value(const CommandRequest& request,
                                     CommandResponse& response) {
  std::optional<Text> path;
  std::optional<Text> name;
  if (request.argument_count() < 5 || !(path = ReadText(request, 0)) ||
      !(name = ReadText(request, 1))) {
    AnswerValue(ironbark::kMalformedRequestAnswer, nullptr, 0, response);
    return;
  }
  const uint32_t flags = request.ArgumentU32(2);
  const uint32_t capacity = request.ArgumentU32(3);
  const Bytes default_data = ReadData(request, 4);

  const KeyPath key = SplitKeyPath(path->value);
  if (!key.root) {
    AnswerValue(win::kErrorFileNotFound, nullptr, 0, response);
    return;
  }
  Bytes data;
  uint32_t result = win::kErrorSuccess;
  try {
    result = ReadValue(key, name->value, flags, capacity, &data);
    if (result != win::kErrorSuccess && result != win::kErrorMoreData &&
        flags != win::kRrfRtAny) {
      result = WriteValue(key, name->value, DefaultValueType(flags), default_data);
      if (result == win::kErrorSuccess) {
        result = ReadValue(key, name->value, flags, capacity, &data);
      }
    }
  } catch (const std::bad_alloc&) {  // the memory failure is the answer; nothing is written
    AnswerValue(win::kErrorNotEnoughMemory, nullptr, 0, response);
    return;
  }

  if (result == win::kErrorAccessDenied && MayForward() && Forwardable(*path) &&
      Forwardable(*name)) {
    const std::vector<Bytes> arguments = {path->wire, name->wire, le::Bytes(flags, 4),
                                          le::Bytes(capacity, 4), default_data};
    result = ForwardForValue(request.code(), arguments, capacity, &data);
  }
  AnswerValue(result, data.data(), static_cast<uint32_t>(data.size()), response);
}

}  // namespace ironbark
