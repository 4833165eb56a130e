// zuvwatch: follows the progress of an export, as a controlling program would.
//
//   zuvwatch --queue NAME [--sizes] [--idle-exit MS] [-- PROGRAM ARGS...]
//   zuvwatch --pipe NAME [--fifo] [-- PROGRAM ARGS...]
//
// --queue creates the message queue NAME (a stale one is removed first) and
// prints each message as it arrives (--sizes: its byte count first). It ends
// when the exporter removes the queue name, when the program it started ends,
// or after MS milliseconds without a message (--idle-exit).
// --pipe listens on CPipeChannel::PathForName(NAME): a socket (--fifo: a
// FIFO at that path) on POSIX systems, a named pipe on Windows; it prints what arrives until the
// exporter closes it. With "-- PROGRAM ARGS...", zuvwatch starts the exporter itself once it
// listens, and exits with its status.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "platform/interruption.hpp"
#include "platform/ipc/message_queue.hpp"
#include "watch.hpp"
#include "zuvexport_version.hpp"

namespace zuvwatch {

void Usage(const char* message) {
  std::fprintf(stderr,
               "zuvwatch: %s\n"
               "usage: zuvwatch --queue NAME [--sizes] [--idle-exit MS] [-- PROGRAM ARGS...]\n"
               "       zuvwatch --pipe NAME [--fifo] [-- PROGRAM ARGS...]\n",
               message);
  std::exit(2);
}

namespace {

Arguments Parse(int argc, char* argv[]) {
  Arguments args;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= argc) Usage(("missing value after " + arg).c_str());
      return argv[++i];
    };
    if (arg == "--queue") {
      args.queue = next();
    } else if (arg == "--pipe") {
      args.pipe = next();
    } else if (arg == "--fifo") {
      args.fifo = true;
    } else if (arg == "--sizes") {
      args.sizes = true;
    } else if (arg == "--idle-exit") {
      args.idleExitMs = std::strtol(next().c_str(), nullptr, 10);
    } else if (arg == "--") {
      args.command.assign(argv + i + 1, argv + argc);
      break;
    } else {
      Usage(("unknown argument " + arg).c_str());
    }
  }
  if (args.queue.empty() == args.pipe.empty()) Usage("give one of --queue or --pipe");
  return args;
}

}  // namespace

void Print(const char* data, size_t size) {
  std::fwrite(data, 1, size, stdout);
  std::fflush(stdout);
}

namespace {

int WatchQueue(const Arguments& args) {
  // Our limits: 4096-byte messages hold every report of the exporter.
  auto queue = zx::CMessageQueue::Create(args.queue, 100, 4096);
  Child child(args.command);
  std::string message;
  auto idleSince = std::chrono::steady_clock::now();
  auto show = [&]() {
    if (args.sizes) std::printf("%zu ", message.size());
    Print(message.data(), message.size());
  };
  for (;;) {
    if (queue->Receive(message, kPollMs)) {
      show();
      idleSince = std::chrono::steady_clock::now();
      continue;
    }
    // The exporter removes the name when it ends; what it sent stays
    // readable through our own view of the queue.
    const bool senderDone =
        (child.Exists() && child.Ended()) || !zx::CMessageQueue::Exists(args.queue);
    const bool idle = args.idleExitMs >= 0 && std::chrono::steady_clock::now() - idleSince >=
                                                  std::chrono::milliseconds(args.idleExitMs);
    if (senderDone || idle) break;
  }
  while (queue->Receive(message, 0)) show();
  zx::CMessageQueue::Remove(args.queue);
  return child.Wait();
}

}  // namespace
}  // namespace zuvwatch

int main(int argc, char* argv[]) {
  if (zx::PrintVersionIfAsked(argc, argv, "zuvwatch")) return 0;
  using namespace zuvwatch;
  zx::IgnoreWriteSignals();
  PrepareOutput();
  const Arguments args = Parse(argc, argv);
  try {
    return args.queue.empty() ? WatchPipe(args) : WatchQueue(args);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zuvwatch: %s\n", e.what());
    return 2;
  }
}
