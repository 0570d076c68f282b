#include "gl/drawing_settings.h"

#include <cstring>

#include "gl/gl_check.h"
#include "gl/gl_context.h"
#include "gl/glew_table.h"
#include "image/tracked_buffer.h"
#include "support/debug_log.h"
#include "support/run_result.h"

namespace {
DrawingSettings gSettings;
bool gAccelerated = false;
std::string gVersionNumber;
TextureFormat gFormat8 = BasicTextureFormat();
TextureFormat gFormat16 = BasicTextureFormat();
TextureFormat gFormat32 = BasicTextureFormat();
OpenGLRegistrySettings gRegistry;

const char kRegistryKey[] = "Software\\Corvane Software\\RaylumePro\\2.0\\OpenGLSettings";
const char kSettingValue[] = "OpenGLOptimizationSetting";
const char kVersionValue[] = "InstalledProductVersion";
HKEY gRegistryRoot = HKEY_LOCAL_MACHINE;
std::string gRegistryKey = kRegistryKey;
// The user's own choice, read before the machine's: a user without the right
// to write the machine's key keeps the choice made in the Options dialog.
std::string gUserKey = kRegistryKey;
bool gMachineKeyReadOnlyForTesting = false;

// The per-user setting, 0 when there is none (or it is not one of 1..4).
uint32_t ReadUserOpenGLSetting() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, gUserKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    DWORD setting = 0, size = sizeof(setting), type = 0;
    LONG status = RegQueryValueExA(key, kSettingValue, nullptr, &type, reinterpret_cast<BYTE*>(&setting), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_DWORD || setting < OPTIMIZE_FOR_QUALITY || setting > OPTIMIZE_NONE)
        return 0;
    return setting;
}
}  // namespace

const DrawingSettings& CurrentDrawingSettings() { return gSettings; }
bool UseOffscreenBitmap() { return gSettings.useOffscreenBitmap; }
bool UseShaderProgram() { return gSettings.useShaderProgram; }
bool UseVertexBufferObjects() { return gSettings.useVertexBufferObjects; }
bool UseFrameBufferObjects() { return gSettings.useFrameBufferObjects; }
bool UsePixelBufferObjects() { return gSettings.usePixelBufferObjects; }
bool MustUsePowerOfTwoSizedTextures() { return gSettings.mustUsePowerOfTwoSizedTextures; }
bool GPUAccelerated() { return gAccelerated; }
uint32_t OpenGLVendorClass() { return gSettings.vendorClass; }
uint32_t OpenGLOptimizationSetting() { return gRegistry.optimizationSetting; }
const std::string& OpenGLVersionNumber() { return gVersionNumber; }
const TextureFormat& TextureFormat8() { return gFormat8; }
const TextureFormat& TextureFormat16() { return gFormat16; }
const TextureFormat& TextureFormat32() { return gFormat32; }
OpenGLRegistrySettings& OpenGLRegistry() { return gRegistry; }

void SetGPUAccelerated(bool accelerated) {
    gAccelerated = accelerated;
    gSettings.accelerated = accelerated;
    gSettings.useOffscreenBitmap = !accelerated;
}

void ResetDrawingSettingsForTesting() {
    gSettings = DrawingSettings();
    gAccelerated = false;
    gVersionNumber.clear();
    gFormat8 = gFormat16 = gFormat32 = BasicTextureFormat();
    gRegistry = OpenGLRegistrySettings();
}

void SetOpenGLRegistryKeyForTesting(const char* subKey) {
    gRegistryRoot = subKey ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    gRegistryKey = subKey ? subKey : kRegistryKey;
    gUserKey = subKey ? std::string(subKey) + "\\PerUser" : std::string(kRegistryKey);
    gMachineKeyReadOnlyForTesting = false;
}

void SetOpenGLMachineKeyReadOnlyForTesting(bool readOnly) { gMachineKeyReadOnlyForTesting = readOnly; }

// ---------------------------------------------------------------------------
// Registry
// ---------------------------------------------------------------------------

bool ReadOpenGLRegistryData(OpenGLRegistrySettings* settings, bool withUserChoice) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    LONG status = RegCreateKeyExA(gRegistryRoot, gRegistryKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_READ | KEY_WRITE, nullptr, &key, &disposition);
    if (status == ERROR_ACCESS_DENIED) {
        // A user without administrator rights may read what the installer stored.
        disposition = REG_OPENED_EXISTING_KEY;
        status = RegOpenKeyExA(gRegistryRoot, gRegistryKey.c_str(), 0, KEY_READ, &key);
        if (status == ERROR_FILE_NOT_FOUND) {
            *settings = OpenGLRegistrySettings();
            return true;
        }
    }
    if (status != ERROR_SUCCESS) {
        ReportUnexpected(__LINE__, "Could not open or create the OpenGL settings registry key. Error = %d.",
                         static_cast<int>(status));
        return false;
    }
    bool ok = true;
    if (disposition == REG_CREATED_NEW_KEY) {
        *settings = OpenGLRegistrySettings();
    } else {
        DWORD setting = 0, size = sizeof(setting), type = 0;
        status = RegQueryValueExA(key, kSettingValue, nullptr, &type, reinterpret_cast<BYTE*>(&setting), &size);
        if (status == ERROR_FILE_NOT_FOUND || (status == ERROR_SUCCESS && type != REG_DWORD)) {
            setting = 0;
        } else if (status != ERROR_SUCCESS) {
            ReportUnexpected(__LINE__, "Could not read the m_OpenGLDrawingMode registry key. Error = %d",
                             static_cast<int>(status));
            setting = 0;
            ok = false;
        }
        settings->optimizationSetting = settings->lastStoredSetting = setting;
        char version[1024] = {};
        size = sizeof(version) - 1;
        status = RegQueryValueExA(key, kVersionValue, nullptr, &type, reinterpret_cast<BYTE*>(version), &size);
        if (status == ERROR_SUCCESS && type == REG_SZ) {
            version[sizeof(version) - 1] = 0;
            settings->installedProductVersion = version;
        } else if (status == ERROR_FILE_NOT_FOUND || status == ERROR_SUCCESS) {
            settings->installedProductVersion.clear();
        } else {
            ReportUnexpected(__LINE__, "Could not read the product version registry key. Error = %d",
                             static_cast<int>(status));
            settings->installedProductVersion.clear();
            ok = false;
        }
    }
    status = RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        ReportUnexpected(__LINE__, "Could not close the OpenGL settings registry key. Error = %d.",
                         static_cast<int>(status));
        ok = false;
    }
    if (withUserChoice) {
        if (uint32_t user = ReadUserOpenGLSetting()) settings->optimizationSetting = settings->lastStoredSetting = user;
    }
    return ok;
}

bool StoreOpenGLSettingChoice(OpenGLRegistrySettings* settings, bool* forEveryUser) {
    *forEveryUser = false;
    HKEY key = nullptr;
    DWORD setting = settings->optimizationSetting;
    bool stored = RegCreateKeyExA(HKEY_CURRENT_USER, gUserKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                  nullptr, &key, nullptr) == ERROR_SUCCESS;
    if (stored) {
        stored = RegSetValueExA(key, kSettingValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&setting),
                                sizeof(setting)) == ERROR_SUCCESS;
        RegCloseKey(key);
    }
    if (!stored) ReportUnexpected(__LINE__, "Could not store the OpenGL setting for this user.");
    // The machine's key as well where this user may write it: the choice then
    // holds for every user without one of their own.
    HKEY machine = nullptr;
    if (!gMachineKeyReadOnlyForTesting &&
        RegOpenKeyExA(gRegistryRoot, gRegistryKey.c_str(), 0, KEY_WRITE, &machine) == ERROR_SUCCESS) {
        *forEveryUser = RegSetValueExA(machine, kSettingValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&setting),
                                       sizeof(setting)) == ERROR_SUCCESS;
        RegCloseKey(machine);
    }
    if (stored || *forEveryUser) settings->lastStoredSetting = settings->optimizationSetting;
    return stored || *forEveryUser;
}

bool WriteOpenGLRegistryData(OpenGLRegistrySettings* settings) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(gRegistryRoot, gRegistryKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        ReportUnexpected(__LINE__, "Could not open the OpenGL Settings registry key");
        return false;
    }
    bool ok = true;
    DWORD setting = settings->optimizationSetting;
    if (RegSetValueExA(key, kSettingValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&setting), sizeof(setting)) !=
        ERROR_SUCCESS) {
        ReportUnexpected(__LINE__, "Could not write m_OpenGLDrawingMode value.");
        ok = false;
    }
    const std::string& version = settings->installedProductVersion;
    if (RegSetValueExA(key, kVersionValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                       static_cast<DWORD>(version.size() + 1)) != ERROR_SUCCESS) {
        ReportUnexpected(__LINE__, "Could not write the Installed Product Version value.");
        ok = false;
    }
    if (ok) settings->lastStoredSetting = settings->optimizationSetting;
    if (RegCloseKey(key) != ERROR_SUCCESS) {
        ReportUnexpected(__LINE__, "Could not close the OpenGL Settings registry key");
        ok = false;
    }
    return ok;
}

bool LoadOpenGLDrawingSettings() {
    if (ReadOpenGLRegistryData(&gRegistry)) return true;
    DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
        .Report(OS_MB_ICONERROR, "Debug: Unexpected Error",
                "LoadOpenGLDrawingSettings() - Could not read user's preference for OpenGL quality vs. speed");
    gRegistry.optimizationSetting = OPTIMIZE_NOT_DETERMINED;
    return false;
}

// ---------------------------------------------------------------------------
// Settings of the preview context
// ---------------------------------------------------------------------------

uint32_t ChooseDefaultOptimizationSetting(bool accelerated) {
    const OpenGLCapabilities* caps = CurrentOpenGLCapabilities();
    return ChooseOptimizationSetting(wglGetCurrentContext() != nullptr && caps != nullptr, accelerated,
                                     caps ? *caps : OpenGLCapabilities());
}

bool InitializeOpenGLDrawingSettings() {
    const OpenGLCapabilities* current = CurrentOpenGLCapabilities();
    OpenGLCapabilities caps = current ? *current : OpenGLCapabilities();
    if (gRegistry.optimizationSetting == OPTIMIZE_NOT_DETERMINED) {
        gRegistry.optimizationSetting = ChooseDefaultOptimizationSetting(gAccelerated);
        if (!WriteOpenGLRegistryData(&gRegistry))
            ReportUnexpected(__LINE__, "InitializeOpenGLDrawingSettings() - Could not write OpenGL settings to registry.");
    }
    gVersionNumber = VersionNumberOf(caps.version);
    if (!caps.vendorRead)
        DebugEvent(__LINE__, OPENGL_ERROR, glGetError())
            .Report(OS_MB_ICONERROR, GL_CAPTION_UNEXPECTED,
                    "DetermineOpenGLVendor() - Failed to obtain OpenGL vendor string.");
    gSettings = DeriveDrawingSettings(gRegistry.optimizationSetting, gAccelerated, caps);
    DebugEvent(__LINE__, TRACE_MESSAGE).Report("%s", DrawingSettingsLogText(gSettings).c_str());
    bool characterised = CharacterizeBestFormats();
    DebugEvent(__LINE__, TRACE_MESSAGE).Report("%s", TextureFormatsLogText(gFormat8, gFormat16, gFormat32).c_str());
    return characterised;
}

namespace {

struct FormatTrial {
    GLenum internalFormat;
    GLenum dataType;
};

// Allocates the test texture in the candidate format and checks what the
// card granted; with frame buffers, also renders into the format.
bool TryFormat(const FormatTrial& trial, GLint bits, GLuint renderBuffer, TextureFormat* accepted) {
    glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(trial.internalFormat), 256, 256, 0, GL_RGBA, trial.dataType,
                 nullptr);
    if (TakeOpenGLError()) return false;
    GLint red = 0, alpha = 0, granted = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_RED_SIZE, &red);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_ALPHA_SIZE, &alpha);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &granted);
    if (TakeOpenGLError()) return false;
    if (bits > 0 && (red != bits || alpha != bits)) return false;
    if (bits <= 0 && (red <= 0 || red != alpha)) return false;  // the last fallback takes any depth
    if (trial.internalFormat != GL_RGBA && static_cast<GLenum>(granted) != trial.internalFormat) return false;
    if (renderBuffer) {
        glRenderbufferStorage(GL_RENDERBUFFER, static_cast<GLenum>(granted), 256, 256);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, renderBuffer);
        GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
        GLint rbFormat = 0, rbAlpha = 0;
        glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_INTERNAL_FORMAT, &rbFormat);
        glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_ALPHA_SIZE, &rbAlpha);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, 0);
        if (TakeOpenGLError() || status != GL_FRAMEBUFFER_COMPLETE) return false;
        if (granted != GL_RGBA && rbFormat != granted) return false;
        if (rbAlpha != alpha) return false;
    }
    accepted->internalFormat = static_cast<uint32_t>(granted);
    accepted->bytesPerPixel = static_cast<uint32_t>(red / 8 * 4);
    accepted->dataType = trial.dataType;
    if (bits <= 0) accepted->dataType = red == 8 ? GL_UNSIGNED_BYTE : red == 16 ? GL_UNSIGNED_SHORT : GL_FLOAT;
    return true;
}

bool FirstAccepted(const FormatTrial* trials, size_t count, GLint bits, GLuint renderBuffer, TextureFormat* out) {
    for (size_t i = 0; i < count; ++i)
        if (TryFormat(trials[i], bits, renderBuffer, out)) return true;
    return false;
}

}  // namespace

bool CharacterizeBestFormats() {
    gFormat8 = gFormat16 = gFormat32 = BasicTextureFormat();
    TakeOpenGLError();
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    GLuint texture = 0, frameBuffer = 0, renderBuffer = 0;
    bool result = true;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
    if (!CheckOpenGL(__LINE__, GL_CAPTION_UNEXPECTED_LOWER, "CharacterizeBestFormats() - Error initializing test texture.\n")) {
        glBindTexture(GL_TEXTURE_2D, 0);
        glDeleteTextures(1, &texture);
        glPopAttrib();
        TakeOpenGLError();
        return true;
    }
    bool ready = true;
    if (UseFrameBufferObjects()) {
        glGenFramebuffers(1, &frameBuffer);
        glBindFramebuffer(GL_FRAMEBUFFER, frameBuffer);
        glGenRenderbuffers(1, &renderBuffer);
        glBindRenderbuffer(GL_RENDERBUFFER, renderBuffer);
        ready = CheckOpenGL(__LINE__, GL_CAPTION_UNEXPECTED_LOWER, "CharacterizeBestFormats() - Error creating FBO test buffers.\n");
    }
    if (ready && OpenGLVendorClass() != VENDOR_MICROSOFT) {
        // Microsoft's software renderer keeps the basic formats.
        static const FormatTrial k8[] = {{GL_RGBA, GL_UNSIGNED_BYTE}, {GL_RGBA8, GL_UNSIGNED_BYTE}};
        static const FormatTrial k16[] = {{GL_RGBA, GL_UNSIGNED_SHORT},
                                          {0x888A /* GL_FLOAT_RGBA16_NV */, GL_HALF_FLOAT},
                                          {GL_RGBA16F, GL_HALF_FLOAT},
                                          {GL_RGBA16, GL_UNSIGNED_SHORT}};
        static const FormatTrial k32[] = {{GL_RGBA, GL_FLOAT},
                                          {0x888B /* GL_FLOAT_RGBA32_NV */, GL_FLOAT},
                                          {GL_RGBA32F, GL_FLOAT}};
        static const FormatTrial kAnyDepth[] = {{GL_RGBA, GL_UNSIGNED_BYTE}};
        TextureFormat f8, f16, f32;
        if (!FirstAccepted(k8, 2, 8, renderBuffer, &f8) && !FirstAccepted(kAnyDepth, 1, 0, renderBuffer, &f8)) {
            DebugEvent(__LINE__, USER_MESSAGE)
                .Report(OS_MB_ICONERROR, "System Capability Problem",
                        "Your computer and/or video drivers do not provide the required OpenGL capability.  This "
                        "plug-in cannot run.");
            SetGlobalErrorCode(RUN_BAD_PARAMETERS);
            result = false;
        } else {
            if (!FirstAccepted(k16, 4, 16, renderBuffer, &f16)) f16 = f8;
            if (!FirstAccepted(k32, 3, 32, renderBuffer, &f32)) f32 = f16;
            gFormat8 = f8;
            gFormat16 = f16;
            gFormat32 = f32;
        }
    }
    if (renderBuffer) {
        glBindRenderbuffer(GL_RENDERBUFFER, 0);
        glDeleteRenderbuffers(1, &renderBuffer);
    }
    if (frameBuffer) {
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glDeleteFramebuffers(1, &frameBuffer);
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    glDeleteTextures(1, &texture);
    glPopAttrib();
    TakeOpenGLError();
    return result;
}

// ---------------------------------------------------------------------------
// Installation
// ---------------------------------------------------------------------------

bool ConfigureOpenGLInstallation(const char* productVersion) {
    InitializeBufferUsage();
    DebugEvent(__LINE__, TRACE_MESSAGE).Report("Settings.ReadOpenGLRegistryData()");
    OpenGLRegistrySettings settings;
    ReadOpenGLRegistryData(&settings, false);  // the machine's setting: the installing user's own stays theirs
    settings.installedProductVersion = productVersion ? productVersion : "";
    DebugEvent(__LINE__, TRACE_MESSAGE).Report("CreateHiddenOpenGLContext()");
    OpenGLContext context;
    PIXELFORMATDESCRIPTOR descriptor = {};
    bool accelerated = true;
    bool ok = false;
    if (CreateHiddenOpenGLContext(&context, &descriptor, &accelerated)) {
        uint32_t setting = settings.optimizationSetting;
        if (setting >= OPTIMIZE_FOR_QUALITY && setting <= OPTIMIZE_FOR_COMPATIBILITY)
            setting = accelerated ? setting : OPTIMIZE_NONE;
        else if (setting != OPTIMIZE_NONE)
            setting = ChooseDefaultOptimizationSetting(accelerated);
        settings.optimizationSetting = setting;
        ok = WriteOpenGLRegistryData(&settings);
        if (!ok) ReportUnexpected(__LINE__, "InstallConfiguration() - Failed to write OpenGL settings to registery.");
        DebugEvent(__LINE__, TRACE_MESSAGE).Report("DestroyHiddenOpenGLContext()");
        DestroyHiddenOpenGLContext(&context);
    } else {
        // No context here (a silent install without a display, a remote
        // session): a setting the user chose stays, else none is stored and
        // the plug-in chooses from the card the first time its preview starts.
        // The version is stored all the same: the installation is complete.
        DebugEvent(__LINE__, TRACE_MESSAGE)
            .Report("InstallConfiguration() - No OpenGL context could be made on this display; the OpenGL setting "
                    "is left for the plug-in to choose when its preview first starts.");
        if (settings.optimizationSetting > OPTIMIZE_NONE) settings.optimizationSetting = OPTIMIZE_NOT_DETERMINED;
        ok = WriteOpenGLRegistryData(&settings);
        if (!ok) ReportUnexpected(__LINE__, "InstallConfiguration() - Failed to write OpenGL settings to registery.");
    }
    ReportBufferUsage();
    return ok;
}
