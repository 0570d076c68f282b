// The process-wide drawing settings of the preview: the stored optimisation
// setting, what the preview context may use (gl_rules.h), and the internal
// texture formats that really hold 8-, 16- and 32-bit colour on this card.
// Set once per preview context on the preview thread; read-only afterwards.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "gl/gl_rules.h"

struct OpenGLRegistrySettings {
    std::string installedProductVersion;
    uint32_t optimizationSetting = OPTIMIZE_NOT_DETERMINED;
    uint32_t lastStoredSetting = OPTIMIZE_NOT_DETERMINED;  // as last read or written
};

// The settings of the current preview context (and their predicates).
const DrawingSettings& CurrentDrawingSettings();
bool UseOffscreenBitmap();
bool UseShaderProgram();
bool UseVertexBufferObjects();
bool UseFrameBufferObjects();
bool UsePixelBufferObjects();
bool MustUsePowerOfTwoSizedTextures();
bool GPUAccelerated();
uint32_t OpenGLVendorClass();
uint32_t OpenGLOptimizationSetting();
// The version number shown by the About box ("4.5").
const std::string& OpenGLVersionNumber();
// The selected formats; before the characterisation, and when it ended early,
// BasicTextureFormat() for all three.
const TextureFormat& TextureFormat8();
const TextureFormat& TextureFormat16();
const TextureFormat& TextureFormat32();

// The stored setting, read at plug-in start (0 when it cannot be read).
bool LoadOpenGLDrawingSettings();
// Records the pixel format's acceleration (SelectPixelFormat's answer).
void SetGPUAccelerated(bool accelerated);
// With the preview context current: chooses and stores the setting when it is
// 0, derives the drawing settings, logs them, and characterises the formats.
// False (with the capability message and result -50) when not even an 8-bit
// format works.
bool InitializeOpenGLDrawingSettings();
// The texture-format trials (with the current context).
bool CharacterizeBestFormats();
// Setting 0 resolved for the current context (see ChooseOptimizationSetting).
uint32_t ChooseDefaultOptimizationSetting(bool accelerated);

// Registry: HKLM\Software\Corvane Software\RaylumePro\2.0\OpenGLSettings
// holds the machine's setting (the installer's characterisation) and the
// product version. The same key under HKCU may hold the user's own setting
// (the Options dialog's choice), which the plug-in reads first.
// `withUserChoice` false reads the machine's setting alone.
bool ReadOpenGLRegistryData(OpenGLRegistrySettings* settings, bool withUserChoice = true);
// Writes the machine's setting and version (the installer's step).
bool WriteOpenGLRegistryData(OpenGLRegistrySettings* settings);
// The Options dialog's choice: stored for this user, and for the machine too
// where this user may write its key (`forEveryUser` says whether it was). A
// user without administrator rights so keeps the choice. False, reported,
// when it could be stored nowhere.
bool StoreOpenGLSettingChoice(OpenGLRegistrySettings* settings, bool* forEveryUser);
// The process's copy, read by LoadOpenGLDrawingSettings.
OpenGLRegistrySettings& OpenGLRegistry();

// The installer's characterisation: a hidden context preferring acceleration,
// the stored setting kept (1-3 only when accelerated, else 4) or chosen, and
// the product version recorded. The caller opens and closes the log.
bool ConfigureOpenGLInstallation(const char* productVersion);

// Test hooks: another registry key (under HKCU) for the settings, and a reset
// of the process-wide settings.
void SetOpenGLRegistryKeyForTesting(const char* subKey);
// The machine's key refuses writes, as it does to a user without administrator rights.
void SetOpenGLMachineKeyReadOnlyForTesting(bool readOnly);
void ResetDrawingSettingsForTesting();
