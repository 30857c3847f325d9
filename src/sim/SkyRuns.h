#pragma once
// The sky's pixel loops, where a simulated frame spends its time, and the
// arithmetic they share with a pixel rendered on its own. The two must agree
// to the last bit, so both go through Plain and Counts below, and the build keeps every
// sum in the order written (no fused multiply-adds, no reassociation).
#include <cmath>
#include <cstdint>

namespace sim {
namespace sky {

// The background along one row: counts before noise (bias included) and the
// noise's standard deviation, each a straight line in the column.
struct RowLine {
    float base, slope, sigma, sigmaSlope;
};

inline float Along(float base, float slope, float column) { return base + slope * column; }

// Rounded and clipped to what the converter gives.
inline uint16_t Clip(float value) {
    value = value > 0.0f ? value : 0.0f;
    value = value < 65535.0f ? value : 65535.0f;
    return static_cast<uint16_t>(static_cast<int32_t>(value));
}

// The background's pixel at `column`.
inline uint16_t Plain(const RowLine& row, float column, float deviate) {
    return Clip(Along(row.base, row.slope, column) +
                deviate * Along(row.sigma, row.sigmaSlope, column));
}

// The pixel with `extra` electrons on top of the background (a star, a hot
// pixel's dark current), in its signal and in its photon noise. With none it
// is Plain's pixel: adding zero changes no sum, and the square root of a
// float's square is the float itself.
inline uint16_t Counts(const RowLine& row, float column, float extra, float deviate) {
    const float sigma = Along(row.sigma, row.sigmaSlope, column);
    return Clip((Along(row.base, row.slope, column) + extra) +
                deviate * std::sqrt(sigma * sigma + extra));
}

// Columns leftmost to leftmost + n - 1 of the background, whose deviates
// follow each other from `deviates` on, into values from the left or, when
// mirrored, from the right.
void BackgroundRun(const RowLine& row, int leftmost, const float* deviates, int n, bool mirrored,
                   uint16_t* values);

// n star pixels of a row, at columns[i] with rates[i] * scale electrons,
// whose deviates are noise[(offset + column) & mask]: pixel `column` goes to
// out[(column - x) * dx].
void StarRun(const RowLine& row, const int* columns, const float* rates, int n, float scale,
             const float* noise, uint32_t offset, uint32_t mask, int x, int dx, uint16_t* out);

}  // namespace sky
}  // namespace sim
