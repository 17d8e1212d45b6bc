// The registry value helpers: how the broker publishes what it learns about the machine under
// HKEY_LOCAL_MACHINE (for example "SOFTWARE\OEM\Calvane") and reads a few values back. Plain
// functions without state, callable from any thread at once; they reach the registry through
// platform::Reg() only. Key paths are relative to HKEY_LOCAL_MACHINE, UTF-8, backslash-separated.
#pragma once
#include <cstdint>
#include <string_view>

// Opens the key for reading and, when that fails, creates it (every missing key on the path;
// KEY_ALL_ACCESS, non-volatile), then stores `value` as a 4-byte little-endian REG_DWORD.
// 0, or the Windows code of the first step that failed. Never logs, never retries.
uint32_t write_reg_dword(std::string_view key_path, std::string_view value_name, uint32_t value);

// As write_reg_dword, storing `text` (UTF-8) as REG_SZ: UTF-16LE with its terminating zero.
// The text is counted up to 0x80000 UTF-16 units; anything beyond is cut off. A null `text`
// stores the empty string (2 bytes, the terminating zero alone).
uint32_t write_reg_string(std::string_view key_path, std::string_view value_name,
                          const char* text);

// The value as a DWORD. A missing value (or key) answers 0 and writes nothing. A value that
// exists but cannot be read as a REG_DWORD of 4 bytes (another type, another size) is
// overwritten with the REG_DWORD 0, and the answer is 0.
uint32_t read_reg_dword_default(std::string_view key_path, std::string_view value_name);
