#pragma once

#include <compare>
#include <cstdint>
#include <string>

namespace pindle {

// A rational time: value / timescale seconds, with validity flags.
//
// Comparison is by the instant it names, so 1 s at timescale 600 equals 1 s at timescale
// 1000. The order is: negative infinity < every numeric time < positive infinity <
// indefinite < invalid. Arithmetic is exact where the result fits; otherwise it rounds to
// nearest and sets kHasBeenRounded, and a result beyond 64 bits saturates to an infinity.
struct MediaTime {
    enum Flags : uint32_t {
        kValid = 1u << 0,
        kHasBeenRounded = 1u << 1,
        kPositiveInfinity = 1u << 2,
        kNegativeInfinity = 1u << 3,
        kIndefinite = 1u << 4,
    };

    int64_t value = 0;
    int32_t timescale = 0;
    uint32_t flags = 0;

    static constexpr int32_t kMaxTimescale = 0x7fffffff;

    static constexpr MediaTime make(int64_t value, int32_t timescale) {
        if (timescale <= 0) {
            return invalid();
        }
        return MediaTime{value, timescale, kValid};
    }
    // seconds rounded to the nearest multiple of 1/preferredTimescale.
    static MediaTime makeWithSeconds(double seconds, int32_t preferredTimescale);
    static constexpr MediaTime invalid() { return MediaTime{}; }
    static constexpr MediaTime zero() { return MediaTime{0, 1, kValid}; }
    static constexpr MediaTime positiveInfinity() {
        return MediaTime{0, 1, kValid | kPositiveInfinity};
    }
    static constexpr MediaTime negativeInfinity() {
        return MediaTime{0, 1, kValid | kNegativeInfinity};
    }
    static constexpr MediaTime indefinite() { return MediaTime{0, 1, kValid | kIndefinite}; }

    constexpr bool isValid() const { return (flags & kValid) != 0 && timescale > 0; }
    constexpr bool isNumeric() const {
        return isValid() && (flags & (kPositiveInfinity | kNegativeInfinity | kIndefinite)) == 0;
    }
    constexpr bool isPositiveInfinity() const {
        return isValid() && (flags & kPositiveInfinity) != 0;
    }
    constexpr bool isNegativeInfinity() const {
        return isValid() && (flags & kNegativeInfinity) != 0;
    }
    constexpr bool isIndefinite() const { return isValid() && (flags & kIndefinite) != 0; }
    constexpr bool hasBeenRounded() const { return (flags & kHasBeenRounded) != 0; }

    // Seconds as a double; NaN for invalid and indefinite, +-infinity for the infinities.
    double seconds() const;

    // The same instant at another timescale, rounded to nearest (half away from zero).
    MediaTime convertScale(int32_t newTimescale) const;

    // -1, 0 or 1 in the order described above.
    static int compare(const MediaTime& a, const MediaTime& b);

    friend bool operator==(const MediaTime& a, const MediaTime& b) { return compare(a, b) == 0; }
    friend std::strong_ordering operator<=>(const MediaTime& a, const MediaTime& b) {
        return compare(a, b) <=> 0;
    }

    // Sum and difference use the common timescale (the least common multiple, when it fits
    // in 32 bits; else the larger one, with rounding). Invalid in, invalid out.
    friend MediaTime operator+(const MediaTime& a, const MediaTime& b);
    friend MediaTime operator-(const MediaTime& a, const MediaTime& b);
    // Products keep the time's timescale.
    friend MediaTime operator*(const MediaTime& t, int64_t factor);
    MediaTime multipliedBy(double factor) const;

    static MediaTime minimum(const MediaTime& a, const MediaTime& b) {
        return compare(a, b) <= 0 ? a : b;
    }
    static MediaTime maximum(const MediaTime& a, const MediaTime& b) {
        return compare(a, b) >= 0 ? a : b;
    }

    // "1.5 (900/600)" style text for logs and the command line.
    std::string description() const;
};

}  // namespace pindle
