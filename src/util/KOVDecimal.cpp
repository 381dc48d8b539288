#include <KOVModule/KOVDecimal.h>

#include <cstdlib>
#include <limits>

KOVDecimal::KOVDecimal(int64_t mantissa, int32_t scale) : negative_(mantissa < 0), scale_(scale) {
  uint64_t magnitude = mantissa < 0 ? 0 - static_cast<uint64_t>(mantissa) : static_cast<uint64_t>(mantissa);
  digits_ = std::to_string(magnitude);
  normalize();
}

void KOVDecimal::normalize() {
  // Canonical form: no leading zeros, scale >= 0 without trailing fraction zeros, zero
  // without sign. Equal values then have equal fields.
  const std::size_t firstNonZero = digits_.find_first_not_of('0');
  digits_.erase(0, firstNonZero == std::string::npos ? digits_.size() : firstNonZero);
  if (digits_.empty()) {
    negative_ = false;
    scale_ = 0;
    return;
  }
  if (scale_ < 0) {
    digits_.append(static_cast<std::size_t>(-static_cast<int64_t>(scale_)), '0');
    scale_ = 0;
  }
  while (scale_ > 0 && digits_.back() == '0') {
    digits_.pop_back();
    --scale_;
  }
}

std::optional<KOVDecimal> KOVDecimal::parse(std::string_view text) {
  KOVDecimal value;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    value.negative_ = text[i] == '-';
    ++i;
  }
  bool seenPoint = false;
  bool seenDigit = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      value.digits_ += c;
      seenDigit = true;
      if (seenPoint) {
        if (value.scale_ == std::numeric_limits<int32_t>::max()) {
          return std::nullopt;
        }
        ++value.scale_;
      }
    } else if (c == '.' && !seenPoint) {
      seenPoint = true;
    } else {
      return std::nullopt;
    }
  }
  if (!seenDigit) {
    return std::nullopt;
  }
  value.normalize();
  return value;
}

std::optional<int64_t> KOVDecimal::scaledToInt64(int32_t power) const {
  if (digits_.empty()) {
    return 0;
  }
  const int64_t shift = static_cast<int64_t>(power) - scale_;
  std::string whole = digits_;
  if (shift >= 0) {
    if (shift > 19) {
      return std::nullopt;  // at least one non-zero digit times 10^20 never fits
    }
    whole.append(static_cast<std::size_t>(shift), '0');
  } else {
    const auto cut = static_cast<uint64_t>(-shift);
    if (cut >= whole.size()) {
      return 0;  // only a fraction: cut toward zero
    }
    whole.resize(whole.size() - static_cast<std::size_t>(cut));
  }
  // Accumulate the magnitude; the negative range is one larger than the positive one.
  const uint64_t limit = negative_ ? static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1
                                   : static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  uint64_t magnitude = 0;
  for (const char c : whole) {
    const auto digit = static_cast<uint64_t>(c - '0');
    if (magnitude > (limit - digit) / 10) {
      return std::nullopt;
    }
    magnitude = magnitude * 10 + digit;
  }
  if (!negative_) {
    return static_cast<int64_t>(magnitude);
  }
  return magnitude == limit ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(magnitude);
}

std::string KOVDecimal::toString() const {
  if (digits_.empty()) {
    return "0";
  }
  std::string text = digits_;
  if (scale_ > 0) {
    const auto scale = static_cast<std::size_t>(scale_);
    if (text.size() <= scale) {
      text.insert(0, scale - text.size() + 1, '0');
    }
    text.insert(text.size() - scale, 1, '.');
  }
  return negative_ ? "-" + text : text;
}

bool operator==(const KOVDecimal& a, const KOVDecimal& b) {
  return a.negative_ == b.negative_ && a.digits_ == b.digits_ && a.scale_ == b.scale_;
}
