#include "FrameHeader.h"

#include <cstdio>
#include <ctime>

namespace vela2cam {

std::vector<FitsCard> FrameHeader::Cards(const FrameFacts& facts, int quadrant, bool overscan) {
    std::vector<FitsCard> cards;
    cards.push_back(FitsCard::Text("INSTRUME", "Vela2 USB CCD", "instrument"));
    cards.push_back(FitsCard::Text("IMAGETYP", overscan ? "OVERSCAN" : "LIGHT", "image type"));
    cards.push_back(FitsCard::Real("EXPTIME", facts.exposureMs / 1000.0, "[s] exposure time"));
    cards.push_back(FitsCard::Text("DATE-OBS", facts.dateObs, "UTC start of the exposure"));
    if (facts.ccdTemperature)
        cards.push_back(
            FitsCard::Real("CCD-TEMP", *facts.ccdTemperature, "[C] sensor, before exposure"));
    if (facts.setpoint)
        cards.push_back(FitsCard::Real("SET-TEMP", *facts.setpoint, "[C] cooler setpoint"));
    if (facts.binning) {
        cards.push_back(FitsCard::Integer("XBINNING", facts.binning->columns, "column binning"));
        cards.push_back(FitsCard::Integer("YBINNING", facts.binning->rows, "row binning"));
    }
    cards.push_back(FitsCard::Integer("QUADRANT", quadrant,
                                      quadrant ? "sensor quadrant" : "0: mosaic of all quadrants"));
    cards.push_back(FitsCard::Text(
        "TRIGGER", facts.trigger == Trigger::Software ? "SOFTWARE" : "HARDWARE", "trigger mode"));
    cards.push_back(FitsCard::Integer("READMODE", facts.mode, "readout mode number"));
    cards.push_back(FitsCard::Integer("TESTPAT", facts.testPattern, "sensor test pattern, 0 none"));
    cards.push_back(FitsCard::Integer("FRAMENUM", facts.frame, "frame of this run"));
    cards.push_back(FitsCard::Text("LIBVER", facts.libraryVersion, "camera library version"));
    if (!facts.firmware.empty())
        cards.push_back(FitsCard::Text("FIRMWARE", facts.firmware, "camera firmware"));
    return cards;
}

std::string FrameHeader::IsoUtc(std::chrono::system_clock::time_point when) {
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    char full[48];
    std::snprintf(full, sizeof full, "%s.%03d", text, static_cast<int>(ms % 1000));
    return full;
}

}  // namespace vela2cam
