// The station list as text: the kind names, the table sigrun prints and the JSON form.
#include "dsp/spectrum/StationFinder.h"

#include "dsp/spectrum/Units.h"

#include <cstdio>

namespace sigkit {

namespace {

std::string Number(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

const char* KindName(StationKind kind)
{
    switch (kind)
    {
    case StationKind::Carrier:
        return "carrier";
    case StationKind::Cw:
        return "CW";
    case StationKind::Am:
        return "AM";
    case StationKind::Fm:
        return "FM";
    case StationKind::Unknown:
        break;
    }
    return "";
}

std::string StationsText(const StationList& list, const std::optional<double>& centreHz,
                         const std::string& name)
{
    std::string out =
        name + ": noise floor " + Number("%.1f", list.floorDbfs) + " dBFS per " +
        FormatHz(list.binHz, list.binHz / 100.0) + " bin; " + std::to_string(list.stations.size()) +
        (list.stations.size() == 1 ? " station" : " stations") +
        (centreHz.has_value() || !list.complex ? "" : " (offsets from the centre)") + "\n";
    for (const Station& s : list.stations)
    {
        const std::string frequency = centreHz.has_value()
                                          ? FormatHz(*centreHz + s.offsetHz, list.binHz)
                                          : FormatHz(s.offsetHz, list.binHz, list.complex);
        char line[256];
        std::snprintf(line, sizeof line, "%16s  %7.1f dBFS  %5.1f dB over floor  %12s wide  %s",
                      frequency.c_str(), s.levelDbfs, s.aboveFloorDb,
                      FormatHz(s.bandwidthHz, list.binHz).c_str(), KindName(s.kind));
        std::string text = line;
        while (!text.empty() && text.back() == ' ')
            text.pop_back(); // no kind: no trailing blanks
        out += text + "\n";
    }
    return out;
}

std::string StationsJson(const StationList& list, const std::optional<double>& centreHz,
                         const std::string& name)
{
    const auto hz = [](double v) { return Number("%.3f", v); };
    const auto db = [](double v) { return Number("%.2f", v); };
    std::string out = "{\"file\": " + JsonString(name) +
                      ", \"centre_hz\": " + (centreHz.has_value() ? hz(*centreHz) : "null") +
                      ", \"noise_floor_dbfs\": " + db(list.floorDbfs) +
                      ", \"bin_hz\": " + hz(list.binHz) + ", \"stations\": [";
    for (std::size_t k = 0; k < list.stations.size(); ++k)
    {
        const Station& s = list.stations[k];
        out += k == 0 ? "\n  " : ",\n  ";
        out +=
            "{\"frequency_hz\": " + (centreHz.has_value() ? hz(*centreHz + s.offsetHz) : "null") +
            ", \"offset_hz\": " + hz(s.offsetHz) + ", \"level_dbfs\": " + db(s.levelDbfs) +
            ", \"peak_dbfs\": " + db(s.peakDbfs) + ", \"above_floor_db\": " + db(s.aboveFloorDb) +
            ", \"bandwidth_hz\": " + hz(s.bandwidthHz) + ", \"low_hz\": " + hz(s.lowHz) +
            ", \"high_hz\": " + hz(s.highHz) + ", \"kind\": " + JsonString(KindName(s.kind)) + "}";
    }
    out += list.stations.empty() ? "]}\n" : "\n]}\n";
    return out;
}

} // namespace sigkit
