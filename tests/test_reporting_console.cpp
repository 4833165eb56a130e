// The console reporter's lines, byte for byte.
#include <gtest/gtest.h>

#include <memory>

#include "reporting/console_reporter.hpp"

namespace zx {
namespace {

TEST(ConsoleReporter, WritesOneLinePerReport) {
  testing::internal::CaptureStdout();
  {
    std::unique_ptr<CProgressReporterBase> reporter = std::make_unique<CConsoleProgressReporter>();
    reporter->ReportProgress(0);
    reporter->ReportProgress(100);
    reporter->ReportInfo("Beginning export");
    reporter->ReportError("Error at X\nsource : description");
    reporter->ReportInfo("");
    reporter->ReportError("");
    // Format directives in a message are text.
    reporter->ReportInfo("100% done: %s %d %n %%");
    reporter->ReportInfo("ends with a line end\n");
  }  // destroyed through the base: writes nothing
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "0\n100\nInfo: Beginning export\nError: Error at X\nsource : description\n"
            "Info: \nError: \nInfo: 100% done: %s %d %n %%\nInfo: ends with a line end\n\n");
}

}  // namespace
}  // namespace zx
