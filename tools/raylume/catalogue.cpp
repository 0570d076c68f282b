// The star catalogue as CSV and JSON.
#include "tools/raylume/catalogue.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "image/fixed_point.h"
#include "support/os.h"
#include "tools/raylume/output_files.h"

namespace {

const char* StateName(int32_t state) {
    switch (state) {
        case LIGHT_SOURCE_HIDDEN: return "hidden";
        case LIGHT_SOURCE_SHOWN: return "shown";
        default: return "auto";
    }
}

double Fraction(uint32_t unit) { return unit >= UNIT_ONE ? 1.0 : static_cast<double>(unit) / UNIT_ONE; }

struct Row {
    double x, y, fitsX, fitsY, diameter, brightness, red, green, blue, intensity;
    const char* state;
    int selected;
    // The shape's measures as text: empty (CSV) or "null" (JSON) when unmeasured.
    char size[16], ellipticity[16], concentration[16], relativeSize[16];
    int saturated, extended;
};

void Measure(char* out, size_t size, bool measured, double value, const char* missing) {
    if (measured)
        std::snprintf(out, size, "%.3f", value);
    else
        std::snprintf(out, size, "%s", missing);
}

Row RowOf(const CatalogueEntry& e, int32_t height, const char* missing) {
    const LightSource& s = e.source;
    Row r;
    r.x = s.x + s.xQuarter / 4.0;
    r.y = s.y + s.yQuarter / 4.0;
    r.fitsX = r.x + 1.0;
    r.fitsY = height - r.y;
    r.diameter = 2.0 * std::sqrt(static_cast<double>(s.radiusSquared));
    r.brightness = Fraction(s.brightness);
    r.red = Fraction(s.red);
    r.green = Fraction(s.green);
    r.blue = Fraction(s.blue);
    r.intensity = e.selected ? Fraction(e.intensity) : 0.0;
    r.state = StateName(s.state);
    r.selected = e.selected ? 1 : 0;
    const StarShape& shape = e.shape;
    const bool measured = e.hasShape && shape.measured;
    Measure(r.size, sizeof r.size, measured, shape.size, missing);
    Measure(r.ellipticity, sizeof r.ellipticity, measured, shape.ellipticity, missing);
    Measure(r.concentration, sizeof r.concentration, measured, shape.concentration, missing);
    Measure(r.relativeSize, sizeof r.relativeSize, measured && shape.referenceSize > 0, shape.relativeSize, missing);
    r.saturated = e.hasShape && shape.saturated ? 1 : 0;
    r.extended = e.hasShape && shape.extended ? 1 : 0;
    return r;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}


}  // namespace

std::string CatalogueCsv(const std::vector<CatalogueEntry>& entries, bool fits, int32_t height) {
    std::string text = fits ? "index,x,y,fits_x,fits_y,diameter,brightness,red,green,blue,state,selected,intensity"
                            : "index,x,y,diameter,brightness,red,green,blue,state,selected,intensity";
    text += ",size,ellipticity,concentration,relative_size,saturated,extended\n";
    char line[640];
    for (size_t i = 0; i < entries.size(); i++) {
        const Row r = RowOf(entries[i], height, "");
        char fitsPart[64] = "";
        if (fits) std::snprintf(fitsPart, sizeof fitsPart, ",%.2f,%.2f", r.fitsX, r.fitsY);
        std::snprintf(line, sizeof line, "%zu,%.2f,%.2f%s,%.2f,%.6f,%.6f,%.6f,%.6f,%s,%d,%.6f,%s,%s,%s,%s,%d,%d\n", i,
                      r.x, r.y, fitsPart, r.diameter, r.brightness, r.red, r.green, r.blue, r.state, r.selected,
                      r.intensity, r.size, r.ellipticity, r.concentration, r.relativeSize, r.saturated, r.extended);
        text += line;
    }
    return text;
}

std::string CatalogueJson(const std::vector<CatalogueEntry>& entries, bool fits, int32_t width, int32_t height,
                          const std::string& image) {
    std::string text = "{\n  \"image\": " + JsonString(image) + ",\n  \"width\": " + std::to_string(width) +
                       ",\n  \"height\": " + std::to_string(height) + ",\n  \"sources\": [";
    char item[896];
    for (size_t i = 0; i < entries.size(); i++) {
        const Row r = RowOf(entries[i], height, "null");
        char fitsPart[96] = "";
        if (fits) std::snprintf(fitsPart, sizeof fitsPart, ", \"fits_x\": %.2f, \"fits_y\": %.2f", r.fitsX, r.fitsY);
        std::snprintf(item, sizeof item,
                      "%s\n    {\"index\": %zu, \"x\": %.2f, \"y\": %.2f%s, \"diameter\": %.2f, \"brightness\": %.6f, "
                      "\"red\": %.6f, \"green\": %.6f, \"blue\": %.6f, \"state\": \"%s\", \"selected\": %s, "
                      "\"intensity\": %.6f, \"size\": %s, \"ellipticity\": %s, \"concentration\": %s, "
                      "\"relative_size\": %s, \"saturated\": %s, \"extended\": %s}",
                      i ? "," : "", i, r.x, r.y, fitsPart, r.diameter, r.brightness, r.red, r.green, r.blue, r.state,
                      r.selected ? "true" : "false", r.intensity, r.size, r.ellipticity, r.concentration,
                      r.relativeSize, r.saturated ? "true" : "false", r.extended ? "true" : "false");
        text += item;
    }
    text += entries.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return text;
}

bool WriteTextPending(const std::string& path, const std::string& text, PendingOutput* output, std::string* error) {
    output->path = path;
    output->temporary.clear();
    if (!ResolveOutputTarget(path, &output->target, error)) return false;
    output->temporary = NewTemporaryFor(output->target);
    FILE* file = std::fopen(output->temporary.c_str(), "wb");
    bool ok = file != nullptr;
    if (!ok) *error = std::string("cannot create it: ") + std::strerror(errno);
    if (file) {
        ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
        ok = std::fflush(file) == 0 && ok;
        ok = std::fclose(file) == 0 && ok;
        if (!ok) *error = std::string("cannot write it: ") + std::strerror(errno);
    }
    if (ok) ok = FinishTemporary(*output, error);
    if (!ok) {
        std::remove(output->temporary.c_str());
        ForgetTemporary(output->temporary);
        output->temporary.clear();
    }
    return ok;
}

bool WriteTextFile(const std::string& path, const std::string& text, std::string* error) {
    std::vector<PendingOutput> outputs(1);
    return WriteTextPending(path, text, &outputs[0], error) && CommitOutputs(&outputs, error);
}
