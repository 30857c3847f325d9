#include "sim/SkyScene.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace sim {

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr double kZeroCelsius = 273.15;
constexpr double kBrightestStarPerSecond = 2e7;  // electrons of a magnitude 0 star
constexpr double kFaintestMagnitude = 10;
constexpr double kHotPixelFactor = 400;
constexpr float kFaintestStarPixel =
    0.0005f;  // electrons per millisecond  // times an ordinary pixel's dark current
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

// One formula for both ways of rendering, so they agree to the last bit.
inline uint16_t Counts(float mean, float deviate, float readVariance, float bias) {
    const float value = bias + mean + deviate * std::sqrt(mean + readVariance) + 0.5f;
    return static_cast<uint16_t>(std::min(std::max(value, 0.0f), 65535.0f));
}

// The run loop, where a frame spends its time: built for wider vectors too
// where the system can pick the variant at load time. Not under
// ThreadSanitizer, whose runtime is not up yet when the loader picks it.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) && \
    !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("avx2", "default")))
#endif
// Column first + dir * i, whose deviate is deviates[dir * i].
void CountsRun(float rowBase, float step, int first, int dir, const float* deviates, int n,
               float signalScale, float dark, float readVariance, float bias, uint16_t* values) {
    for (int i = 0; i < n; ++i)
        values[i] =
            Counts((rowBase + step * static_cast<float>(first + dir * i)) * signalScale + dark,
                   deviates[dir * i], readVariance, bias);
}

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

    std::vector<float> stars(static_cast<size_t>(width_) * height_, 0.0f);
    Random random(Mix(settings_.seed ^ 0x5354415253ull));
    const int starCount =
        static_cast<int>(settings_.starsPerMegapixel * sensorWidth * sensorHeight / 1e6);
    const int reach = static_cast<int>(std::ceil(4 * kStarSigma));
    for (int s = 0; s < starCount; ++s) {
        const double cx = random.Uniform() * sensorWidth, cy = random.Uniform() * sensorHeight;
        // Faint stars far outnumber bright ones.
        const double magnitude = kFaintestMagnitude * std::sqrt(random.Uniform());
        const double perMs = kBrightestStarPerSecond * std::pow(10.0, -0.4 * magnitude) / 1000.0;
        const double norm = perMs / (2 * kPi * kStarSigma * kStarSigma);
        for (int uy = int(cy) - reach; uy <= int(cy) + reach; ++uy) {
            if (uy < 0 || uy >= sensorHeight) continue;
            for (int ux = int(cx) - reach; ux <= int(cx) + reach; ++ux) {
                if (ux < 0 || ux >= sensorWidth) continue;
                const double dx = ux + 0.5 - cx, dy = uy + 0.5 - cy;
                stars[static_cast<size_t>(uy / binY) * width_ + ux / binX] += static_cast<float>(
                    norm * std::exp(-(dx * dx + dy * dy) / (2 * kStarSigma * kStarSigma)));
            }
        }
    }

    starRowStart_.assign(1, 0);
    for (int y = 0; y < height_; ++y) {
        for (int x = 0; x < width_; ++x) {
            const float rate = stars[static_cast<size_t>(y) * width_ + x];
            // A star's faint wings would only make the row's list long.
            if (rate > kFaintestStarPixel) {
                starColumn_.push_back(x);
                starRate_.push_back(rate);
            }
        }
        starRowStart_.push_back(starColumn_.size());
    }

    for (int h = 0; h < settings_.hotPixels && width_ > 0 && height_ > 0; ++h) {
        const int x = static_cast<int>(random.Uniform() * width_);
        const int y = static_cast<int>(random.Uniform() * height_);
        if (!Hot(x, y)) hotColumnsByRow_[y].push_back(x);
    }

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

SkyScene::FrameTerms SkyScene::Terms(const Exposure& exposure) const {
    const double seconds = std::max(exposure.exposureMs, 0.0) / 1000.0;
    const double dark = settings_.darkPerSecondAt273K * binArea_ * seconds *
                        std::exp2((exposure.sensorKelvin - kZeroCelsius) / kDarkDoublingKelvin);
    return FrameTerms{static_cast<float>(std::max(exposure.exposureMs, 0.0)),
                      static_cast<float>(dark), static_cast<float>(dark * kHotPixelFactor),
                      static_cast<float>(settings_.readNoise * settings_.readNoise),
                      static_cast<float>(settings_.bias)};
}

// Each row starts at its own place in the noise table, which changes with
// every frame, so the table's period never shows as a pattern.
uint32_t SkyScene::RowOffset(uint32_t row, uint32_t frame, uint32_t domain) const {
    const uint64_t key = (uint64_t(frame) << 32) | (row | domain);
    return static_cast<uint32_t>(Mix(key ^ Mix(settings_.seed)));
}

bool SkyScene::Hot(int x, int y) const {
    auto row = hotColumnsByRow_.find(y);
    return row != hotColumnsByRow_.end() &&
           std::find(row->second.begin(), row->second.end(), x) != row->second.end();
}

float SkyScene::Rate(int x, int y) const {
    float rate = skyRowBase_[size_t(y)] + skyStep_ * static_cast<float>(x);
    const auto begin = starColumn_.begin() + std::ptrdiff_t(starRowStart_[size_t(y)]);
    const auto end = starColumn_.begin() + std::ptrdiff_t(starRowStart_[size_t(y) + 1]);
    const auto star = std::lower_bound(begin, end, x);
    if (star != end && *star == x) rate += starRate_[size_t(star - starColumn_.begin())];
    return rate;
}

// The one place a pixel's value is made whole; the runs' plain loop agrees
// with it on every pixel without a star or a hot spot.
uint16_t SkyScene::Value(int x, int y, uint32_t offset, const FrameTerms& terms, bool hot) const {
    const uint32_t mask = (1u << kNoiseTableBits) - 1;
    const float mean = Rate(x, y) * terms.signalScale + (hot ? terms.hotDark : terms.dark);
    return Counts(mean, noise_[(offset + uint32_t(x)) & mask], terms.readVariance, terms.bias);
}

double SkyScene::MeanElectrons(int x, int y, const Exposure& exposure) const {
    const FrameTerms terms = Terms(exposure);
    return Rate(x, y) * terms.signalScale + (Hot(x, y) ? terms.hotDark : terms.dark);
}

uint16_t SkyScene::Pixel(int x, int y, const Exposure& exposure) const {
    return Value(x, y, RowOffset(uint32_t(y), exposure.frame, 0), Terms(exposure), Hot(x, y));
}

std::vector<uint16_t> SkyScene::Row(int y, const Exposure& exposure) const {
    const FrameTerms terms = Terms(exposure);
    const uint32_t offset = RowOffset(uint32_t(y), exposure.frame, 0);
    const bool anyHot = hotColumnsByRow_.count(y) != 0;
    std::vector<uint16_t> row(static_cast<size_t>(width_));
    for (int x = 0; x < width_; ++x)
        row[size_t(x)] = Value(x, y, offset, terms, anyHot && Hot(x, y));
    return row;
}

// The plain loop over the run is what the compiler vectorises; stars and hot
// pixels, a few in a row, are put in right afterwards.
void SkyScene::RenderRun(int y, int x, int dx, int count, const Exposure& exposure,
                         uint16_t* out) const {
    const FrameTerms terms = Terms(exposure);
    const uint32_t mask = (1u << kNoiseTableBits) - 1;
    const uint32_t offset = RowOffset(uint32_t(y), exposure.frame, 0);
    const int low = dx > 0 ? x : x - count + 1;  // the run's leftmost column
    // A piece no longer than the table reads it without wrapping.
    const int piece = int(mask) + 1;
    for (int done = 0; done < count; done += piece) {
        const int n = std::min(count - done, piece);
        const int first = x + dx * done;
        const int leftmost = dx > 0 ? first : first - n + 1;
        const float* deviates =
            &noise_[(offset + uint32_t(leftmost)) & mask] + (dx > 0 ? 0 : n - 1);
        CountsRun(skyRowBase_[size_t(y)], skyStep_, first, dx, deviates, n, terms.signalScale,
                  terms.dark, terms.readVariance, terms.bias, out + done);
    }
    const auto hot = hotColumnsByRow_.find(y);
    const std::vector<int>* hotColumns = hot == hotColumnsByRow_.end() ? nullptr : &hot->second;
    const float rowBase = skyRowBase_[size_t(y)];
    const auto begin = starColumn_.begin() + std::ptrdiff_t(starRowStart_[size_t(y)]);
    const auto end = starColumn_.begin() + std::ptrdiff_t(starRowStart_[size_t(y) + 1]);
    for (auto star = std::lower_bound(begin, end, low); star != end && *star < low + count;
         ++star) {
        const int column = *star;
        const bool isHot = hotColumns && std::find(hotColumns->begin(), hotColumns->end(),
                                                   column) != hotColumns->end();
        // As Rate and Value work it out, term by term.
        const float rate = (rowBase + skyStep_ * static_cast<float>(column)) +
                           starRate_[size_t(star - starColumn_.begin())];
        const float mean = rate * terms.signalScale + (isHot ? terms.hotDark : terms.dark);
        out[(column - x) * dx] = Counts(mean, noise_[(offset + uint32_t(column)) & mask],
                                        terms.readVariance, terms.bias);
    }
    if (hotColumns)
        for (int column : *hotColumns) {
            const int i = (column - x) * dx;
            if (i >= 0 && i < count) out[i] = Value(column, y, offset, terms, true);
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
    const float readVariance = static_cast<float>(settings_.readNoise * settings_.readNoise);
    const float bias = static_cast<float>(settings_.bias);
    for (int i = 0; i < count; ++i)
        out[i] =
            Counts(0.0f, noise_[(offset + uint32_t(column + i * step)) & mask], readVariance, bias);
}

}  // namespace sim
