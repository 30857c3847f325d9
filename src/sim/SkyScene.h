#pragma once
// The sky the simulated sensor sees, in sensor coordinates of the mode's
// (binned) pixel grid: background with a gentle gradient, stars, dark current
// with a few hot pixels, bias, photon noise (normal, as wide as the square
// root of the electrons) and read noise.
//
// Everything is a pure function of the pixel's position, the seed and the
// frame number, so a test renders the picture the camera should send without
// going through its readout. What costs time (stars, background, the noise
// table) is prepared once per scene; a frame only looks values up.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/SkyRuns.h"

namespace sim {

struct SkySettings {
    uint64_t seed = 1;
    double starsPerMegapixel = 400;  // unbinned sensor pixels
    double skyPerSecond = 1000;      // electrons per unbinned pixel and second
    double readNoise = 8;            // electrons per read pixel
    double bias = 1000;              // counts
    // Dark electrons per unbinned pixel and second at 0 C; doubles every
    // kDarkDoublingKelvin.
    double darkPerSecondAt273K = 5;
    int hotPixels = 24;

    // From VELA2_SIM_SEED, VELA2_SIM_STARS (per megapixel),
    // VELA2_SIM_SKY (electrons per pixel and second), VELA2_SIM_READ_NOISE
    // (electrons); unset or unreadable values keep the defaults.
    static SkySettings FromEnvironment();
};

class SkyScene {
  public:
    static constexpr double kDarkDoublingKelvin = 6.3;
    static constexpr double kStarSigma = 1.4;  // unbinned pixels
    static constexpr uint32_t kNoiseTableBits = 16;

    // A scene of width x height pixels, each summing binX x binY sensor
    // pixels (charge adds up before the one read).
    SkyScene(const SkySettings& settings, int width, int height, int binX, int binY);

    int Width() const { return width_; }
    int Height() const { return height_; }
    const SkySettings& Settings() const { return settings_; }

    // What one exposure puts into every pixel besides its own signal.
    struct Exposure {
        double exposureMs = 0;
        double sensorKelvin = 273.15;
        uint32_t frame = 0;
    };

    // Counts of the pixel at (x, y), rendered on its own.
    uint16_t Pixel(int x, int y, const Exposure& exposure) const;
    // Row y, pixel by pixel as Pixel renders them.
    std::vector<uint16_t> Row(int y, const Exposure& exposure) const;

    // What an exposure makes of the scene, worked out once for the many runs
    // of its frame.
    struct Frame {
        double signalScale;  // electrons per prepared rate unit
        double dark;         // dark electrons of an ordinary pixel
        float hotExtra;      // what a hot one has more
        double readVariance;
        uint32_t number;
    };
    Frame Prepare(const Exposure& exposure) const;
    // count pixels of row y from column x on, stepping by dx (+1 or -1), into
    // out[0] to out[count - 1]: the same values Pixel gives.
    void RenderRun(int y, int x, int dx, int count, const Frame& frame, uint16_t* out) const;

    // A pixel that holds no charge (overscan, pre-scan): bias and read noise,
    // keyed by its place (row, column) in the frame transfer.
    uint16_t EmptyPixel(int row, int column, uint32_t frame) const;
    // count such pixels of a transfer row, from column on in steps of step,
    // into out[0] to out[count - 1].
    void RenderEmptyRun(int row, int column, int step, int count, uint32_t frame,
                        uint16_t* out) const;

  private:
    sky::RowLine RowOf(int y, const Frame& frame) const;
    uint32_t RowOffset(uint32_t row, uint32_t frame, uint32_t domain) const;
    bool Hot(int x, int y) const;
    float StarRate(int x, int y) const;
    // Electrons of the pixel on top of the background's.
    float Extra(int x, int y, const Frame& frame) const;
    uint16_t Value(int x, uint32_t offset, const sky::RowLine& row, float extra) const;

    SkySettings settings_;
    int width_, height_, binArea_;
    // Sky electrons per millisecond: the background is a plane, worked out
    // as it is needed, so a frame reads no picture-sized array.
    std::vector<float> skyRowBase_;
    float skyStep_ = 0;  // per column
    // Star electrons per millisecond, row by row (the few pixels they touch).
    std::vector<size_t> starRowStart_;
    std::vector<int> starColumn_;
    std::vector<float> starRate_;
    std::vector<float> noise_;  // standard normal deviates
    // Hot pixels, row by row likewise.
    std::vector<size_t> hotRowStart_;
    std::vector<int> hotColumn_;
};

}  // namespace sim
