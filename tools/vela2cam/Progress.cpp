#include "Progress.h"

#include <unistd.h>

#include <algorithm>

namespace vela2cam {

bool Progress::IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

std::string Progress::RenderBar(const std::string& label, uint32_t elapsedMs, uint32_t exposureMs,
                                int barWidth) {
    // A zero exposure is over as soon as it starts.
    uint32_t shown = exposureMs == 0 ? 0 : std::min(elapsedMs, exposureMs);
    int percent = exposureMs == 0 ? 100 : static_cast<int>(uint64_t{shown} * 100 / exposureMs);
    int filled = percent * barWidth / 100;
    char times[48];
    std::snprintf(times, sizeof times, " %3d%%  %.1f/%.1f s", percent, shown / 1000.0,
                  exposureMs / 1000.0);
    return label + " [" + std::string(filled, '#') + std::string(barWidth - filled, '-') + "]" +
           times;
}

std::string Progress::RenderSpinner(const std::string& label, unsigned step) {
    static const char kFrames[] = {'|', '/', '-', '\\'};
    return label + " " + kFrames[step % sizeof kFrames];
}

void Progress::Exposure(const std::string& label, uint32_t elapsedMs, uint32_t exposureMs) {
    Show(RenderBar(label, elapsedMs, exposureMs, kBarWidth));
}

void Progress::Readout(const std::string& label) { Show(RenderSpinner(label, step_++)); }

void Progress::Finish(const std::string& finalLine) {
    if (!finalLine.empty()) Show(finalLine);
    if (!enabled_ || !lineOpen_) return;
    std::fputc('\n', out_);
    std::fflush(out_);
    lineOpen_ = false;
    lastLength_ = 0;
    lastLine_.clear();
}

void Progress::Show(const std::string& line) {
    // A terminal is redrawn only when the line changes.
    if (!enabled_ || (lineOpen_ && line == lastLine_)) return;
    // Blanks over the rest of a longer previous line, without terminal codes.
    std::string padded = line;
    if (padded.size() < lastLength_) padded.append(lastLength_ - padded.size(), ' ');
    std::fprintf(out_, "\r%s", padded.c_str());
    std::fflush(out_);
    lineOpen_ = true;
    lastLength_ = line.size();
    lastLine_ = line;
}

}  // namespace vela2cam
