#pragma once
// CValue stands for the VARIANT that database values travel in: it keeps the
// type the source gave, so values reach the target unconverted.
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zx {

struct CDateTime {
  int16_t year = 0;
  uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
  uint32_t nanosecond = 0;
  // REQUIRES: the parts are in range (month 1..12, hour 0..23, ...).
  static CDateTime From(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                        uint32_t nanosecond = 0) {
    return CDateTime{static_cast<int16_t>(year),
                     static_cast<uint8_t>(month),
                     static_cast<uint8_t>(day),
                     static_cast<uint8_t>(hour),
                     static_cast<uint8_t>(minute),
                     static_cast<uint8_t>(second),
                     nanosecond};
  }
  bool operator==(const CDateTime&) const = default;
  // "YYYY-MM-DD HH:MM:SS" (fraction appended as ".fff" when not zero).
  std::string ToIsoText() const;
};

struct CBinary {
  std::vector<uint8_t> bytes;
  bool operator==(const CBinary&) const = default;
};

class CValue {
 public:
  enum class Type : uint8_t { Null, Int16, Int32, Int64, Double, Bool, Text, DateTime, Binary };

  CValue() = default;  // NULL
  static CValue FromInt16(int16_t v) { return CValue(Storage(std::in_place_index<1>, v)); }
  static CValue FromInt32(int32_t v) { return CValue(Storage(std::in_place_index<2>, v)); }
  static CValue FromInt64(int64_t v) { return CValue(Storage(std::in_place_index<3>, v)); }
  static CValue FromDouble(double v) { return CValue(Storage(std::in_place_index<4>, v)); }
  static CValue FromBool(bool v) { return CValue(Storage(std::in_place_index<5>, v)); }
  static CValue FromText(std::string v) {
    return CValue(Storage(std::in_place_index<6>, std::move(v)));
  }
  static CValue FromDateTime(CDateTime v) { return CValue(Storage(std::in_place_index<7>, v)); }
  static CValue FromBinary(std::vector<uint8_t> v) {
    return CValue(Storage(std::in_place_index<8>, CBinary{std::move(v)}));
  }

  Type GetType() const noexcept { return static_cast<Type>(m_value.index()); }
  bool IsNull() const noexcept { return m_value.index() == 0; }
  bool IsInteger() const noexcept;  // Int16, Int32, Int64

  // Typed access; REQUIRES: GetType() is that type.
  int16_t Int16() const { return std::get<1>(m_value); }
  int32_t Int32() const { return std::get<2>(m_value); }
  int64_t Int64() const { return std::get<3>(m_value); }
  double Double() const { return std::get<4>(m_value); }
  bool Bool() const { return std::get<5>(m_value); }
  const std::string& Text() const { return std::get<6>(m_value); }
  const CDateTime& DateTime() const { return std::get<7>(m_value); }
  const CBinary& Binary() const { return std::get<8>(m_value); }

  // As VariantChangeType to VT_I4: integers in range, doubles rounded to
  // nearest (ties to even), bool as -1/0, text with optional blanks, sign and
  // digits only. Throws CExportError kTypeMismatch (NULL, binary, bad text,
  // date) or kOverflow.
  int32_t ToInt32() const;
  // As VariantChangeType to VT_BSTR. NULL throws kTypeMismatch.
  std::string ToText() const;

  // Same type and same value, no conversion (the VARIANT comparison).
  bool operator==(const CValue& other) const = default;

 private:
  using Storage = std::variant<std::monostate, int16_t, int32_t, int64_t, double, bool, std::string,
                               CDateTime, CBinary>;
  explicit CValue(Storage s) : m_value(std::move(s)) {}
  Storage m_value;
};

// Hashes and compares values as keys: integers of any width with the same
// number are one key; other values by type and value.
struct CValueKeyHash {
  size_t operator()(const CValue& v) const noexcept;
};
struct CValueKeyEqual {
  bool operator()(const CValue& a, const CValue& b) const noexcept;
};

}  // namespace zx
