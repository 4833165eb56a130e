#pragma once
// The bytes of one report on the queue and pipe transports, the same on both:
// the percentage in decimal and a line feed, or "Info: "/"Error: ", the
// message and a line feed in the locale's character set. No terminating zero.
#include <cstddef>
#include <string>
#include <string_view>

namespace zx {

// Up to 4 characters of digits, then '\n'. The percentage is brought into
// 0..100 first, so it always fits. Returns the length written into `buffer`.
size_t FormatProgressMessage(int percent, char (&buffer)[5]);

// tag + message + '\n', converted with ToLocaleCharset.
std::string FormatTextMessage(std::string_view tag, std::string_view message);

}  // namespace zx
