// Builds the default grayscale ICC profile (912 bytes) with Little CMS:
// version 2.1, output class, GRAY data in an XYZ connection space, D50, and
// the tags cprt, desc, wtpt, bkpt and kTRC in that order. The kTRC is a
// 256-point curve: 16 × i up to i = 5, then 65535 × (i / 255)^1.737.
//
//   grayprofile_gen [--cpp source.cpp] [profile.icc]
//
// writes the profile as an .icc file (the Windows resource) and/or as a C++
// source defining kDefaultGrayProfile and kDefaultGrayProfileSize (natively
// compiled into the core).
#include <lcms2.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kCopyright[] = "No copyright - use it freely.";
const char kDescription[] = "Default Grayscale Profile";
constexpr double kCurveGamma = 1.737;
constexpr int kCurvePoints = 256;
constexpr size_t kExpectedSize = 912;

// Header fields Little CMS writes its own way: the creator, the platform and
// the creation date (fixed, so that every build makes the same bytes).
constexpr size_t kHeaderDateOffset = 24;
constexpr size_t kHeaderPlatformOffset = 40;
constexpr size_t kHeaderCreatorOffset = 80;
const uint16_t kFixedDate[6] = {2012, 1, 1, 0, 0, 0};

void PutBigEndian32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; i++) bytes[offset + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

void AppendBigEndian32(std::vector<uint8_t>& bytes, uint32_t value) {
    for (int i = 0; i < 4; i++) bytes.push_back(static_cast<uint8_t>(value >> (24 - 8 * i)));
}

// A version 2 textDescriptionType with the ASCII text only (empty Unicode and
// ScriptCode parts). Little CMS would repeat the text in Unicode, which makes
// the tag 52 bytes longer than the profile has room for.
std::vector<uint8_t> TextDescription(const char* text) {
    std::vector<uint8_t> tag;
    AppendBigEndian32(tag, cmsSigTextDescriptionType);
    AppendBigEndian32(tag, 0);                                        // reserved
    uint32_t count = static_cast<uint32_t>(std::strlen(text)) + 1;  // with the terminator
    AppendBigEndian32(tag, count);
    tag.insert(tag.end(), text, text + count);
    AppendBigEndian32(tag, 0);  // Unicode language code
    AppendBigEndian32(tag, 0);  // Unicode count
    tag.push_back(0);           // ScriptCode code (2 bytes)
    tag.push_back(0);
    tag.push_back(0);                    // ScriptCode count
    tag.insert(tag.end(), 67, uint8_t(0));  // ScriptCode text
    return tag;
}

bool BuildProfile(std::vector<uint8_t>& bytes) {
    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    if (!profile) return false;
    cmsSetProfileVersion(profile, 2.1);
    cmsSetDeviceClass(profile, cmsSigOutputClass);
    cmsSetColorSpace(profile, cmsSigGrayData);
    cmsSetPCS(profile, cmsSigXYZData);
    cmsSetHeaderRenderingIntent(profile, INTENT_PERCEPTUAL);

    bool ok = true;
    cmsMLU* copyright = cmsMLUalloc(nullptr, 1);
    ok = ok && copyright && cmsMLUsetASCII(copyright, "en", "US", kCopyright) &&
         cmsWriteTag(profile, cmsSigCopyrightTag, copyright);
    if (copyright) cmsMLUfree(copyright);

    std::vector<uint8_t> description = TextDescription(kDescription);
    ok = ok && cmsWriteRawTag(profile, cmsSigProfileDescriptionTag, description.data(),
                              static_cast<cmsUInt32Number>(description.size()));

    cmsCIEXYZ black = {0.0, 0.0, 0.0};
    ok = ok && cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    ok = ok && cmsWriteTag(profile, cmsSigMediaBlackPointTag, &black);

    cmsUInt16Number points[kCurvePoints];
    for (int i = 0; i < kCurvePoints; i++)
        points[i] = i <= 5 ? static_cast<cmsUInt16Number>(16 * i)
                           : static_cast<cmsUInt16Number>(std::lround(65535.0 * std::pow(i / 255.0, kCurveGamma)));
    cmsToneCurve* curve = cmsBuildTabulatedToneCurve16(nullptr, kCurvePoints, points);
    ok = ok && curve && cmsWriteTag(profile, cmsSigGrayTRCTag, curve);
    if (curve) cmsFreeToneCurve(curve);

    cmsUInt32Number size = 0;
    ok = ok && cmsSaveProfileToMem(profile, nullptr, &size) && size > 128;
    if (ok) {
        bytes.assign(size, 0);
        ok = cmsSaveProfileToMem(profile, bytes.data(), &size) != 0;
    }
    cmsCloseProfile(profile);
    if (!ok) return false;

    PutBigEndian32(bytes, kHeaderCreatorOffset, 0x43565345);   // 'CVSE'
    PutBigEndian32(bytes, kHeaderPlatformOffset, 0x4D534654);  // 'MSFT'
    for (int i = 0; i < 6; i++) {
        bytes[kHeaderDateOffset + 2 * i] = static_cast<uint8_t>(kFixedDate[i] >> 8);
        bytes[kHeaderDateOffset + 2 * i + 1] = static_cast<uint8_t>(kFixedDate[i]);
    }
    return true;
}

bool WriteFile(const std::string& path, const std::string& contents) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    bool ok = std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
    return std::fclose(file) == 0 && ok;
}

std::string CppSource(const std::vector<uint8_t>& bytes) {
    std::string text =
        "// Generated by tools/grayprofile_gen: the default grayscale ICC profile.\n"
        "#include <cstddef>\n\n"
        "extern const unsigned char kDefaultGrayProfile[];\n"
        "extern const size_t kDefaultGrayProfileSize;\n\n"
        "const unsigned char kDefaultGrayProfile[] = {";
    char number[8];
    for (size_t i = 0; i < bytes.size(); i++) {
        text += i % 16 == 0 ? "\n    " : " ";
        std::snprintf(number, sizeof(number), "0x%02X,", bytes[i]);
        text += number;
    }
    text += "\n};\nconst size_t kDefaultGrayProfileSize = sizeof(kDefaultGrayProfile);\n";
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    std::string cppPath, iccPath;
    for (int i = 1; i < argc; i++) {
        std::string argument = argv[i];
        if (argument == "--cpp" && i + 1 < argc)
            cppPath = argv[++i];
        else if (iccPath.empty() && argument.rfind("--", 0) != 0)
            iccPath = argument;
        else {
            iccPath.clear();
            cppPath.clear();
            break;
        }
    }
    if (cppPath.empty() && iccPath.empty()) {
        std::fprintf(stderr, "usage: grayprofile_gen [--cpp source.cpp] [profile.icc]\n");
        return 2;
    }

    std::vector<uint8_t> bytes;
    if (!BuildProfile(bytes)) {
        std::fprintf(stderr, "grayprofile_gen: Little CMS could not build the profile\n");
        return 1;
    }
    if (bytes.size() != kExpectedSize)
        std::fprintf(stderr, "grayprofile_gen: the profile has %zu bytes instead of %zu\n", bytes.size(),
                     kExpectedSize);

    std::string binary(bytes.begin(), bytes.end());
    if (!iccPath.empty() && !WriteFile(iccPath, binary)) {
        std::fprintf(stderr, "grayprofile_gen: could not write %s\n", iccPath.c_str());
        return 1;
    }
    if (!cppPath.empty() && !WriteFile(cppPath, CppSource(bytes))) {
        std::fprintf(stderr, "grayprofile_gen: could not write %s\n", cppPath.c_str());
        return 1;
    }
    return 0;
}
