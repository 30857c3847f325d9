#include "sim/SkyScene.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace sim {

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr double kZeroCelsius = 273.15;
constexpr double kBrightestStarPerSecond = 2e7;  // electrons of a magnitude 0 star
constexpr double kFaintestMagnitude = 10;
constexpr double kHotPixelFactor = 400;        // times an ordinary pixel's dark current
constexpr float kFaintestStarPixel = 0.0005f;  // electrons per millisecond: fainter is left out
constexpr uint32_t kEmptyDomain = 0x80000000u;

uint64_t Mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

class Random {
  public:
    explicit Random(uint64_t seed) : state_(seed) {}
    double Uniform() { return (Mix(state_++) >> 11) * (1.0 / 9007199254740992.0); }

  private:
    uint64_t state_;
};

double EnvironmentNumber(const char* name, double fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !(value >= 0) || !std::isfinite(value)) return fallback;
    return value;
}
}  // namespace

SkySettings SkySettings::FromEnvironment() {
    SkySettings settings;
    settings.seed = static_cast<uint64_t>(EnvironmentNumber("VELA2_SIM_SEED", 1));
    settings.starsPerMegapixel = EnvironmentNumber("VELA2_SIM_STARS", settings.starsPerMegapixel);
    settings.skyPerSecond = EnvironmentNumber("VELA2_SIM_SKY", settings.skyPerSecond);
    settings.readNoise = EnvironmentNumber("VELA2_SIM_READ_NOISE", settings.readNoise);
    return settings;
}

SkyScene::SkyScene(const SkySettings& settings, int width, int height, int binX, int binY)
    : settings_(settings),
      width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      binArea_(std::max(binX, 1) * std::max(binY, 1)) {
    binX = std::max(binX, 1);
    binY = std::max(binY, 1);
    const double sensorWidth = double(width_) * binX, sensorHeight = double(height_) * binY;
    // The background is linear, so a bin's sum is its area times the value
    // at its centre.
    const double skyPerMs = settings_.skyPerSecond / 1000.0 * binArea_;
    const double across = std::max(sensorWidth, 1.0), down = std::max(sensorHeight, 1.0);
    skyStep_ = static_cast<float>(skyPerMs * 0.15 * binX / across);
    skyRowBase_.resize(static_cast<size_t>(height_));
    for (int y = 0; y < height_; ++y)
        skyRowBase_[size_t(y)] =
            static_cast<float>(skyPerMs * (1.0 + 0.15 * ((binX - 1) / 2.0) / across +
                                           0.1 * (y * binY + (binY - 1) / 2.0) / down));

    struct Star {
        double cx, cy, norm;
    };
    Random random(Mix(settings_.seed ^ 0x5354415253ull));
    const int starCount =
        static_cast<int>(settings_.starsPerMegapixel * sensorWidth * sensorHeight / 1e6);
    std::vector<Star> field;
    field.reserve(size_t(std::max(starCount, 0)));
    for (int s = 0; s < starCount; ++s) {
        const double cx = random.Uniform() * sensorWidth, cy = random.Uniform() * sensorHeight;
        // Faint stars far outnumber bright ones.
        const double magnitude = kFaintestMagnitude * std::sqrt(random.Uniform());
        const double perMs = kBrightestStarPerSecond * std::pow(10.0, -0.4 * magnitude) / 1000.0;
        field.push_back(Star{cx, cy, perMs / (2 * kPi * kStarSigma * kStarSigma)});
    }

    // The stars are drawn a band of rows at a time, in a buffer the cache
    // holds, each into the bands it reaches.
    constexpr int kReach = static_cast<int>(4 * kStarSigma) + 1;  // unbinned pixels
    constexpr int kBand = 32;                                     // rows
    const int bands = (height_ + kBand - 1) / kBand;
    std::vector<std::vector<int>> starsOfBand(static_cast<size_t>(bands));
    for (int s = 0; s < starCount; ++s) {
        const int top = std::max(int(field[size_t(s)].cy) - kReach, 0) / binY;
        const int bottom = std::min(int(field[size_t(s)].cy) + kReach, height_ * binY - 1) / binY;
        for (int b = top / kBand; b <= bottom / kBand && b < bands; ++b)
            starsOfBand[size_t(b)].push_back(s);
    }
    std::vector<float> band(static_cast<size_t>(kBand) * width_);
    starRowStart_.assign(1, 0);
    for (int b = 0; b < bands; ++b) {
        const int first = b * kBand, rows = std::min(kBand, height_ - first);
        std::fill(band.begin(), band.end(), 0.0f);
        for (int s : starsOfBand[size_t(b)]) {
            const Star& star = field[size_t(s)];
            const int left = int(star.cx) - kReach, top = int(star.cy) - kReach;
            // The profile is a product of one factor across and one down.
            double across[2 * kReach + 1], down[2 * kReach + 1];
            for (int k = 0; k <= 2 * kReach; ++k) {
                const double dx = left + k + 0.5 - star.cx, dy = top + k + 0.5 - star.cy;
                across[k] = std::exp(-dx * dx / (2 * kStarSigma * kStarSigma));
                down[k] = star.norm * std::exp(-dy * dy / (2 * kStarSigma * kStarSigma));
            }
            for (int k = 0; k <= 2 * kReach; ++k) {
                const int uy = top + k, y = uy / binY - first;
                if (uy < 0 || y < 0 || y >= rows) continue;
                float* line = &band[size_t(y) * width_];
                for (int i = 0; i <= 2 * kReach; ++i) {
                    const int ux = left + i;
                    if (ux >= 0 && ux < width_ * binX)
                        line[ux / binX] += static_cast<float>(down[k] * across[i]);
                }
            }
        }
        for (int y = 0; y < rows; ++y) {
            const float* line = &band[size_t(y) * width_];
            // Most of a row is dark: it is looked at closer only where a
            // block holds light. A star's faint wings would only make the
            // row's list long.
            constexpr int kBlock = 16;
            for (int x = 0; x < width_; x += kBlock) {
                const int end = std::min(x + kBlock, width_);
                int lit = 0;
                for (int i = x; i < end; ++i) lit += line[i] > kFaintestStarPixel;
                for (int i = x; lit > 0 && i < end; ++i)
                    if (line[i] > kFaintestStarPixel) {
                        starColumn_.push_back(i);
                        starRate_.push_back(line[i]);
                    }
            }
            starRowStart_.push_back(starColumn_.size());
        }
    }

    std::vector<std::pair<int, int>> hot;  // row, column
    for (int h = 0; h < settings_.hotPixels && width_ > 0 && height_ > 0; ++h) {
        const int x = static_cast<int>(random.Uniform() * width_);
        const int y = static_cast<int>(random.Uniform() * height_);
        hot.emplace_back(y, x);
    }
    std::sort(hot.begin(), hot.end());
    hot.erase(std::unique(hot.begin(), hot.end()), hot.end());
    hotRowStart_.assign(static_cast<size_t>(height_) + 1, 0);
    for (const auto& pixel : hot) {
        ++hotRowStart_[size_t(pixel.first) + 1];
        hotColumn_.push_back(pixel.second);
    }
    for (size_t y = 0; y < size_t(height_); ++y) hotRowStart_[y + 1] += hotRowStart_[y];

    // The table is stored twice over, so that a run starting anywhere in it
    // reads on without wrapping.
    const size_t entries = size_t(1) << kNoiseTableBits;
    noise_.resize(2 * entries);
    for (size_t i = 0; i < entries; i += 2) {
        const double radius = std::sqrt(-2.0 * std::log(1.0 - random.Uniform()));
        const double angle = 2 * kPi * random.Uniform();
        noise_[i] = static_cast<float>(radius * std::cos(angle));
        noise_[i + 1] = static_cast<float>(radius * std::sin(angle));
    }
    std::copy(noise_.begin(), noise_.begin() + std::ptrdiff_t(entries),
              noise_.begin() + std::ptrdiff_t(entries));
}

SkyScene::Frame SkyScene::Prepare(const Exposure& exposure) const {
    const double seconds = std::max(exposure.exposureMs, 0.0) / 1000.0;
    const double dark = settings_.darkPerSecondAt273K * binArea_ * seconds *
                        std::exp2((exposure.sensorKelvin - kZeroCelsius) / kDarkDoublingKelvin);
    return Frame{std::max(exposure.exposureMs, 0.0), dark,
                 static_cast<float>(dark * (kHotPixelFactor - 1)),
                 settings_.readNoise * settings_.readNoise, exposure.frame};
}

// The photon noise of the background is its square root, which bends so
// little along a row that the chord between the row's ends stands in for it
// (a few parts in ten thousand off): no pixel of the background needs a
// square root of its own.
sky::RowLine SkyScene::RowOf(int y, const Frame& frame) const {
    const double rowBase = skyRowBase_[size_t(y)] * frame.signalScale + frame.dark;
    const double slope = double(skyStep_) * frame.signalScale;
    const double last = std::max(width_ - 1, 1);
    const double sigma = std::sqrt(rowBase + frame.readVariance);
    const double sigmaLast = std::sqrt(rowBase + slope * last + frame.readVariance);
    return sky::RowLine{static_cast<float>(settings_.bias + 0.5 + rowBase),
                        static_cast<float>(slope), static_cast<float>(sigma),
                        static_cast<float>((sigmaLast - sigma) / last)};
}

// Each row starts at its own place in the noise table, which changes with
// every frame, so the table's period never shows as a pattern.
uint32_t SkyScene::RowOffset(uint32_t row, uint32_t frame, uint32_t domain) const {
    const uint64_t key = (uint64_t(frame) << 32) | (row | domain);
    return static_cast<uint32_t>(Mix(key ^ Mix(settings_.seed)));
}

bool SkyScene::Hot(int x, int y) const {
    const auto begin = hotColumn_.begin() + std::ptrdiff_t(hotRowStart_[size_t(y)]);
    const auto end = hotColumn_.begin() + std::ptrdiff_t(hotRowStart_[size_t(y) + 1]);
    return std::binary_search(begin, end, x);
}

float SkyScene::StarRate(int x, int y) const {
    const auto begin = starColumn_.begin() + std::ptrdiff_t(starRowStart_[size_t(y)]);
    const auto end = starColumn_.begin() + std::ptrdiff_t(starRowStart_[size_t(y) + 1]);
    const auto star = std::lower_bound(begin, end, x);
    return star != end && *star == x ? starRate_[size_t(star - starColumn_.begin())] : 0.0f;
}

float SkyScene::Extra(int x, int y, const Frame& frame) const {
    return StarRate(x, y) * static_cast<float>(frame.signalScale) +
           (Hot(x, y) ? frame.hotExtra : 0.0f);
}

uint16_t SkyScene::Value(int x, uint32_t offset, const sky::RowLine& row, float extra) const {
    const uint32_t mask = (1u << kNoiseTableBits) - 1;
    const float column = static_cast<float>(x), deviate = noise_[(offset + uint32_t(x)) & mask];
    return extra != 0.0f ? sky::Counts(row, column, extra, deviate)
                         : sky::Plain(row, column, deviate);
}

uint16_t SkyScene::Pixel(int x, int y, const Exposure& exposure) const {
    const Frame frame = Prepare(exposure);
    return Value(x, RowOffset(uint32_t(y), frame.number, 0), RowOf(y, frame), Extra(x, y, frame));
}

// Pixel by pixel, as Pixel works each out, with the row's stars and hot
// pixels walked along instead of looked up.
std::vector<uint16_t> SkyScene::Row(int y, const Exposure& exposure) const {
    const Frame frame = Prepare(exposure);
    const sky::RowLine row = RowOf(y, frame);
    const uint32_t offset = RowOffset(uint32_t(y), frame.number, 0);
    const float scale = static_cast<float>(frame.signalScale);
    size_t star = starRowStart_[size_t(y)], hot = hotRowStart_[size_t(y)];
    const size_t stars = starRowStart_[size_t(y) + 1], hots = hotRowStart_[size_t(y) + 1];
    std::vector<uint16_t> values(static_cast<size_t>(width_));
    for (int x = 0; x < width_; ++x) {
        const float rate = star < stars && starColumn_[star] == x ? starRate_[star++] : 0.0f;
        const bool isHot = hot < hots && hotColumn_[hot] == x;
        hot += isHot;
        values[size_t(x)] = Value(x, offset, row, rate * scale + (isHot ? frame.hotExtra : 0.0f));
    }
    return values;
}

// The plain loop over the run is what the compiler vectorises; stars and hot
// pixels, a few in a row, are put in right afterwards.
void SkyScene::RenderRun(int y, int x, int dx, int count, const Frame& frame, uint16_t* out) const {
    const sky::RowLine row = RowOf(y, frame);
    const uint32_t mask = (1u << kNoiseTableBits) - 1;
    const uint32_t offset = RowOffset(uint32_t(y), frame.number, 0);
    const int low = dx > 0 ? x : x - count + 1;  // the run's leftmost column
    // A piece no longer than the table reads it without wrapping.
    const int piece = int(mask) + 1;
    for (int done = 0; done < count; done += piece) {
        const int n = std::min(count - done, piece);
        const int first = x + dx * done;
        const int leftmost = dx > 0 ? first : first - n + 1;
        sky::BackgroundRun(row, leftmost, &noise_[(offset + uint32_t(leftmost)) & mask], n, dx < 0,
                           out + done);
    }
    const float scale = static_cast<float>(frame.signalScale);
    const auto begin = starColumn_.begin() + std::ptrdiff_t(starRowStart_[size_t(y)]);
    const auto end = starColumn_.begin() + std::ptrdiff_t(starRowStart_[size_t(y) + 1]);
    const auto first = std::lower_bound(begin, end, low);
    const size_t at = size_t(first - starColumn_.begin());
    sky::StarRun(row, starColumn_.data() + at, starRate_.data() + at,
                 int(std::lower_bound(first, end, low + count) - first), scale, noise_.data(),
                 offset, mask, x, dx, out);
    // A hot pixel under a star is worked out once more, whole.
    for (size_t h = hotRowStart_[size_t(y)]; h < hotRowStart_[size_t(y) + 1]; ++h) {
        const int column = hotColumn_[h], i = (column - x) * dx;
        if (i >= 0 && i < count)
            out[i] = Value(column, offset, row, StarRate(column, y) * scale + frame.hotExtra);
    }
}

uint16_t SkyScene::EmptyPixel(int row, int column, uint32_t frame) const {
    uint16_t value;
    RenderEmptyRun(row, column, 1, 1, frame, &value);
    return value;
}

void SkyScene::RenderEmptyRun(int row, int column, int step, int count, uint32_t frame,
                              uint16_t* out) const {
    const uint32_t mask = (1u << kNoiseTableBits) - 1;
    const uint32_t offset = RowOffset(uint32_t(row), frame, kEmptyDomain);
    const float base = static_cast<float>(settings_.bias + 0.5);
    const float sigma = static_cast<float>(settings_.readNoise);
    for (int i = 0; i < count; ++i)
        out[i] = sky::Clip(base + noise_[(offset + uint32_t(column + i * step)) & mask] * sigma);
}

}  // namespace sim
