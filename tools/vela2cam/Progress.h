#pragma once
// Progress of one picture on a terminal: a bar while the camera exposes, a
// spinner while the frame is read out and reconstructed. A disabled display
// prints nothing, so piped output holds only results.

#include <cstdint>
#include <cstdio>
#include <string>

namespace vela2cam {

class Progress {
  public:
    static constexpr int kBarWidth = 30;

    Progress(std::FILE* out, bool enabled) : out_(out), enabled_(enabled) {}

    // Whether progress is worth drawing on this stream: only on a terminal.
    static bool IsTerminal(std::FILE* stream);

    // The exposure line; elapsed is clamped to the exposure.
    void Exposure(const std::string& label, uint32_t elapsedMs, uint32_t exposureMs);
    // The readout line: the spinner turns one step per call.
    void Readout(const std::string& label);
    // Shows the final state of the current line, if any, and ends it.
    void Finish(const std::string& finalLine = "");

    static std::string RenderBar(const std::string& label, uint32_t elapsedMs, uint32_t exposureMs,
                                 int barWidth);
    static std::string RenderSpinner(const std::string& label, unsigned step);

  private:
    void Show(const std::string& line);

    std::FILE* out_;
    bool enabled_;
    bool lineOpen_ = false;
    unsigned step_ = 0;
    size_t lastLength_ = 0;
    std::string lastLine_;
};

}  // namespace vela2cam
