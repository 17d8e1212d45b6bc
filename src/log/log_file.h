// The broker's own log: one line per call appended to a plain-text file.
#pragma once
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <string_view>

enum LogLevel : int {
  kLogInfo = 0,
  kLogWarning = 1,
  kLogError = 2,
  kLogException = 3,
};

class LogFile {
 public:
  // `name` is written into every line ("Quellmark"); `path` is the log file's Windows path.
  LogFile(std::string name, std::string path);

  // Appends one line: tag, space, timestamp, " | ", name, " | ", function, " | ", message,
  // CR LF. The tag is 11 characters for levels 0..3 and empty for any other level; the
  // timestamp is local time, "YYYYMMDD_HH:MM:SS.mmm". `function` and `message` end at an
  // embedded zero, as the null-terminated texts they stand for. The line is narrowed to one
  // byte per character (U+0000..U+00FF keep their value, anything above becomes '?'). The file
  // is opened, written and closed under the lock for every line, so lines from concurrent
  // callers never interleave and a deleted file is created again by the next line.
  // Returns 1 when the file opened, 0 when it could not (the line is dropped).
  int Write(int level, std::string_view function, std::string_view message);

  const std::string& path() const { return path_; }

 private:
  std::string name_;
  std::string path_;
  std::mutex lock_;
};

// The process's log; null while logging is off. Set once at start-up before other threads run.
extern std::atomic<LogFile*> g_LogFile;

// A line's stamp for `now` in local time, "YYYYMMDD_HH:MM:SS.mmm" (the milliseconds always three
// digits).
std::string LogTimestamp(std::chrono::system_clock::time_point now);

// Writes through g_LogFile when logging is on; does nothing otherwise.
void LogLine(int level, std::string_view function, std::string_view message);

// Writes through `log` while it is the installed g_LogFile; does nothing once it was detached.
void LogLineTo(const LogFile* log, int level, std::string_view function, std::string_view message);

// Sets g_LogFile to null and waits until no LogLine call still uses the previous LogFile
// (threads of the broker may be logging while it shuts down); returns that LogFile, which the
// caller may then delete.
LogFile* DetachLogFile();
