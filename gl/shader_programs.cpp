#include "gl/shader_programs.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>

#include "gl/drawing_settings.h"
#include "gl/gl_check.h"
#include "gl/gl_context.h"
#include "gl/glew_table.h"
#include "support/debug_log.h"

const char* const kGammaFragmentShaderText =
    "uniform sampler2D tex;uniform vec4 GammaCorrection;void main()\n"
    "{\tvec4 color = texture2D(tex, gl_TexCoord[0].st);\tgl_FragColor = pow(color, GammaCorrection);}";

namespace {

// The gamma program: each variant has a source record of its own, so the
// objects of one interface never alias those of the other.
ShaderSource gGammaFragmentGLSL = {GL_FRAGMENT_SHADER, kGammaFragmentShaderText, 1, 0, 0};
ShaderSource gGammaFragmentARB = {GL_FRAGMENT_SHADER, kGammaFragmentShaderText, 1, 0, 0};

ShaderProgram gGammaVariants[] = {
    {1, SHADER_TYPE_GLSL, {1, 10, 0}, {-1, -1, -1}, {nullptr, nullptr}, {&gGammaFragmentGLSL, nullptr}, 0, 0, false, 0},
    {1, SHADER_TYPE_ARB, {1, 10, 0}, {-1, -1, -1}, {nullptr, nullptr}, {&gGammaFragmentARB, nullptr}, 0, 0, false, 0},
};
constexpr int kGammaProgramName = 1;

struct RegisteredList {
    ShaderProgram* list;
    int count;
};

uint32_t gType = SHADER_TYPE_NONE;
uint32_t gMask = 0;
GLSLVersion gVersion;
RegisteredList* gLists = nullptr;
int gListCount = 0;
ShaderProgram** gSelected = nullptr;  // indexed by program name
uint32_t gSelectedCount = 0;
ShaderProgram* gActive = nullptr;

uint32_t gForcedType = SHADER_TYPE_NONE;
const char* gForcedVersionText = nullptr;
uint32_t gForcedVersionError = 0;

// A failed creation call: an OpenGL error when one is pending, else a plain report.
void ReportCreationFailure(uint32_t line, const char* format, ...) __attribute__((format(printf, 2, 3)));
void ReportCreationFailure(uint32_t line, const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    uint32_t code = TakeOpenGLError();
    if (code)
        OpenGLDebugEvent(line, code).Report(OS_MB_ICONERROR, GL_CAPTION_UNEXPECTED, "%s", text);
    else
        ReportUnexpected(line, "%s", text);
}

bool HasFilledSlot(ShaderSource* const* slots) {
    for (int i = 0; i < SHADER_SLOTS; ++i)
        if (slots[i]) return true;
    return false;
}

// ---- GLSL ----

bool CreateShaderGLSL(ShaderSource* shader) {
    const char* kind = ShaderKindText(shader->shaderType);
    GLuint id = glCreateShader(shader->shaderType);
    if (!id) {
        ReportCreationFailure(__LINE__, "CreateShaderGLSL() - Failed to create %s program object.", kind);
        return false;
    }
    shader->glslShader = id;
    int shown = static_cast<int>(id);
    glShaderSource(id, shader->sourceCount, &shader->source, nullptr);
    if (!GL_OK("CreateShaderGLSL() - Failed to load %s source for shader ID %d.", kind, shown)) return false;
    glCompileShader(id);
    if (!GL_OK("CreateShaderGLSL() - Failed to compile %s source for shader ID %d.", kind, shown)) return false;
    GLint status = GL_FALSE, logLength = 0;
    glGetShaderiv(id, GL_COMPILE_STATUS, &status);
    glGetShaderiv(id, GL_INFO_LOG_LENGTH, &logLength);
    if (!GL_OK("CreateShaderGLSL() - Could not get %s compilation status for shader ID %d.", kind, shown)) return false;
    std::string log;
    if (logLength > 0) {
        log.assign(static_cast<size_t>(logLength), '\0');
        glGetShaderInfoLog(id, logLength, nullptr, &log[0]);
        GL_OK("CreateShaderGLSL() - Failed to get %s compilation log for shader ID %d.", kind, shown);
        log.resize(std::char_traits<char>::length(log.c_str()));
    }
    if (status != GL_TRUE) {
        ReportUnexpected(__LINE__, "CreateShaderGLSL() - %s failed to compile. Shader ID = %u.\nShader compilation Log: %s",
                         kind, static_cast<unsigned>(id), log.c_str());
        glDeleteShader(id);
        shader->glslShader = 0;
        TakeOpenGLError();
        return false;
    }
    return true;
}

bool CreateShaderProgramGLSL(ShaderProgram* variant) {
    const int name = static_cast<int>(variant->programName);
    GLuint program = glCreateProgram();
    if (!program) {
        ReportCreationFailure(__LINE__, "CreateShaderProgramGLSL() failed to create shader program %d", name);
        DestroyShaderProgram(variant);
        return false;
    }
    variant->glslProgram = program;
    bool ok = true;
    for (int i = 0; ok && i < SHADER_SLOTS; ++i) {
        ShaderSource* shader = variant->vertexShaders[i];
        if (!shader) continue;
        ok = CreateShaderGLSL(shader);
        if (ok) {
            glAttachShader(program, shader->glslShader);
            ok = GL_OK("CreateShaderProgramGLSL() failed to attach vertex shader %d to shader program %d",
                       static_cast<int>(shader->glslShader), name);
        }
    }
    for (int i = 0; ok && i < SHADER_SLOTS; ++i) {
        ShaderSource* shader = variant->fragmentShaders[i];
        if (!shader) continue;
        ok = CreateShaderGLSL(shader);
        if (ok) {
            glAttachShader(program, shader->glslShader);
            ok = GL_OK("CreateShaderProgramGLSL() failed to attach fragment shader %d to shader program %d",
                       static_cast<int>(shader->glslShader), name);
        }
    }
    if (ok) {
        glLinkProgram(program);
        ok = GL_OK("CreateShaderProgramGLSL() failed to link shader program %d", name);
    }
    if (ok) {
        GLint status = GL_FALSE, logLength = 0;
        glGetProgramiv(program, GL_LINK_STATUS, &status);
        glGetProgramiv(program, GL_INFO_LOG_LENGTH, &logLength);
        std::string log;
        if (logLength > 0) {
            log.assign(static_cast<size_t>(logLength), '\0');
            glGetProgramInfoLog(program, logLength, nullptr, &log[0]);
            log.resize(std::char_traits<char>::length(log.c_str()));
        }
        ok = GL_OK("CreateShaderProgramGLSL() Could not obtain link status for shader program %d", name);
        if (ok && status != GL_TRUE) {
            ReportUnexpected(__LINE__,
                             "CreateShaderProgramGLSL() - GLSL Shader Program %d, version %d failed to link. "
                             "Program ID = %u.\nProgram link log: %s",
                             name, static_cast<int>(variant->variantNumber), static_cast<unsigned>(program),
                             log.c_str());
            ok = false;
        }
    }
    if (!ok) DestroyShaderProgram(variant);
    return ok;
}

// ---- ARB shader objects ----

bool CreateShaderARB(ShaderSource* shader) {
    const char* kind = ShaderKindText(shader->shaderType);
    GLhandleARB handle = glCreateShaderObjectARB(shader->shaderType);
    if (!handle) {
        ReportCreationFailure(__LINE__, "CreateShaderARB() - Failed to create %s program object.", kind);
        return false;
    }
    shader->arbShader = handle;
    int shown = static_cast<int>(handle);
    glShaderSourceARB(handle, shader->sourceCount, &shader->source, nullptr);
    if (!GL_OK("CreateShaderARB() - Failed to load %s source for shader ID %d.", kind, shown)) return false;
    glCompileShaderARB(handle);
    if (!GL_OK("CreateShaderARB() - Failed to compile %s source for shader ID %d.", kind, shown)) return false;
    GLint status = GL_FALSE, logLength = 0;
    glGetObjectParameterivARB(handle, GL_OBJECT_COMPILE_STATUS_ARB, &status);
    glGetObjectParameterivARB(handle, GL_OBJECT_INFO_LOG_LENGTH_ARB, &logLength);
    if (!GL_OK("CreateShaderARB() - Could not get %s compilation status for shader ID %d.", kind, shown)) return false;
    std::string log;
    if (logLength > 0) {
        log.assign(static_cast<size_t>(logLength), '\0');
        glGetInfoLogARB(handle, logLength, nullptr, &log[0]);
        GL_OK("CreateShaderARB() - Failed to get %s compilation log for shader ID %d.", kind, shown);
        log.resize(std::char_traits<char>::length(log.c_str()));
    }
    if (status != GL_TRUE) {
        ReportUnexpected(__LINE__, "CreateShaderARB() - %s failed to compile. Shader ID = %u.\nShader compilation Log: %s",
                         kind, static_cast<unsigned>(handle), log.c_str());
        glDeleteObjectARB(handle);
        shader->arbShader = 0;
        TakeOpenGLError();
        return false;
    }
    return true;
}

bool CreateShaderProgramARB(ShaderProgram* variant) {
    const int name = static_cast<int>(variant->programName);
    GLhandleARB program = glCreateProgramObjectARB();
    if (!program) {
        ReportCreationFailure(__LINE__, "CreateShaderProgramARB() failed to create shader program %d", name);
        DestroyShaderProgram(variant);
        return false;
    }
    variant->arbProgram = program;
    bool ok = true;
    for (int i = 0; ok && i < SHADER_SLOTS; ++i) {
        ShaderSource* shader = variant->vertexShaders[i];
        if (!shader) continue;
        ok = CreateShaderARB(shader);
        if (ok) {
            glAttachObjectARB(program, shader->arbShader);
            ok = GL_OK("CreateShaderProgramARB() failed to attach vertex shader %d to shader program %d",
                       static_cast<int>(shader->arbShader), name);
        }
    }
    for (int i = 0; ok && i < SHADER_SLOTS; ++i) {
        ShaderSource* shader = variant->fragmentShaders[i];
        if (!shader) continue;
        ok = CreateShaderARB(shader);
        if (ok) {
            glAttachObjectARB(program, shader->arbShader);
            ok = GL_OK("CreateShaderProgramARB() failed to attach fragment shader %d to shader program %d",
                       static_cast<int>(shader->arbShader), name);
        }
    }
    if (ok) {
        glLinkProgramARB(program);
        ok = GL_OK("CreateShaderProgramARB() failed to link shader program %d", name);
    }
    if (ok) {
        GLint status = GL_FALSE, logLength = 0;
        glGetObjectParameterivARB(program, GL_OBJECT_LINK_STATUS_ARB, &status);
        glGetObjectParameterivARB(program, GL_OBJECT_INFO_LOG_LENGTH_ARB, &logLength);
        std::string log;
        if (logLength > 0) {
            log.assign(static_cast<size_t>(logLength), '\0');
            glGetInfoLogARB(program, logLength, nullptr, &log[0]);
            log.resize(std::char_traits<char>::length(log.c_str()));
        }
        ok = GL_OK("CreateShaderProgramARB() Could not obtain link status for shader program %d", name);
        if (ok && status != GL_TRUE) {
            ReportUnexpected(__LINE__,
                             "CreateShaderProgramARB() - EXT Shader Program %d, version %d failed to link. "
                             "Program Handle = %u.\nProgram link log: %s",
                             name, static_cast<int>(variant->variantNumber), static_cast<unsigned>(program),
                             log.c_str());
            ok = false;
        }
    }
    if (!ok) DestroyShaderProgram(variant);
    return ok;
}

}  // namespace

const char* ShaderKindText(uint32_t shaderType) {
    switch (shaderType) {
    case GL_VERTEX_SHADER:
    case GL_VERTEX_PROGRAM_ARB:
        return "Vertex Shader";
    case GL_FRAGMENT_SHADER:
    case GL_FRAGMENT_PROGRAM_ARB:
        return "Fragment Shader";
    default:
        return "Unknown Shader Type";
    }
}

ShaderProgram* GammaProgramVariants(int* count) {
    if (count) *count = static_cast<int>(sizeof(gGammaVariants) / sizeof(gGammaVariants[0]));
    return gGammaVariants;
}

bool GammaShaderCreated() {
    ShaderProgram* variant = SelectedShaderProgram(kGammaProgramName);
    return variant && variant->created;
}

uint32_t ShaderExtensionTypeInUse() { return gType; }
uint32_t ShaderKindMask() { return gMask; }
GLSLVersion SupportedGLSLVersion() { return gVersion; }
ShaderProgram* ActiveShaderProgram() { return gActive; }

ShaderProgram* SelectedShaderProgram(uint32_t programName) {
    return programName < gSelectedCount ? gSelected[programName] : nullptr;
}

void SetShaderExtensionTypeForTesting(uint32_t type) { gForcedType = type; }

void SetGLSLVersionStringForTesting(const char* text, uint32_t glError) {
    gForcedVersionText = text;
    gForcedVersionError = glError;
}

bool DetermineShaderSupport() {
    uint32_t type = SHADER_TYPE_NONE;
    gVersion = GLSLVersion();
    const OpenGLCapabilities* caps = CurrentOpenGLCapabilities();
    if (UseShaderProgram() && caps) {
        if (caps->version20)
            type = SHADER_TYPE_GLSL;
        else if (caps->version15 && caps->arbShadingLanguage100 && caps->arbShaderObjects && caps->arbVertexShader &&
                 caps->arbFragmentShader)
            type = SHADER_TYPE_ARB;
        if (gForcedType != SHADER_TYPE_NONE) type = gForcedType;
    }
    if (type != SHADER_TYPE_NONE && GetSupportedGLSLVersion()) {
        gType = type;
        gMask = SHADER_KINDS_ALL;
        return true;
    }
    gType = SHADER_TYPE_NONE;
    gMask = 0;
    return false;
}

bool GetSupportedGLSLVersion() {
    TakeOpenGLError();  // an older error must not pass for this query's
    const char* text = nullptr;
    uint32_t error = 0;
    if (gForcedVersionText || gForcedVersionError) {
        text = gForcedVersionText;
        error = gForcedVersionError;
    } else {
        text = reinterpret_cast<const char*>(glGetString(GL_SHADING_LANGUAGE_VERSION));
        error = TakeOpenGLError();
    }
    if (error == GL_INVALID_ENUM) {
        // The first language version predates the query.
        const OpenGLCapabilities* caps = CurrentOpenGLCapabilities();
        if (caps && caps->arbShadingLanguage100 && !caps->version20) {
            gVersion = {1, 0, 0};
            return true;
        }
    }
    if (error) {
        OpenGLDebugEvent(__LINE__, error)
            .Report(OS_MB_ICONERROR, GL_CAPTION_UNEXPECTED,
                    "GetSupportedGLSLVersion() Failed to get GLSL version string. OpenGL Error = %d.",
                    static_cast<int>(error));
        gVersion = GLSLVersion();
        return false;
    }
    if (!ParseGLSLVersion(text, &gVersion)) {
        ReportUnexpected(__LINE__, "GetSupportedGLSLVersion() Failed to parse GLSL extension version information '%s'.",
                         text ? text : "");
        gVersion = GLSLVersion();
        return false;
    }
    return true;
}

bool AddShaderProgram(ShaderProgram* list, int count) {
    if (!list || count <= 0) return false;
    auto* lists = static_cast<RegisteredList*>(std::realloc(gLists, sizeof(RegisteredList) * (gListCount + 1)));
    if (!lists) {
        ReportUnexpected(__LINE__, "AddShaderProgram() - Failed to create a new available program list.");
        return false;
    }
    gLists = lists;
    gLists[gListCount++] = {list, count};
    for (int i = 0; i < count; ++i) list[i].variantNumber = static_cast<uint32_t>(i + 1);

    const uint32_t name = list[0].programName;
    if (name + 1 > gSelectedCount) {
        auto* selected = static_cast<ShaderProgram**>(std::realloc(gSelected, sizeof(ShaderProgram*) * (name + 1)));
        if (!selected) {
            ReportUnexpected(__LINE__, "AddShaderProgram() - Failed to create a new selected version list.");
            return false;
        }
        for (uint32_t i = gSelectedCount; i <= name; ++i) selected[i] = nullptr;
        gSelected = selected;
        gSelectedCount = name + 1;
    }

    ShaderProgram* chosen = nullptr;
    if (gType != SHADER_TYPE_NONE && gMask != 0) {
        for (int i = 0; i < count && !chosen; ++i) {
            ShaderProgram* v = &list[i];
            if (v->extensionType != gType) continue;
            if (!GLSLVersionInRange(gVersion, v->minimumVersion, v->maximumVersion)) continue;
            if (HasFilledSlot(v->vertexShaders) && !(gMask & SHADER_KIND_VERTEX)) continue;
            if (HasFilledSlot(v->fragmentShaders) && !(gMask & SHADER_KIND_FRAGMENT)) continue;
            chosen = v;
        }
    }
    gSelected[name] = chosen;
    return chosen != nullptr;
}

bool CreateShaderProgram() {
    ShaderProgram* variant = SelectedShaderProgram(kGammaProgramName);
    bool created = false;
    if (variant) {
        switch (gType) {
        case SHADER_TYPE_GLSL:
            created = CreateShaderProgramGLSL(variant);
            break;
        case SHADER_TYPE_ARB:
            created = CreateShaderProgramARB(variant);
            break;
        default:
            ReportUnexpected(__LINE__, "CreateShaderProgram() - Extension type %d is not recognized.",
                             static_cast<int>(gType));
            break;
        }
        variant->created = created;
    }
    bool clean = GL_OK("CreateShaderProgram() - Failed to create shader program %d.", kGammaProgramName);
    return created && clean;
}

bool MakeShaderProgramActive(uint32_t programName) {
    if (programName == 0) {
        if (!gActive) return true;
        bool unbound = UnBindActiveShaderProgram();
        gActive = nullptr;
        bool clean = GL_OK("MakeShaderProgramActive() - Failed to activeate shader program %d.", 0);
        return unbound && clean;
    }
    ShaderProgram* variant = SelectedShaderProgram(programName);
    if (!variant) {
        ReportUnexpected(__LINE__, "MakeShaderProgramActive() - Shader Program Name %d is not recognized.",
                         static_cast<int>(programName));
        return false;
    }
    if (!variant->created) return false;
    gActive = variant;
    if (!BindActiveShaderProgram()) gActive = nullptr;
    bool clean =
        GL_OK("MakeShaderProgramActive() - Failed to activeate shader program %d.", static_cast<int>(programName));
    return gActive != nullptr && clean;
}

bool BindActiveShaderProgram() {
    if (!gActive) return false;
    bool bound = false;
    const int name = static_cast<int>(gActive->programName);
    switch (gType) {
    case SHADER_TYPE_GLSL:
        glUseProgram(gActive->glslProgram);
        bound = GL_OK("BindActiveShaderProgram() - Could not enable GLSL shader program %d.", name);
        break;
    case SHADER_TYPE_ARB:
        glUseProgramObjectARB(gActive->arbProgram);
        bound = GL_OK("BindActiveShaderProgram() - Could not enable ARB shader program %d.", name);
        break;
    case SHADER_TYPE_NONE:
        ReportUnexpected(__LINE__, "BindActiveShaderProgram() - No shader support is available.");
        break;
    default:
        ReportUnexpected(__LINE__, "BindActiveShaderProgram() - Shader extension type %d is not recognized.",
                         static_cast<int>(gType));
        break;
    }
    bool clean = GL_OK("BindActiveShaderProgram() - Failed to enable active shader program.");
    return bound && clean;
}

bool UnBindActiveShaderProgram() {
    switch (gType) {
    case SHADER_TYPE_GLSL:
        glUseProgram(0);
        return GL_OK("BindActiveShaderProgram() - Could not disable active GLSL shader program.");
    case SHADER_TYPE_ARB:
        glUseProgramObjectARB(0);
        return GL_OK("BindActiveShaderProgram() - Could not unbind active ARB shader program.");
    case SHADER_TYPE_NONE:
        ReportUnexpected(__LINE__, "UnBindActiveShaderProgram() - No shader support is available.");
        return false;
    default:
        ReportUnexpected(__LINE__, "UnBindActiveShaderProgram() - Shader extension type %d is not recognized.",
                         static_cast<int>(gType));
        return false;
    }
}

bool SetProxyShaderGamma(float gamma) {
    ShaderProgram* gammaVariant = SelectedShaderProgram(kGammaProgramName);
    if (!gActive || gActive != gammaVariant) return false;
    bool set = false;
    switch (gType) {
    case SHADER_TYPE_GLSL: {
        GLint location = glGetUniformLocation(gActive->glslProgram, "GammaCorrection");
        if (location < 0) {
            ReportUnexpected(__LINE__, "SetProxyShaderGamma() - An invalid variable name was specified.");
        } else {
            glUniform4f(location, gamma, gamma, gamma, 1.0f);
            set = true;
        }
        break;
    }
    case SHADER_TYPE_ARB: {
        GLint location = glGetUniformLocationARB(gActive->arbProgram, "GammaCorrection");
        if (location < 0) {
            ReportUnexpected(__LINE__, "SetProxyShaderGamma() - An invalid variable name was specified.");
        } else {
            glUniform4fARB(location, gamma, gamma, gamma, 1.0f);
            set = true;
        }
        break;
    }
    case SHADER_TYPE_NONE:
        ReportUnexpected(__LINE__, "SetProxyShaderGamma() - An invalid shader extension type was found.");
        break;
    default:
        ReportUnexpected(__LINE__, "SetProxyShaderGamma() - Shader extension type %d is not recognized.",
                         static_cast<int>(gType));
        break;
    }
    bool clean = GL_OK("SetProxyShaderGamma() - Failed to set Gamma Correction value.");
    return set && clean;
}

void DestroyShaderProgram(ShaderProgram* variant) {
    if (!variant) return;
    switch (gType) {
    case SHADER_TYPE_GLSL:
        if (variant->glslProgram) {
            GLint current = 0;
            glGetIntegerv(GL_CURRENT_PROGRAM, &current);
            if (static_cast<GLuint>(current) == variant->glslProgram) glUseProgram(0);
            glDeleteProgram(variant->glslProgram);
            variant->glslProgram = 0;
        }
        for (ShaderSource* const* slots : {variant->vertexShaders, variant->fragmentShaders})
            for (int i = 0; i < SHADER_SLOTS; ++i)
                if (slots[i] && slots[i]->glslShader) {
                    glDeleteShader(slots[i]->glslShader);
                    slots[i]->glslShader = 0;
                }
        GL_OK("DestroyShaderListGLSL() - Failed to destroy GLSL shader list.");
        break;
    case SHADER_TYPE_ARB:
        if (variant->arbProgram) {
            if (glGetHandleARB(GL_PROGRAM_OBJECT_ARB) == variant->arbProgram) glUseProgramObjectARB(0);
            glDeleteObjectARB(variant->arbProgram);
            variant->arbProgram = 0;
        }
        for (ShaderSource* const* slots : {variant->vertexShaders, variant->fragmentShaders})
            for (int i = 0; i < SHADER_SLOTS; ++i)
                if (slots[i] && slots[i]->arbShader) {
                    glDeleteObjectARB(slots[i]->arbShader);
                    slots[i]->arbShader = 0;
                }
        GL_OK("DestroyShaderListARB() - Failed to destroy EXT shader list.");
        break;
    case SHADER_TYPE_NONE:
        ReportUnexpected(__LINE__, "DestroyShaderProgram() - Extension type SHADER_TYPE_NONE is not valid for this function.");
        break;
    default:
        ReportUnexpected(__LINE__, "DestroyShaderProgram() - Extension type %d is not recognized.",
                         static_cast<int>(gType));
        break;
    }
    variant->created = false;
    if (gActive == variant) gActive = nullptr;  // its objects are gone
    GL_OK("DestroyShaderProgram() - Failed to destroy shader program.");
}

void DestroyAllShaderPrograms() {
    for (int l = 0; l < gListCount; ++l)
        for (int i = 0; i < gLists[l].count; ++i) DestroyShaderProgram(&gLists[l].list[i]);
    std::free(gLists);
    gLists = nullptr;
    gListCount = 0;
    std::free(gSelected);
    gSelected = nullptr;
    gSelectedCount = 0;
    gActive = nullptr;
}
