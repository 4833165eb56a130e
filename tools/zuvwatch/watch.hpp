#pragma once
// What zuvwatch shares between its portable part and the OS's file.
#include <memory>
#include <string>
#include <vector>

namespace zuvwatch {

inline constexpr int kPollMs = 100;

struct Arguments {
  std::string queue, pipe;
  bool fifo = false, sizes = false;
  long idleExitMs = -1;
  std::vector<std::string> command;
};

[[noreturn]] void Usage(const char* message);
// Writes the bytes to standard output as they are, at once.
void Print(const char* data, size_t size);
// Standard output takes bytes unchanged (no line-end translation).
void PrepareOutput();

// The exporter zuvwatch starts, when a command was given.
class Child {
 public:
  explicit Child(const std::vector<std::string>& command);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  bool Exists() const;
  // True once the child has ended (or there is none).
  bool Ended();
  // Its exit status (0 when there is none).
  int Wait();

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// Listens on the pipe CPipeChannel::PathForName(args.pipe), starts the
// command, prints what arrives until the exporter closes its end, and
// returns the command's status.
int WatchPipe(const Arguments& args);

}  // namespace zuvwatch
