#include "platform/value.hpp"

#include <cmath>
#include <functional>
#include <limits>

#include <fmt/format.h>

#include "platform/error.hpp"

namespace zx {

namespace {
constexpr const char* kSource = "Value conversion";

[[noreturn]] void ThrowMismatch(const char* what) {
  throw CExportError(codes::kTypeMismatch, kSource, fmt::format("Type mismatch: {}", what));
}
[[noreturn]] void ThrowOverflow() {
  throw CExportError(codes::kOverflow, kSource, "Overflow: the value does not fit in 32 bits");
}

int32_t CheckedInt32(int64_t v) {
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) {
    ThrowOverflow();
  }
  return static_cast<int32_t>(v);
}

int32_t RoundToInt32(double d) {
  if (std::isnan(d)) ThrowMismatch("not a number");
  const double rounded = std::nearbyint(d);  // ties to even under the default rounding mode
  if (rounded < -2147483648.0 || rounded > 2147483647.0) ThrowOverflow();
  return static_cast<int32_t>(rounded);
}

int32_t TextToInt32(const std::string& text) {
  size_t i = 0, n = text.size();
  auto blank = [&](size_t k) { return text[k] == ' ' || text[k] == '\t'; };
  while (i < n && blank(i)) ++i;
  while (n > i && blank(n - 1)) --n;
  const std::string body = text.substr(i, n - i);
  if (body.empty()) ThrowMismatch("empty text is not a number");
  size_t pos = 0;
  if (body[pos] == '+' || body[pos] == '-') ++pos;
  const size_t digitsStart = pos;
  while (pos < body.size() && body[pos] >= '0' && body[pos] <= '9') ++pos;
  size_t digits = pos - digitsStart;
  if (pos < body.size() && body[pos] == '.') {
    ++pos;
    const size_t fractionStart = pos;
    while (pos < body.size() && body[pos] >= '0' && body[pos] <= '9') ++pos;
    digits += pos - fractionStart;
  }
  if (digits == 0 || pos != body.size()) {
    ThrowMismatch(fmt::format("'{}' is not a number", text).c_str());
  }
  return RoundToInt32(std::strtod(body.c_str(), nullptr));
}
}  // namespace

std::string CDateTime::ToIsoText() const {
  std::string text =
      fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}", year, month, day, hour, minute, second);
  if (nanosecond != 0) text += fmt::format(".{:03}", nanosecond / 1000000);
  return text;
}

bool CValue::IsInteger() const noexcept {
  const Type t = GetType();
  return t == Type::Int16 || t == Type::Int32 || t == Type::Int64;
}

int32_t CValue::ToInt32() const {
  switch (GetType()) {
    case Type::Null:
      ThrowMismatch("NULL has no integer value");
    case Type::Int16:
      return Int16();
    case Type::Int32:
      return Int32();
    case Type::Int64:
      return CheckedInt32(Int64());
    case Type::Double:
      return RoundToInt32(Double());
    case Type::Bool:
      return Bool() ? -1 : 0;
    case Type::Text:
      return TextToInt32(Text());
    case Type::DateTime:
      ThrowMismatch("a date-time is not an integer");
    case Type::Binary:
      ThrowMismatch("binary data is not an integer");
  }
  ThrowMismatch("unknown type");
}

std::string CValue::ToText() const {
  switch (GetType()) {
    case Type::Null:
      ThrowMismatch("NULL has no text");
    case Type::Int16:
      return std::to_string(Int16());
    case Type::Int32:
      return std::to_string(Int32());
    case Type::Int64:
      return std::to_string(Int64());
    case Type::Double:
      return fmt::format("{}", Double());
    case Type::Bool:
      return Bool() ? "True" : "False";
    case Type::Text:
      return Text();
    case Type::DateTime:
      return DateTime().ToIsoText();
    case Type::Binary:
      ThrowMismatch("binary data has no text form");
  }
  ThrowMismatch("unknown type");
}

namespace {
// Integers of any width share one key space.
bool IntegerKey(const CValue& v, int64_t& out) {
  switch (v.GetType()) {
    case CValue::Type::Int16:
      out = v.Int16();
      return true;
    case CValue::Type::Int32:
      out = v.Int32();
      return true;
    case CValue::Type::Int64:
      out = v.Int64();
      return true;
    default:
      return false;
  }
}
}  // namespace

size_t CValueKeyHash::operator()(const CValue& v) const noexcept {
  int64_t i = 0;
  if (IntegerKey(v, i)) return std::hash<int64_t>{}(i);
  switch (v.GetType()) {
    case CValue::Type::Null:
      return 0x9e3779b9u;
    case CValue::Type::Double:
      return std::hash<double>{}(v.Double()) ^ 0x1;
    case CValue::Type::Bool:
      return std::hash<bool>{}(v.Bool()) ^ 0x2;
    case CValue::Type::Text:
      return std::hash<std::string>{}(v.Text());
    case CValue::Type::DateTime: {
      const CDateTime& d = v.DateTime();
      return std::hash<int64_t>{}(
                 ((((int64_t{d.year} * 13 + d.month) * 32 + d.day) * 24 + d.hour) * 60 + d.minute) *
                     60 +
                 d.second) ^
             d.nanosecond;
    }
    case CValue::Type::Binary: {
      const auto& b = v.Binary().bytes;
      return std::hash<std::string_view>{}(
          std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
    }
    default:
      return 0;
  }
}

bool CValueKeyEqual::operator()(const CValue& a, const CValue& b) const noexcept {
  int64_t x = 0, y = 0;
  if (IntegerKey(a, x) && IntegerKey(b, y)) return x == y;
  return a == b;
}

}  // namespace zx
