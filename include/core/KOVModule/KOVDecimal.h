#pragma once
#include <KOVModule/KOVExport.h>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

/// An exact decimal number (sign, decimal digits, scale) for amounts.
/// No binary floating point is involved anywhere.
class KOV_CORE_EXPORT KOVDecimal {
 public:
  /// Zero.
  KOVDecimal() = default;
  /// mantissa x 10^-scale, e.g. KOVDecimal(1234, 2) is 12.34. A negative scale multiplies.
  KOVDecimal(int64_t mantissa, int32_t scale);

  /// Parses plain decimal text: an optional "-" or "+", digits, at most one ".", digits
  /// ("12.345", "0.07", "100", "-3.5", ".5", "5."). Anything else gives nullopt: empty text,
  /// exponents ("1e5"), commas, blanks anywhere, a second point, a sign alone.
  static std::optional<KOVDecimal> parse(std::string_view text);

  /// This value times 10^power, cut toward zero to a whole number, when that fits in a
  /// signed 64-bit integer; nullopt when it does not.
  std::optional<int64_t> scaledToInt64(int32_t power) const;

  /// Plain text of the exact value ("12.345", "-3.5", "0"); parse(toString()) == *this.
  std::string toString() const;

  bool isNegative() const { return negative_; }
  bool isZero() const { return digits_.empty(); }

  friend KOV_CORE_EXPORT bool operator==(const KOVDecimal& a, const KOVDecimal& b);

 private:
  void normalize();

  bool negative_ = false;
  std::string digits_;  // decimal digits without leading zeros; empty for zero
  int32_t scale_ = 0;   // digits after the decimal point (may be negative)
};
