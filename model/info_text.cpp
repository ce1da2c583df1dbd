#include <cmath>
#include <cstdio>

#include "KGLModel.h"

namespace kgl {

std::string FormatInfoNumber(double value, std::string_view decimalPoint) {
    char buf[64];
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
    // fixed notation only while the integer part fits 18 digits
    if (std::fabs(value) < 1e18)
        std::snprintf(buf, sizeof buf, "%.2f", value);
    else
        std::snprintf(buf, sizeof buf, "%.2E", value);
    // Whatever point the C locale printed ("." or ","), the caller's takes its place.
    std::string s;
    for (const char* c = buf; *c; ++c)
        if (*c == '.' || *c == ',')
            s += decimalPoint;
        else
            s += *c;
    return s;
}

std::string InfoText(const TKGLModel& model, char lineBreak, std::string_view decimalPoint) {
    std::string t;
    auto item = [&](const char* label, const std::string& value, bool last = false) {
        t += label;
        t += value;
        if (!last) t += lineBreak;
    };
    item("name: ", model.name);
    item("vCount: ", std::to_string(model.vCount));
    item("nCount: ", std::to_string(model.nCount));
    item("tCount: ", std::to_string(model.tCount));
    item("gCount: ", std::to_string(model.gCount));
    item("fCount: ", std::to_string(model.fCount));
    item("eCount: ", std::to_string(model.eCount));
    item("minArea: ", FormatInfoNumber(model.minArea, decimalPoint));
    item("maxArea: ", FormatInfoNumber(model.maxArea, decimalPoint));
    item("scale: ", FormatInfoNumber(model.scale, decimalPoint), true);
    return t;
}

}  // namespace kgl
