// The queue and pipe reporters against real readers in another process
// (zuvwatch), and against readers that are missing, full or gone.
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
}

}  // namespace
}  // namespace zx
