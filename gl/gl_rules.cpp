#include "gl/gl_rules.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

const char* OptimizationSettingName(uint32_t setting) {
    switch (setting) {
        case OPTIMIZE_FOR_QUALITY: return "OPTIMIZE_FOR_QUALITY";
        case OPTIMIZE_FOR_SPEED: return "OPTIMIZE_FOR_SPEED";
        case OPTIMIZE_FOR_COMPATIBILITY: return "OPTIMIZE_FOR_COMPATIBILITY";
        case OPTIMIZE_NONE: return "OPTIMIZE_NONE";
        default: return "Unrecognized Setting";
    }
}

namespace {
std::string Upper(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}
std::string Lower(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}
bool BeginsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }
}  // namespace

uint32_t VendorClassOf(const std::string& vendor) {
    // Each name ends in a blank (VMware's in a comma and a blank), so that
    // "ATI " does not match inside another word.
    static const struct {
        const char* text;
        uint32_t vendorClass;
    } kVendors[] = {{"ATI ", VENDOR_ATI},         {"NVIDIA ", VENDOR_NVIDIA}, {"INTEL ", VENDOR_INTEL},
                    {"MICROSOFT ", VENDOR_MICROSOFT}, {"MESA ", VENDOR_MESA},     {"VMWARE, ", VENDOR_VMWARE},
                    {"ASUS ", VENDOR_ASUS}};
    std::string upper = Upper(vendor);
    for (const auto& v : kVendors)
        if (upper.find(v.text) != std::string::npos) return v.vendorClass;
    return VENDOR_OTHER;
}

uint32_t ChooseOptimizationSetting(bool haveContext, bool accelerated, const OpenGLCapabilities& caps) {
    if (!haveContext) return accelerated ? OPTIMIZE_NOT_DETERMINED : OPTIMIZE_NONE;
    if (!accelerated) return OPTIMIZE_NONE;
    uint32_t setting = caps.version20 ? OPTIMIZE_FOR_QUALITY : OPTIMIZE_FOR_COMPATIBILITY;
    std::string vendor = Upper(caps.vendor);
    if (BeginsWith(vendor, "ATI")) {
        // Only the Radeon line (and the 1950 boards) draws the quality path right.
        std::string renderer = Lower(caps.renderer);
        if (!BeginsWith(renderer, "radeon") && !BeginsWith(renderer, "1950")) setting = OPTIMIZE_FOR_COMPATIBILITY;
    } else if (BeginsWith(vendor, "NVIDIA")) {
        if (!caps.nvFloatBuffer && !caps.atiTextureFloat)
            setting = OPTIMIZE_FOR_COMPATIBILITY;
        else if (caps.renderer == "GeForce 8600 GT/PCI/SSE2")
            setting = OPTIMIZE_FOR_SPEED;
    } else if (BeginsWith(vendor, "INTEL")) {
        if (!caps.version15) setting = OPTIMIZE_NONE;
    }
    return setting;
}

DrawingSettings DeriveDrawingSettings(uint32_t setting, bool accelerated, const OpenGLCapabilities& caps) {
    DrawingSettings s;
    s.setting = setting;
    s.accelerated = accelerated;
    s.vendorClass = caps.vendorRead ? VendorClassOf(caps.vendor) : VENDOR_UNKNOWN;
    bool allowed = setting != OPTIMIZE_FOR_COMPATIBILITY && setting != OPTIMIZE_NONE && accelerated;
    s.useOffscreenBitmap = !accelerated;
    s.useShaderProgram = allowed;
    s.useVertexBufferObjects = allowed && (caps.version15 || (caps.version14 && caps.arbVertexBufferObject));
    s.useFrameBufferObjects = allowed && (caps.version30 || (caps.version21 && caps.arbFramebufferObject));
    s.usePixelBufferObjects =
        s.useVertexBufferObjects && (caps.version21 || (caps.version20 && caps.arbPixelBufferObject));
    if (!allowed)
        s.mustUsePowerOfTwoSizedTextures = true;
    else if (caps.version20)
        s.mustUsePowerOfTwoSizedTextures = s.vendorClass == VENDOR_NVIDIA && !caps.arbTextureNonPowerOfTwo;
    else if (caps.version14)
        s.mustUsePowerOfTwoSizedTextures = !caps.arbTextureNonPowerOfTwo;
    else
        s.mustUsePowerOfTwoSizedTextures = true;
    return s;
}

std::string DrawingSettingsLogText(const DrawingSettings& s) {
    auto b = [](bool v) { return v ? "true" : "false"; };
    char text[640];
    std::snprintf(text, sizeof(text),
                  "OpenGL Options settings:\n     OpenGL Optimization Setting = %s\n     UseOffscreenBitmap = %s\n"
                  "     UseVertexBufferObjects = %s\n     UseFrameBufferObjects = %s\n"
                  "     UsePixelBufferObjects = %s\n     UseShaderProgram = %s\n"
                  "     MustUsePowerOfTwoSizedTextures = %s\n",
                  OptimizationSettingName(s.setting), b(s.useOffscreenBitmap), b(s.useVertexBufferObjects),
                  b(s.useFrameBufferObjects), b(s.usePixelBufferObjects), b(s.useShaderProgram),
                  b(s.mustUsePowerOfTwoSizedTextures));
    return text;
}

std::string VersionNumberOf(const std::string& version) { return version.substr(0, version.find(' ')); }

TextureFormat BasicTextureFormat() { return {0x8058 /* GL_RGBA8 */, 4, 0x1401 /* GL_UNSIGNED_BYTE */}; }

namespace {
const struct {
    uint32_t value;
    const char* name;
} kInternalFormatNames[] = {
    {0x1906, "GL_ALPHA"},
    {0x1907, "GL_RGB"},
    {0x1908, "GL_RGBA"},
    {0x1909, "GL_LUMINANCE"},
    {0x190A, "GL_LUMINANCE_ALPHA"},
    {0x8049, "GL_INTENSITY"},
    {0x1903, "GL_RED"},
    {0x8227, "GL_RG"},
    {0x80E0, "GL_BGR"},
    {0x80E1, "GL_BGRA"},
    {0x803B, "GL_ALPHA4"},
    {0x803C, "GL_ALPHA8"},
    {0x803D, "GL_ALPHA12"},
    {0x803E, "GL_ALPHA16"},
    {0x803F, "GL_LUMINANCE4"},
    {0x8040, "GL_LUMINANCE8"},
    {0x8041, "GL_LUMINANCE12"},
    {0x8042, "GL_LUMINANCE16"},
    {0x8043, "GL_LUMINANCE4_ALPHA4"},
    {0x8044, "GL_LUMINANCE6_ALPHA2"},
    {0x8045, "GL_LUMINANCE8_ALPHA8"},
    {0x8046, "GL_LUMINANCE12_ALPHA4"},
    {0x8047, "GL_LUMINANCE12_ALPHA12"},
    {0x8048, "GL_LUMINANCE16_ALPHA16"},
    {0x804A, "GL_INTENSITY4"},
    {0x804B, "GL_INTENSITY8"},
    {0x804C, "GL_INTENSITY12"},
    {0x804D, "GL_INTENSITY16"},
    {0x2A10, "GL_R3_G3_B2"},
    {0x804F, "GL_RGB4"},
    {0x8050, "GL_RGB5"},
    {0x8051, "GL_RGB8"},
    {0x8052, "GL_RGB10"},
    {0x8053, "GL_RGB12"},
    {0x8054, "GL_RGB16"},
    {0x8055, "GL_RGBA2"},
    {0x8056, "GL_RGBA4"},
    {0x8057, "GL_RGB5_A1"},
    {0x8058, "GL_RGBA8"},
    {0x8059, "GL_RGB10_A2"},
    {0x805A, "GL_RGBA12"},
    {0x805B, "GL_RGBA16"},
    {0x8229, "GL_R8"},
    {0x822A, "GL_R16"},
    {0x822B, "GL_RG8"},
    {0x822C, "GL_RG16"},
    {0x822D, "GL_R16F"},
    {0x822E, "GL_R32F"},
    {0x822F, "GL_RG16F"},
    {0x8230, "GL_RG32F"},
    {0x8231, "GL_R8I"},
    {0x8232, "GL_R8UI"},
    {0x8233, "GL_R16I"},
    {0x8234, "GL_R16UI"},
    {0x8235, "GL_R32I"},
    {0x8236, "GL_R32UI"},
    {0x8237, "GL_RG8I"},
    {0x8238, "GL_RG8UI"},
    {0x8239, "GL_RG16I"},
    {0x823A, "GL_RG16UI"},
    {0x823B, "GL_RG32I"},
    {0x823C, "GL_RG32UI"},
    {0x8814, "GL_RGBA32F"},
    {0x8815, "GL_RGB32F"},
    {0x881A, "GL_RGBA16F"},
    {0x881B, "GL_RGB16F"},
    {0x8D70, "GL_RGBA32UI"},
    {0x8D71, "GL_RGB32UI"},
    {0x8D76, "GL_RGBA16UI"},
    {0x8D77, "GL_RGB16UI"},
    {0x8D7C, "GL_RGBA8UI"},
    {0x8D7D, "GL_RGB8UI"},
    {0x8D82, "GL_RGBA32I"},
    {0x8D83, "GL_RGB32I"},
    {0x8D88, "GL_RGBA16I"},
    {0x8D89, "GL_RGB16I"},
    {0x8D8E, "GL_RGBA8I"},
    {0x8D8F, "GL_RGB8I"},
    {0x8C3A, "GL_R11F_G11F_B10F"},
    {0x8C3D, "GL_RGB9_E5"},
    {0x8C40, "GL_SRGB"},
    {0x8C41, "GL_SRGB8"},
    {0x8C42, "GL_SRGB_ALPHA"},
    {0x8C43, "GL_SRGB8_ALPHA8"},
    {0x8C46, "GL_SLUMINANCE"},
    {0x8C47, "GL_SLUMINANCE8"},
    {0x8C44, "GL_SLUMINANCE_ALPHA"},
    {0x8C45, "GL_SLUMINANCE8_ALPHA8"},
    {0x84ED, "GL_COMPRESSED_RGB"},
    {0x84EE, "GL_COMPRESSED_RGBA"},
    {0x84E9, "GL_COMPRESSED_ALPHA"},
    {0x84EA, "GL_COMPRESSED_LUMINANCE"},
    {0x84EB, "GL_COMPRESSED_LUMINANCE_ALPHA"},
    {0x84EC, "GL_COMPRESSED_INTENSITY"},
    {0x8C48, "GL_COMPRESSED_SRGB"},
    {0x8C49, "GL_COMPRESSED_SRGB_ALPHA"},
    {0x8225, "GL_COMPRESSED_RED"},
    {0x8226, "GL_COMPRESSED_RG"},
    {0x8F94, "GL_R8_SNORM"},
    {0x8F95, "GL_RG8_SNORM"},
    {0x8F96, "GL_RGB8_SNORM"},
    {0x8F97, "GL_RGBA8_SNORM"},
    {0x8F98, "GL_R16_SNORM"},
    {0x8F99, "GL_RG16_SNORM"},
    {0x8F9A, "GL_RGB16_SNORM"},
    {0x8F9B, "GL_RGBA16_SNORM"},
    {0x906F, "GL_RGB10_A2UI"},
    {0x8D62, "GL_RGB565"},
    {0x1902, "GL_DEPTH_COMPONENT"},
    {0x81A5, "GL_DEPTH_COMPONENT16"},
    {0x81A6, "GL_DEPTH_COMPONENT24"},
    {0x81A7, "GL_DEPTH_COMPONENT32"},
    {0x8CAC, "GL_DEPTH_COMPONENT32F"},
    {0x84F9, "GL_DEPTH_STENCIL"},
    {0x88F0, "GL_DEPTH24_STENCIL8"},
    {0x8CAD, "GL_DEPTH32F_STENCIL8"},
    {0x8D48, "GL_STENCIL_INDEX8"},
    {0x888A, "GL_FLOAT_RGBA16_NV"},
    {0x888B, "GL_FLOAT_RGBA32_NV"},
    {0x8888, "GL_FLOAT_RGB16_NV"},
    {0x8889, "GL_FLOAT_RGB32_NV"},
    {0x8884, "GL_FLOAT_R16_NV"},
    {0x8885, "GL_FLOAT_R32_NV"},
    {0x8886, "GL_FLOAT_RG16_NV"},
    {0x8887, "GL_FLOAT_RG32_NV"},
    {0x8816, "GL_ALPHA_FLOAT32_ATI"},
    {0x8817, "GL_INTENSITY_FLOAT32_ATI"},
    {0x8818, "GL_LUMINANCE_FLOAT32_ATI"},
    {0x8819, "GL_LUMINANCE_ALPHA_FLOAT32_ATI"},
    {0x881C, "GL_ALPHA_FLOAT16_ATI"},
    {0x881D, "GL_INTENSITY_FLOAT16_ATI"},
    {0x881E, "GL_LUMINANCE_FLOAT16_ATI"},
    {0x881F, "GL_LUMINANCE_ALPHA_FLOAT16_ATI"},
    {0x83F0, "GL_COMPRESSED_RGB_S3TC_DXT1_EXT"},
    {0x83F1, "GL_COMPRESSED_RGBA_S3TC_DXT1_EXT"},
    {0x83F2, "GL_COMPRESSED_RGBA_S3TC_DXT3_EXT"},
    {0x83F3, "GL_COMPRESSED_RGBA_S3TC_DXT5_EXT"},
    {0x8DBB, "GL_COMPRESSED_RED_RGTC1"},
    {0x8DBC, "GL_COMPRESSED_SIGNED_RED_RGTC1"},
    {0x8DBD, "GL_COMPRESSED_RG_RGTC2"},
    {0x8DBE, "GL_COMPRESSED_SIGNED_RG_RGTC2"},
    {0x8E8C, "GL_COMPRESSED_RGBA_BPTC_UNORM"},
    {0x8E8D, "GL_COMPRESSED_SRGB_ALPHA_BPTC_UNORM"},
    {0x8E8E, "GL_COMPRESSED_RGB_BPTC_SIGNED_FLOAT"},
    {0x8E8F, "GL_COMPRESSED_RGB_BPTC_UNSIGNED_FLOAT"},
    {0x9274, "GL_COMPRESSED_RGB8_ETC2"},
    {0x9275, "GL_COMPRESSED_SRGB8_ETC2"},
    {0x9278, "GL_COMPRESSED_RGBA8_ETC2_EAC"},
    {0x9279, "GL_COMPRESSED_SRGB8_ALPHA8_ETC2_EAC"},
    {0x9270, "GL_COMPRESSED_R11_EAC"},
    {0x9271, "GL_COMPRESSED_SIGNED_R11_EAC"},
    {0x9272, "GL_COMPRESSED_RG11_EAC"},
};
}  // namespace

const char* InternalFormatName(uint32_t internalFormat) {
    for (const auto& entry : kInternalFormatNames)
        if (entry.value == internalFormat) return entry.name;
    return "Unrecognized";
}

std::string DataTypeName(uint32_t dataType) {
    switch (dataType) {
        case 0x1400: return "GL_BYTE";
        case 0x1401: return "GL_UNSIGNED_BYTE";
        case 0x1402: return "GL_SHORT";
        case 0x1403: return "GL_UNSIGNED_SHORT";
        case 0x1404: return "GL_INT";
        case 0x1405: return "GL_UNSIGNED_INT";
        case 0x1406: return "GL_FLOAT";
        case 0x1407: return "GL_2_BYTES";
        case 0x1408: return "GL_3_BYTES";
        case 0x1409: return "GL_4_BYTES";
        case 0x140A: return "GL_DOUBLE";
        case 0x140B: return "GL_HALF_FLOAT";
        default: {
            char text[32];
            std::snprintf(text, sizeof(text), "Unrecognized: 0x%X", dataType);
            return text;
        }
    }
}

std::string TextureFormatsLogText(const TextureFormat& f8, const TextureFormat& f16, const TextureFormat& f32) {
    char text[512];
    std::snprintf(text, sizeof(text),
                  "Selected Internal Texture Formats:\n"
                  "     8  bit color: Format = %s, Pixel Depth = %u bytes, Data Type = %s\n"
                  "     16 bit color: Format = %s, Pixel Depth = %u bytes, Data Type = %s\n"
                  "     32 bit color: Format = %s, Pixel Depth = %u bytes, Data Type = %s\n",
                  InternalFormatName(f8.internalFormat), f8.bytesPerPixel, DataTypeName(f8.dataType).c_str(),
                  InternalFormatName(f16.internalFormat), f16.bytesPerPixel, DataTypeName(f16.dataType).c_str(),
                  InternalFormatName(f32.internalFormat), f32.bytesPerPixel, DataTypeName(f32.dataType).c_str());
    return text;
}

bool ParseGLSLVersion(const char* text, GLSLVersion* version) {
    *version = GLSLVersion();
    int major = 0, minor = 0, release = 0;
    int read = text ? std::sscanf(text, "%d.%d.%d ", &major, &minor, &release) : 0;
    if (read < 2) return false;
    if (read == 2) release = 0;
    // Early drivers report 1.051 for the first language version.
    if (major == 1 && minor == 51) minor = 0;
    *version = {major, minor, release};
    return true;
}

bool GLSLVersionInRange(const GLSLVersion& v, const GLSLVersion& minimum, const GLSLVersion& maximum) {
    if (v.major < 0) return false;
    const int have[3] = {v.major, v.minor, v.release};
    const int low[3] = {minimum.major, minimum.minor, minimum.release};
    const int high[3] = {maximum.major, maximum.minor, maximum.release};
    for (int i = 0; i < 3; ++i) {  // at least the minimum
        if (low[i] < 0 || have[i] > low[i]) break;
        if (have[i] < low[i]) return false;
    }
    for (int i = 0; i < 3; ++i) {  // at most the maximum
        if (high[i] < 0 || have[i] < high[i]) break;
        if (have[i] > high[i]) return false;
    }
    return true;
}

uint32_t PowerOfTwoAtLeast(int64_t n) {
    for (uint32_t p = 2; p <= (1u << 24); p <<= 1)
        if (p >= n) return p;
    return 0;
}

uint32_t PowerOfTwoAtMost(int64_t n) {
    uint32_t best = 2;
    for (uint32_t p = 2; p <= (1u << 24); p <<= 1)
        if (p <= n) best = p;
    return best;
}

std::vector<TileLayout> LayTiles(const TileRect& region, int32_t maxWidth, int32_t maxHeight, bool powerOfTwo) {
    std::vector<TileLayout> tiles;
    if (region.right <= region.left || region.bottom <= region.top || maxWidth < 3 || maxHeight < 3) return tiles;
    for (int64_t y = region.top;; y += maxHeight - 2) {
        int32_t height = static_cast<int32_t>(std::min<int64_t>(maxHeight, region.bottom - y));
        for (int64_t x = region.left;; x += maxWidth - 2) {
            int32_t width = static_cast<int32_t>(std::min<int64_t>(maxWidth, region.right - x));
            TileLayout t;
            t.region = {static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<int32_t>(x + width),
                        static_cast<int32_t>(y + height)};
            t.textureWidth = powerOfTwo ? static_cast<int32_t>(PowerOfTwoAtLeast(width)) : width;
            t.textureHeight = powerOfTwo ? static_cast<int32_t>(PowerOfTwoAtLeast(height)) : height;
            t.quad = {t.region.left == region.left ? t.region.left : t.region.left + 1,
                      t.region.top == region.top ? t.region.top : t.region.top + 1,
                      t.region.right == region.right ? t.region.right : t.region.right - 1,
                      t.region.bottom == region.bottom ? t.region.bottom : t.region.bottom - 1};
            tiles.push_back(t);
            if (t.region.right >= region.right) break;
        }
        if (y + height >= region.bottom) break;
    }
    return tiles;
}
