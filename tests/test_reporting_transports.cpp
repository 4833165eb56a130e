// The queue and pipe reporters against real readers in another process
// (zuvwatch), and against readers that are missing, full or gone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/ipc/message_queue.hpp"
#include "platform/ipc/pipe_channel.hpp"
#include "reporting/mq_reporter.hpp"
#include "reporting/pipe_reporter.hpp"
#include "support/legacy_check.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

namespace zx {
namespace {

bool IsFileType(const std::string& path, mode_t type) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && (info.st_mode & S_IFMT) == type;
}

void SendTheSampleReports(CProgressReporterBase& reporter) {
  reporter.ReportInfo("Beginning export");
  reporter.ReportProgress(7);
  reporter.ReportProgress(42);
  reporter.ReportProgress(100);
  reporter.ReportError("Beginning export");
}

const char* const kSampleBytes = "Info: Beginning export\n7\n42\n100\nError: Beginning export\n";

TEST(MqReporter, DeliversExactMessagesToAnotherProcessAndRemovesTheName) {
  const std::string queue = test::UniqueName("zuvtest_mq_");
  test::CChildProcess watcher(ZUVWATCH_BIN, {"--queue", queue, "--sizes"});
  ASSERT_TRUE(test::WaitUntil([&] { return CMessageQueue::Exists(queue); }));
  {
    CBoostMqProgressReporter reporter(queue);
    SendTheSampleReports(reporter);
  }
  EXPECT_FALSE(CMessageQueue::Exists(queue));
  auto r = watcher.Wait();  // ends because the name went away
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "23 Info: Beginning export\n2 7\n3 42\n4 100\n24 Error: Beginning export\n");
}

TEST(MqReporter, CreatedQueueHoldsTextMessages) {
  const std::string queue = test::UniqueName("zuvtest_mq_");
  const std::string longMessage(3000, 'm');
  auto reporter = std::make_unique<CBoostMqProgressReporter>(queue);
  reporter->ReportInfo(longMessage);
  reporter->ReportError("E");
  {
    auto reader = CMessageQueue::OpenOrCreate(queue, 1, 1);  // opens with the queue's limits
    EXPECT_EQ(reader->MaxMessages(), 100u);
    EXPECT_EQ(reader->MaxMessageSize(), CBoostMqProgressReporter::kMaxMessageSize);
    std::string message;
    ASSERT_TRUE(reader->Receive(message, 0));
    EXPECT_EQ(message, "Info: " + longMessage + "\n");
    ASSERT_TRUE(reader->Receive(message, 0));
    EXPECT_EQ(message, "Error: E\n");
  }
  reporter.reset();
  EXPECT_FALSE(CMessageQueue::Exists(queue));
}

TEST(MqReporter, CutsReportsToASmallerExistingQueue) {
  const std::string queue = test::UniqueName("zuvtest_mq_");
  std::string message;
  {
    auto reader = CMessageQueue::Create(queue, 10, 5);
    CBoostMqProgressReporter reporter(queue);
    reporter.ReportInfo("Beginning export");
    reporter.ReportProgress(100);
    ASSERT_TRUE(reader->Receive(message, 0));
    EXPECT_EQ(message, "Info\n");
    ASSERT_TRUE(reader->Receive(message, 0));
    EXPECT_EQ(message, "100\n");
  }
  {
    auto reader = CMessageQueue::Create(queue, 10, 8);
    CBoostMqProgressReporter reporter(queue);
    reporter.ReportInfo("x");   // exactly 8 bytes: unchanged
    reporter.ReportInfo("xy");  // 9 bytes: cut
    ASSERT_TRUE(reader->Receive(message, 0));
    EXPECT_EQ(message, "Info: x\n");
    ASSERT_TRUE(reader->Receive(message, 0));
    EXPECT_EQ(message, "Info: x\n");
  }
  EXPECT_FALSE(CMessageQueue::Exists(queue));
}

TEST(MqReporter, FullQueueWithoutReaderDropsReportsInsteadOfHanging) {
  const std::string queue = test::UniqueName("zuvtest_mq_");
  auto reader = CMessageQueue::Create(queue, 2, 64);
  CBoostMqProgressReporter reporter(queue, 20);
  for (int percent = 1; percent <= 6; ++percent) reporter.ReportProgress(percent);
  EXPECT_EQ(reader->MessageCount(), 2u);
  std::string message;
  ASSERT_TRUE(reader->Receive(message, 0));
  EXPECT_EQ(message, "1\n");
  ASSERT_TRUE(reader->Receive(message, 0));
  EXPECT_EQ(message, "2\n");
  // A reader that comes back gets the reports again.
  reporter.ReportInfo("back");
  ASSERT_TRUE(reader->Receive(message, 0));
  EXPECT_EQ(message, "Info: back\n");
}

TEST(PipeReporter, PathsFollowTheTempDirectory) {
  const char* saved = std::getenv("TMPDIR");
  const std::string restore = saved ? saved : "";
  setenv("TMPDIR", "/x/y", 1);
  EXPECT_EQ(CPipeChannel::PathForName("abc"), "/x/y/CoreFxPipe_abc");
  setenv("TMPDIR", "/x/y/", 1);
  EXPECT_EQ(CPipeChannel::PathForName("abc"), "/x/y/CoreFxPipe_abc");
  unsetenv("TMPDIR");
  EXPECT_EQ(CPipeChannel::PathForName("abc"), "/tmp/CoreFxPipe_abc");
  EXPECT_EQ(CPipeChannel::PathForName(""), "/tmp/CoreFxPipe_");
  EXPECT_EQ(CPipeChannel::PathForName("run/p"), "run/p");
  EXPECT_EQ(CPipeChannel::PathForName("/run/p"), "/run/p");
  if (saved) setenv("TMPDIR", restore.c_str(), 1);
}

TEST(PipeReporter, SocketAndFifoListenersReceiveTheSameBytes) {
  test::CTempDir dir;
  {
    // A name without '/' goes to <TMPDIR>/CoreFxPipe_NAME, in both processes.
    const std::string path = CPipeChannel::PathForName(test::UniqueName("zuvtest_"));
    test::CChildProcess watcher(ZUVWATCH_BIN, {"--pipe", path});
    ASSERT_TRUE(test::WaitUntil([&] { return IsFileType(path, S_IFSOCK); }));
    {
      CNamedPipeProgressReporter reporter(path);
      SendTheSampleReports(reporter);
    }
    auto r = watcher.Wait();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, kSampleBytes);
  }
  {
    const std::string path = dir.file("fifo");
    test::CChildProcess watcher(ZUVWATCH_BIN, {"--pipe", path, "--fifo"});
    ASSERT_TRUE(test::WaitUntil([&] { return IsFileType(path, S_IFIFO); }));
    {
      CNamedPipeProgressReporter reporter(path);
      SendTheSampleReports(reporter);
    }
    auto r = watcher.Wait();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, kSampleBytes);
  }
}

TEST(PipeReporter, NobodyListeningIsSilent) {
  test::CTempDir dir;
  {
    CNamedPipeProgressReporter reporter(dir.file("missing"));
    SendTheSampleReports(reporter);
  }
  {
    // A socket file left behind by a listener that is gone.
    const std::string path = dir.file("stale");
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
    CNamedPipeProgressReporter reporter(path);
    SendTheSampleReports(reporter);
  }
  {
    const std::string path = dir.file("fifo");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    CNamedPipeProgressReporter reporter(path);  // no reader: must not block
    SendTheSampleReports(reporter);
  }
  {
    // A regular file is not a pipe: it is left as it is.
    const std::string path = dir.file("plain");
    std::ofstream(path) << "keep";
    {
      CNamedPipeProgressReporter reporter(path);
      SendTheSampleReports(reporter);
    }
    std::stringstream content;
    content << std::ifstream(path).rdbuf();
    EXPECT_EQ(content.str(), "keep");
  }
}

TEST(PipeReporter, ReaderThatGoesAwayDoesNotKillTheWriter) {
  // SIGPIPE keeps its default action here: a write raising it would end
  // the test process.
  ASSERT_EQ(signal(SIGPIPE, SIG_DFL), SIG_DFL);
  test::CTempDir dir;
  for (bool fifo : {false, true}) {
    const std::string path = dir.file(fifo ? "fifo" : "socket");
    std::vector<std::string> args = {"--pipe", path};
    if (fifo) args.push_back("--fifo");
    test::CChildProcess watcher(ZUVWATCH_BIN, args);
    ASSERT_TRUE(test::WaitUntil([&] { return IsFileType(path, fifo ? S_IFIFO : S_IFSOCK); }));
    CNamedPipeProgressReporter reporter(path);
    reporter.ReportProgress(1);
    kill(watcher.Pid(), SIGKILL);
    watcher.Wait();
    for (int i = 0; i < 3; ++i) SendTheSampleReports(reporter);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
  }
  for (bool fifo : {false, true}) {
    // A reader that is there but takes nothing is given up after the limit,
    // for good: later sends do not wait again.
    const std::string path = dir.file(fifo ? "stalled-fifo" : "stalled-socket");
    int reader = -1;
    if (fifo) {
      ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
      reader = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } else {
      reader = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::strcpy(address.sun_path, path.c_str());
      ASSERT_EQ(bind(reader, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
      ASSERT_EQ(listen(reader, 1), 0);  // never accepted, never read
    }
    ASSERT_GE(reader, 0);
    CPipeChannel channel;
    ASSERT_TRUE(channel.Connect(path));
    const std::string block(65536, 'b');
    int sent = 0;
    while (sent < 1000 && channel.Send(block.data(), block.size(), 200)) ++sent;
    EXPECT_LT(sent, 1000) << (fifo ? "fifo" : "socket");
    EXPECT_FALSE(channel.IsConnected());
    EXPECT_FALSE(channel.Send("x", 1, 200));
    close(reader);
  }
}

// The export through the real binary, with the reader of its progress or of
// its standard output stalled or gone: the export ends as usual, exit 0.
TEST(PipeReporter, ExportOutlivesStalledAndLostReaders) {
  ASSERT_EQ(signal(SIGPIPE, SIG_DFL), SIG_DFL);  // the child inherits the default
  test::CTempDir dir;
  test::MakeLegacySample(dir.path(), {"--survey-id", "7", "--interviews", "20"});
  int run = 0;
  auto exportWith = [&](const test::CProcessOptions& options, std::vector<std::string> extra) {
    const std::string target = dir.file("t" + std::to_string(++run) + ".zuv");
    std::vector<std::string> args = {"--source",
                                     dir.file("survey.zuv"),
                                     "--format",
                                     "LEGACY",
                                     "--connectstring",
                                     test::SqliteOdbcConnect(dir.file("source.db")),
                                     "--id",
                                     "7",
                                     "--target",
                                     target,
                                     "--endpause",
                                     "UNPAUSE"};
    args.insert(args.end(), extra.begin(), extra.end());
    auto r = test::RunProcess(ZUVEXPORT_BIN, args, options);
    EXPECT_FALSE(r.killedAtLimit);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_GT(test::ExpectLegacyExport(dir.file("source.db"), target, 7), 0);
    return r;
  };
  // Fills a pipe's buffer, as a reader that never reads leaves it.
  auto fill = [](int fd) {
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    const std::string block(4096, 'f');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    fcntl(fd, F_SETFL, flags);
  };
  test::CProcessOptions options;
  options.limitMs = 10000;  // every case ends within 10 s of its fault
  {
    const std::string path = dir.file("fifo");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    const int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const int filler = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(filler, 0);
    fill(filler);
    close(filler);
    auto r = exportWith(options, {"--progress", "NAMED_PIPE", "--pipe", path});
    EXPECT_EQ(r.out.rfind("The export took ", 0), 0u) << r.out;
    EXPECT_TRUE(r.err.empty()) << r.err;
    close(reader);
  }
  const std::string lost = "Warning: standard output is lost (";
  const std::string rest = "); what follows is not printed\n";
  {
    const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
    options.outputFd = full;
    EXPECT_EQ(exportWith(options, {}).err, lost + "No space left on device" + rest);
    close(full);
    options.outputFd = -1;
    EXPECT_EQ(exportWith(options, {}).err, lost + "Bad file descriptor" + rest);
  }
  {
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    close(ends[0]);  // the reader went away
    options.outputFd = ends[1];
    EXPECT_EQ(exportWith(options, {}).err, lost + "Broken pipe" + rest);
    close(ends[1]);
  }
  {
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    fill(ends[1]);  // the reader is there and never reads
    options.outputFd = ends[1];
    EXPECT_EQ(exportWith(options, {}).err, lost + "its reader took nothing for 5 s" + rest);
    close(ends[0]);
    close(ends[1]);
  }
}

}  // namespace
}  // namespace zx
