#include "base/media_time.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>

namespace pindle {
namespace {

using Wide = __int128;

constexpr Wide kInt64Max = std::numeric_limits<int64_t>::max();
constexpr Wide kInt64Min = std::numeric_limits<int64_t>::min();

// Rounds numerator / denominator to the nearest integer, halves away from zero.
Wide divideRounded(Wide numerator, Wide denominator, bool& rounded) {
    if (denominator < 0) {
        numerator = -numerator;
        denominator = -denominator;
    }
    Wide quotient = numerator / denominator;
    Wide remainder = numerator % denominator;
    if (remainder != 0) {
        rounded = true;
        Wide twice = remainder < 0 ? -remainder * 2 : remainder * 2;
        if (twice >= denominator) {
            quotient += numerator < 0 ? -1 : 1;
        }
    }
    return quotient;
}

// A numeric time from a wide value, saturating to an infinity when it does not fit.
MediaTime fromWide(Wide value, int32_t timescale, bool rounded) {
    if (value > kInt64Max) {
        return MediaTime::positiveInfinity();
    }
    if (value < kInt64Min) {
        return MediaTime::negativeInfinity();
    }
    MediaTime result = MediaTime::make(static_cast<int64_t>(value), timescale);
    if (rounded) {
        result.flags |= MediaTime::kHasBeenRounded;
    }
    return result;
}

// Rank of the non-numeric kinds in the total order; numeric times rank 1.
int rank(const MediaTime& t) {
    if (!t.isValid()) {
        return 4;
    }
    if (t.isIndefinite()) {
        return 3;
    }
    if (t.isPositiveInfinity()) {
        return 2;
    }
    if (t.isNegativeInfinity()) {
        return 0;
    }
    return 1;
}

int32_t commonTimescale(int32_t a, int32_t b) {
    if (a == b) {
        return a;
    }
    int64_t lcm = std::lcm(static_cast<int64_t>(a), static_cast<int64_t>(b));
    if (lcm <= MediaTime::kMaxTimescale) {
        return static_cast<int32_t>(lcm);
    }
    return a > b ? a : b;
}

Wide scaledValue(const MediaTime& t, int32_t timescale, bool& rounded) {
    if (t.timescale == timescale) {
        return t.value;
    }
    return divideRounded(static_cast<Wide>(t.value) * timescale, t.timescale, rounded);
}

MediaTime addNonNumeric(const MediaTime& a, const MediaTime& b, bool subtract) {
    if (!a.isValid() || !b.isValid()) {
        return MediaTime::invalid();
    }
    if (a.isIndefinite() || b.isIndefinite()) {
        return MediaTime::indefinite();
    }
    bool aPos = a.isPositiveInfinity();
    bool aNeg = a.isNegativeInfinity();
    bool bPos = subtract ? b.isNegativeInfinity() : b.isPositiveInfinity();
    bool bNeg = subtract ? b.isPositiveInfinity() : b.isNegativeInfinity();
    if ((aPos && bNeg) || (aNeg && bPos)) {
        return MediaTime::invalid();
    }
    if (aPos || bPos) {
        return MediaTime::positiveInfinity();
    }
    return MediaTime::negativeInfinity();
}

MediaTime addOrSubtract(const MediaTime& a, const MediaTime& b, bool subtract) {
    if (!a.isNumeric() || !b.isNumeric()) {
        return addNonNumeric(a, b, subtract);
    }
    int32_t timescale = commonTimescale(a.timescale, b.timescale);
    bool rounded = a.hasBeenRounded() || b.hasBeenRounded();
    Wide av = scaledValue(a, timescale, rounded);
    Wide bv = scaledValue(b, timescale, rounded);
    return fromWide(subtract ? av - bv : av + bv, timescale, rounded);
}

}  // namespace

MediaTime MediaTime::makeWithSeconds(double seconds, int32_t preferredTimescale) {
    if (std::isnan(seconds) || preferredTimescale <= 0) {
        return invalid();
    }
    if (std::isinf(seconds)) {
        return seconds > 0 ? positiveInfinity() : negativeInfinity();
    }
    double scaled = seconds * preferredTimescale;
    if (scaled >= 9.2e18) {
        return positiveInfinity();
    }
    if (scaled <= -9.2e18) {
        return negativeInfinity();
    }
    double nearest = std::round(scaled);
    MediaTime result = make(static_cast<int64_t>(nearest), preferredTimescale);
    if (nearest != scaled) {
        result.flags |= kHasBeenRounded;
    }
    return result;
}

double MediaTime::seconds() const {
    if (!isValid() || isIndefinite()) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    if (isPositiveInfinity()) {
        return std::numeric_limits<double>::infinity();
    }
    if (isNegativeInfinity()) {
        return -std::numeric_limits<double>::infinity();
    }
    return static_cast<double>(value) / timescale;
}

MediaTime MediaTime::convertScale(int32_t newTimescale) const {
    if (!isNumeric() || newTimescale <= 0) {
        return newTimescale <= 0 ? invalid() : *this;
    }
    bool rounded = hasBeenRounded();
    Wide v = scaledValue(*this, newTimescale, rounded);
    return fromWide(v, newTimescale, rounded);
}

int MediaTime::compare(const MediaTime& a, const MediaTime& b) {
    int ra = rank(a);
    int rb = rank(b);
    if (ra != rb) {
        return ra < rb ? -1 : 1;
    }
    if (ra != 1) {
        return 0;
    }
    // Cross-multiplication is exact in 128 bits for 64-bit values and 32-bit timescales.
    Wide left = static_cast<Wide>(a.value) * b.timescale;
    Wide right = static_cast<Wide>(b.value) * a.timescale;
    return left < right ? -1 : (left > right ? 1 : 0);
}

MediaTime operator+(const MediaTime& a, const MediaTime& b) {
    return addOrSubtract(a, b, false);
}

MediaTime operator-(const MediaTime& a, const MediaTime& b) {
    return addOrSubtract(a, b, true);
}

MediaTime operator*(const MediaTime& t, int64_t factor) {
    if (!t.isValid()) {
        return MediaTime::invalid();
    }
    if (t.isIndefinite()) {
        return t;
    }
    if (t.isPositiveInfinity() || t.isNegativeInfinity()) {
        if (factor == 0) {
            return MediaTime::invalid();
        }
        return (t.isPositiveInfinity() == (factor > 0)) ? MediaTime::positiveInfinity()
                                                        : MediaTime::negativeInfinity();
    }
    return fromWide(static_cast<Wide>(t.value) * factor, t.timescale, t.hasBeenRounded());
}

MediaTime MediaTime::multipliedBy(double factor) const {
    if (!isValid() || std::isnan(factor)) {
        return invalid();
    }
    if (!isNumeric()) {
        return *this * (factor > 0 ? 1 : (factor < 0 ? -1 : 0));
    }
    double product = static_cast<double>(value) * factor;
    if (product >= 9.2e18) {
        return positiveInfinity();
    }
    if (product <= -9.2e18) {
        return negativeInfinity();
    }
    double nearest = std::round(product);
    MediaTime result = make(static_cast<int64_t>(nearest), timescale);
    if (nearest != product || hasBeenRounded()) {
        result.flags |= kHasBeenRounded;
    }
    return result;
}

std::string MediaTime::description() const {
    if (!isValid()) {
        return "invalid";
    }
    if (isIndefinite()) {
        return "indefinite";
    }
    if (isPositiveInfinity()) {
        return "+infinity";
    }
    if (isNegativeInfinity()) {
        return "-infinity";
    }
    char text[80];
    std::snprintf(text, sizeof text, "%.3f (%lld/%d)", seconds(), static_cast<long long>(value),
                  timescale);
    return text;
}

}  // namespace pindle
