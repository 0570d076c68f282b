// The decisions of the OpenGL layer that depend only on what a context
// reports: the optimisation setting and its names, the vendor class, the
// drawing settings, the GLSL version and the tile layout of a texture set.
// Nothing here calls OpenGL, so the rules build and are tested on any
// platform; gl/*.cpp fill an OpenGLCapabilities from the real context and
// ask these functions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What a context reported once, right after its extension table was filled.
// "versionNM" means the context's version is at least N.M.
struct OpenGLCapabilities {
    std::string vendor;       // GL_VENDOR, empty when it could not be read
    std::string renderer;     // GL_RENDERER
    std::string version;      // GL_VERSION, e.g. "4.5 (Compatibility Profile) Mesa 22.3.6"
    bool vendorRead = false;  // GL_VENDOR answered
    bool version14 = false, version15 = false, version20 = false, version21 = false, version30 = false;
    bool arbVertexBufferObject = false;
    bool arbFramebufferObject = false;
    bool arbPixelBufferObject = false;
    bool arbTextureNonPowerOfTwo = false;
    bool nvFloatBuffer = false;
    bool atiTextureFloat = false;
    bool arbShadingLanguage100 = false;
    bool arbShaderObjects = false;
    bool arbVertexShader = false;
    bool arbFragmentShader = false;
};

// The user's one choice between quality and speed (stored in the registry).
enum OptimizationSetting : uint32_t {
    OPTIMIZE_NOT_DETERMINED = 0,
    OPTIMIZE_FOR_QUALITY = 1,
    OPTIMIZE_FOR_SPEED = 2,
    OPTIMIZE_FOR_COMPATIBILITY = 3,
    OPTIMIZE_NONE = 4,  // software rendering
};
// "OPTIMIZE_FOR_QUALITY" ... ; "Unrecognized Setting" for anything else.
const char* OptimizationSettingName(uint32_t setting);

enum OpenGLVendorClass : uint32_t {
    VENDOR_UNKNOWN = 0,  // the vendor string could not be read
    VENDOR_ATI = 1,
    VENDOR_NVIDIA = 2,
    VENDOR_INTEL = 3,
    VENDOR_MICROSOFT = 4,
    VENDOR_MESA = 5,
    VENDOR_VMWARE = 6,
    VENDOR_ASUS = 7,
    VENDOR_OTHER = 8,
};
// The first of "ATI ", "NVIDIA ", "INTEL ", "MICROSOFT ", "MESA ", "VMWARE, ",
// "ASUS " found anywhere in the upper-cased vendor string decides.
uint32_t VendorClassOf(const std::string& vendor);

// The setting chosen when none is stored: 0 (decide later) or 4 without a
// context, 4 without acceleration, else 1 or 3 by version, then the vendor rules.
uint32_t ChooseOptimizationSetting(bool haveContext, bool accelerated, const OpenGLCapabilities& caps);

// Everything the preview may use, fixed for the dialog's life.
struct DrawingSettings {
    uint32_t setting = OPTIMIZE_NOT_DETERMINED;
    bool accelerated = false;
    uint32_t vendorClass = VENDOR_UNKNOWN;
    bool useOffscreenBitmap = true;
    bool useShaderProgram = false;
    bool useVertexBufferObjects = false;
    bool useFrameBufferObjects = false;
    bool usePixelBufferObjects = false;
    bool mustUsePowerOfTwoSizedTextures = true;
};
DrawingSettings DeriveDrawingSettings(uint32_t setting, bool accelerated, const OpenGLCapabilities& caps);
// The "OpenGL Options settings:" trace text.
std::string DrawingSettingsLogText(const DrawingSettings& settings);
// The first blank-separated word of the version string (shown by the About box).
std::string VersionNumberOf(const std::string& version);

// ---- internal texture formats ----
struct TextureFormat {
    uint32_t internalFormat = 0;  // OpenGL enumerant; 0 = not chosen
    uint32_t bytesPerPixel = 0;   // red bits / 8 * 4
    uint32_t dataType = 0;        // OpenGL enumerant
};
// The formats that ask least of a card: GL_RGBA8, 4 bytes, GL_UNSIGNED_BYTE.
TextureFormat BasicTextureFormat();
// The enumerant's name for the log ("GL_RGBA16F", ...), "Unrecognized" when unknown.
const char* InternalFormatName(uint32_t internalFormat);
// "GL_UNSIGNED_BYTE", ..., else "Unrecognized: 0x%X".
std::string DataTypeName(uint32_t dataType);
// The "Selected Internal Texture Formats:" trace text.
std::string TextureFormatsLogText(const TextureFormat& f8, const TextureFormat& f16, const TextureFormat& f32);

// ---- GLSL ----
struct GLSLVersion {
    int major = -1, minor = -1, release = -1;  // -1: unknown, or no bound
};
// Reads "%d.%d.%d" from the start of GL_SHADING_LANGUAGE_VERSION: two or three
// numbers succeed (release 0 when two); 1.51 is taken as 1.0. False otherwise.
bool ParseGLSLVersion(const char* text, GLSLVersion* version);
// minimum <= version <= maximum, component by component; a -1 in a bound
// satisfies the rest; an unknown version fails.
bool GLSLVersionInRange(const GLSLVersion& version, const GLSLVersion& minimum, const GLSLVersion& maximum);

// ---- tiles of a texture set ----
// Smallest power of two from 2 to 2^24 not below n (0 when n is larger).
uint32_t PowerOfTwoAtLeast(int64_t n);
// Largest power of two from 2 to 2^24 not above n (2 when n is below 2).
uint32_t PowerOfTwoAtMost(int64_t n);

struct TileRect {
    int32_t left, top, right, bottom;
};
// One tile: where its pixels come from, its texture size, and the quad drawn
// (which leaves out one pixel on every side that borders another tile).
struct TileLayout {
    TileRect region;        // source pixels
    int32_t textureWidth;   // the size the texture needs (power of two when asked)
    int32_t textureHeight;
    TileRect quad;          // drawn part, in the region's coordinates
};
// Lays tiles of at most maxWidth x maxHeight over `region`, row by row from its
// top-left, neighbours overlapping by two pixels. Empty for an empty region
// or a maximum below 3 pixels.
std::vector<TileLayout> LayTiles(const TileRect& region, int32_t maxWidth, int32_t maxHeight, bool powerOfTwo);
