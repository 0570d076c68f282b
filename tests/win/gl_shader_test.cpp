// The preview's shader programs on real contexts under Wine: the gamma
// program drawn through both shader interfaces, the rules that pick a
// variant, and the rules of the active program.
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <string>
#include <vector>

#include "gl/drawing_settings.h"
#include "gl/gl_context.h"
#include "gl/glew_table.h"
#include "gl/shader_programs.h"
#include "tests/test_support.h"

namespace {

const std::string kCaption = "'Debug:  Unexpected Error' - '";

// A hidden context with the drawing settings of `setting`; `pretend`, when
// given, is what the context reports about itself.
class ShaderContext {
public:
    explicit ShaderContext(uint32_t setting, const OpenGLCapabilities* pretend = nullptr) {
        ResetDrawingSettingsForTesting();
        OpenGLRegistry().optimizationSetting = setting;
        SetCapabilityOverrideForTesting(pretend);
        PIXELFORMATDESCRIPTOR descriptor;
        bool accelerated = true;
        open_ = CreateHiddenOpenGLContext(&context_, &descriptor, &accelerated);
        SetCapabilityOverrideForTesting(nullptr);
        if (open_) {
            SetGPUAccelerated(accelerated);
            open_ = accelerated && InitializeOpenGLDrawingSettings();
        }
    }
    ~ShaderContext() {
        DestroyAllShaderPrograms();
        SetShaderExtensionTypeForTesting(SHADER_TYPE_NONE);
        SetGLSLVersionStringForTesting(nullptr, 0);
        if (context_.type != OPENGL_CONTEXT_NONE) DestroyHiddenOpenGLContext(&context_);
        ResetDrawingSettingsForTesting();
    }
    bool open() const { return open_; }

private:
    OpenGLContext context_ = {};
    bool open_ = false;
};

// Draws an 8 x 1 RGBA8 texture with program 1 active into an 8 x 1 frame
// buffer, one fragment per texel, and reads the frame buffer back.
std::vector<uint8_t> DrawWithGammaProgram(const uint8_t* texels) {
    GLuint texture = 0, frameBuffer = 0, renderBuffer = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 8, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels);
    glGenRenderbuffers(1, &renderBuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, renderBuffer);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, 8, 1);
    glGenFramebuffers(1, &frameBuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, frameBuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, renderBuffer);
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    glViewport(0, 0, 8, 1);
    glMatrixMode(GL_PROJECTION), glLoadIdentity(), glMatrixMode(GL_MODELVIEW), glLoadIdentity();
    glDisable(GL_BLEND), glEnable(GL_TEXTURE_2D), glColor4f(1, 1, 1, 1);
    EXPECT_TRUE(MakeShaderProgramActive(1));
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0), glVertex2f(-1, -1);
    glTexCoord2f(1, 0), glVertex2f(1, -1);
    glTexCoord2f(1, 1), glVertex2f(1, 1);
    glTexCoord2f(0, 1), glVertex2f(-1, 1);
    glEnd();
    EXPECT_TRUE(MakeShaderProgramActive(0));
    std::vector<uint8_t> pixels(8 * 4, 0x5A);
    glReadPixels(0, 0, 8, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &frameBuffer);
    glDeleteRenderbuffers(1, &renderBuffer);
    glDeleteTextures(1, &texture);
    return pixels;
}

// The preview's set-up order, then a draw: red, green and blue come out
// raised to 1 / 2.2, alpha unchanged.
void ExpectDisplayGamma(uint32_t forcedType, uint32_t expectedType) {
    ShaderContext gl(OPTIMIZE_FOR_QUALITY);
    ASSERT_TRUE(gl.open());
    SetShaderExtensionTypeForTesting(forcedType);
    ASSERT_TRUE(DetermineShaderSupport());
    ASSERT_EQ(ShaderExtensionTypeInUse(), expectedType);
    int count = 0;
    ShaderProgram* list = GammaProgramVariants(&count);
    ASSERT_TRUE(AddShaderProgram(list, count));
    ShaderProgram* variant = SelectedShaderProgram(1);
    ASSERT_NE(variant, nullptr);
    EXPECT_EQ(variant->extensionType, expectedType);
    ASSERT_TRUE(CreateShaderProgram());
    EXPECT_TRUE(GammaShaderCreated());
    EXPECT_NE(expectedType == SHADER_TYPE_ARB ? variant->arbProgram : variant->glslProgram, 0u);
    ASSERT_TRUE(MakeShaderProgramActive(1));
    ASSERT_TRUE(SetProxyShaderGamma(1.0f / 2.2f));
    ASSERT_TRUE(MakeShaderProgramActive(0));

    const uint8_t values[8] = {0, 32, 64, 128, 200, 255, 16, 100};
    uint8_t texels[8 * 4];
    for (int i = 0; i < 8; ++i)
        for (int c = 0; c < 4; ++c) texels[i * 4 + c] = values[(i + c * 3) % 8];
    std::vector<uint8_t> pixels = DrawWithGammaProgram(texels);
    for (int i = 0; i < 8 * 4; ++i) {
        double v = texels[i] / 255.0;
        double expected = i % 4 == 3 ? texels[i] : std::round(255.0 * std::pow(v, 1.0 / 2.2));
        EXPECT_NEAR(pixels[i], expected, 1.0) << "texel " << i / 4 << " channel " << i % 4 << " from " << int(texels[i]);
    }
}

}  // namespace

TEST(ShaderGamma, GLSLProgramRaisesTextureToDisplayGamma) { ExpectDisplayGamma(SHADER_TYPE_NONE, SHADER_TYPE_GLSL); }

TEST(ShaderGamma, ARBProgramRaisesTextureToDisplayGamma) { ExpectDisplayGamma(SHADER_TYPE_ARB, SHADER_TYPE_ARB); }

TEST(ShaderVersionRules, OnlyQualityAndSpeedSettingsUseShaders) {
    const struct { uint32_t setting; bool shaders; } cases[] = {
        {OPTIMIZE_FOR_QUALITY, true}, {OPTIMIZE_FOR_SPEED, true}, {OPTIMIZE_FOR_COMPATIBILITY, false}, {OPTIMIZE_NONE, false}};
    for (const auto& c : cases) {
        ShaderContext gl(c.setting);
        ASSERT_TRUE(gl.open());
        EXPECT_EQ(DetermineShaderSupport(), c.shaders) << OptimizationSettingName(c.setting);
        EXPECT_EQ(ShaderKindMask(), c.shaders ? SHADER_KINDS_ALL : 0u);
        EXPECT_EQ(ShaderExtensionTypeInUse(), c.shaders ? SHADER_TYPE_GLSL : SHADER_TYPE_NONE);
    }
}

TEST(ShaderVersionRules, VersionFollowedByVendorTextSelectsGLSLVariant) {
    ShaderContext gl(OPTIMIZE_FOR_QUALITY);
    ASSERT_TRUE(gl.open());
    SetGLSLVersionStringForTesting("1.20 NVIDIA via Cg compiler", 0);
    ASSERT_TRUE(DetermineShaderSupport());
    GLSLVersion version = SupportedGLSLVersion();
    EXPECT_EQ(version.major * 10000 + version.minor * 100 + version.release, 12000);
    int count = 0;
    ShaderProgram* list = GammaProgramVariants(&count);
    EXPECT_TRUE(AddShaderProgram(list, count));
    EXPECT_EQ(SelectedShaderProgram(1), &list[0]);
}

TEST(ShaderVersionRules, FirstLanguageVersionIsBelowEveryVariant) {
    // An OpenGL 1.5 context with the ARB shading language that refuses the version query.
    OpenGLCapabilities old;
    old.vendorRead = true, old.vendor = "Mesa", old.renderer = "llvmpipe", old.version = "1.5 Mesa";
    old.version14 = old.version15 = true;
    old.arbShadingLanguage100 = old.arbShaderObjects = old.arbVertexShader = old.arbFragmentShader = true;
    ShaderContext gl(OPTIMIZE_FOR_QUALITY, &old);
    ASSERT_TRUE(gl.open());
    SetGLSLVersionStringForTesting(nullptr, GL_INVALID_ENUM);
    ASSERT_TRUE(DetermineShaderSupport());
    EXPECT_EQ(ShaderExtensionTypeInUse(), SHADER_TYPE_ARB);
    GLSLVersion version = SupportedGLSLVersion();
    EXPECT_EQ(version.major * 10000 + version.minor * 100 + version.release, 10000);
    int count = 0;
    ShaderProgram* list = GammaProgramVariants(&count);
    EXPECT_FALSE(AddShaderProgram(list, count));
    EXPECT_EQ(SelectedShaderProgram(1), nullptr);
    EXPECT_FALSE(CreateShaderProgram());
    EXPECT_FALSE(GammaShaderCreated());
}

TEST(ShaderVersionRules, UnreadableVersionMeansNoShaders) {
    ShaderContext gl(OPTIMIZE_FOR_QUALITY);
    ASSERT_TRUE(gl.open());
    CapturedReports reports;
    SetGLSLVersionStringForTesting("GLSL", 0);
    EXPECT_FALSE(DetermineShaderSupport());
    EXPECT_TRUE(reports.Contains(
        kCaption + "GetSupportedGLSLVersion() Failed to parse GLSL extension version information 'GLSL'.'"));
    // On an OpenGL 2.0 context a refused query is an error, not the first language version.
    SetGLSLVersionStringForTesting(nullptr, GL_INVALID_ENUM);
    EXPECT_FALSE(DetermineShaderSupport());
    EXPECT_TRUE(reports.Contains("GetSupportedGLSLVersion() Failed to get GLSL version string. OpenGL Error = 1280."));
    EXPECT_EQ(SupportedGLSLVersion().major, -1);
    EXPECT_EQ(ShaderExtensionTypeInUse(), SHADER_TYPE_NONE);
    int count = 0;
    ShaderProgram* list = GammaProgramVariants(&count);
    EXPECT_FALSE(AddShaderProgram(list, count));
}

TEST(ShaderStateRules, ActiveProgramFollowsSelectionCreationAndTearDown) {
    ShaderContext gl(OPTIMIZE_FOR_QUALITY);
    ASSERT_TRUE(gl.open());
    CapturedReports reports;
    EXPECT_TRUE(MakeShaderProgramActive(0));
    EXPECT_FALSE(SetProxyShaderGamma(0.5f));
    ASSERT_TRUE(DetermineShaderSupport());
    int count = 0;
    ShaderProgram* list = GammaProgramVariants(&count);
    ASSERT_TRUE(AddShaderProgram(list, count));
    EXPECT_FALSE(MakeShaderProgramActive(1));  // selected but not yet created: no report
    EXPECT_EQ(reports.Count(), 0u);
    EXPECT_FALSE(MakeShaderProgramActive(2));
    EXPECT_TRUE(reports.Contains(kCaption + "MakeShaderProgramActive() - Shader Program Name 2 is not recognized.'"));

    ASSERT_TRUE(CreateShaderProgram());
    const GLuint program = list[0].glslProgram;
    const GLuint shader = list[0].fragmentShaders[0]->glslShader;
    GLint current = -1;
    ASSERT_TRUE(MakeShaderProgramActive(1));
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ(static_cast<GLuint>(current), program);
    EXPECT_TRUE(MakeShaderProgramActive(0));
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ(current, 0);
    EXPECT_FALSE(SetProxyShaderGamma(0.5f));

    // Torn down while still bound: a program in use would only be flagged for deletion.
    ASSERT_TRUE(MakeShaderProgramActive(1));
    DestroyAllShaderPrograms();
    EXPECT_FALSE(glIsProgram(program));
    EXPECT_FALSE(glIsShader(shader));
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ(current, 0);
    EXPECT_FALSE(GammaShaderCreated());
    EXPECT_EQ(ActiveShaderProgram(), nullptr);
    EXPECT_EQ(SelectedShaderProgram(1), nullptr);
}

TEST(ShaderStateRules, ShaderThatDoesNotCompileIsReportedAndDeleted) {
    for (uint32_t type : {SHADER_TYPE_GLSL, SHADER_TYPE_ARB}) {
        ShaderSource broken = {GL_FRAGMENT_SHADER, "void main() { gl_FragColor = undeclared; }", 1, 0, 0};
        ShaderProgram list[1] = {{1, type, {1, 10, 0}, {-1, -1, -1}, {}, {&broken, nullptr}, 0, 0, false, 0}};
        ShaderContext gl(OPTIMIZE_FOR_QUALITY);
        ASSERT_TRUE(gl.open());
        SetShaderExtensionTypeForTesting(type);
        ASSERT_TRUE(DetermineShaderSupport());
        ASSERT_TRUE(AddShaderProgram(list, 1));
        CapturedReports reports;
        EXPECT_FALSE(CreateShaderProgram());
        const char* site = type == SHADER_TYPE_GLSL ? "CreateShaderGLSL()" : "CreateShaderARB()";
        EXPECT_TRUE(reports.Contains(kCaption + site + " - Fragment Shader failed to compile. Shader ID = "));
        EXPECT_TRUE(reports.Contains("Shader compilation Log: "));
        EXPECT_EQ(broken.glslShader + broken.arbShader, 0u);
        EXPECT_EQ(list[0].glslProgram + list[0].arbProgram, 0u);
        EXPECT_FALSE(list[0].created);
        EXPECT_FALSE(MakeShaderProgramActive(1));
        DestroyAllShaderPrograms();  // before `list` goes out of scope
    }
}
