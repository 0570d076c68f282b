// Shader programs of the preview: which shader interface the context offers
// (core GLSL or the ARB shader objects), the GLSL version it reads, the one
// variant of each program that suits both, and switching the active program
// on and off around drawing.
//
// Programs are known by a small number, their program name; the system has
// one, program 1, which raises each channel of the bound texture to the
// display gamma. Everything here is process-wide state of the preview thread
// and works on the context current on the calling thread. OpenGL failures are
// logged under "Debug:  Unexpected Error"; none is ever shown to the user: a
// context without a usable shader simply has no selected variant, and the
// preview draws without one.
//
// Set-up order: DetermineShaderSupport; when it succeeds AddShaderProgram for
// the gamma list, CreateShaderProgram, MakeShaderProgramActive(1),
// SetProxyShaderGamma(1 / 2.2), MakeShaderProgramActive(0). Tear-down:
// DestroyAllShaderPrograms, while the same context is still current.
#pragma once

#include <cstdint>

#include "gl/gl_rules.h"

// The shader interface of the context.
enum ShaderExtensionType : uint32_t {
    SHADER_TYPE_NONE = 0,
    SHADER_TYPE_GLSL = 1,  // core OpenGL 2.0 entry points
    SHADER_TYPE_ARB = 2,   // GL_ARB_shader_objects entry points
};

// Bits of the shader-kind mask: which shader stages may be used.
constexpr uint32_t SHADER_KIND_VERTEX = 1u << 0;
constexpr uint32_t SHADER_KIND_FRAGMENT = 1u << 1;
constexpr uint32_t SHADER_KINDS_ALL = SHADER_KIND_VERTEX | SHADER_KIND_FRAGMENT;

// One shader's text and the objects compiled from it (0 when none). The
// records are static and outlive every context; the objects belong to the
// context that compiled them and are deleted by DestroyShaderProgram.
struct ShaderSource {
    uint32_t shaderType;   // GL_VERTEX_SHADER or GL_FRAGMENT_SHADER
    const char* source;
    int32_t sourceCount;   // number of source strings (1)
    uint32_t glslShader;   // GLSL shader object
    uint32_t arbShader;    // ARB shader object handle
};

// "Vertex Shader", "Fragment Shader" (also for the ARB program enumerants),
// else "Unknown Shader Type".
const char* ShaderKindText(uint32_t shaderType);

constexpr int SHADER_SLOTS = 2;

// One variant of a program, written for one shader interface and a range of
// GLSL versions. A program list is an array of variants of the same program
// in order of preference.
struct ShaderProgram {
    uint32_t programName;          // 1 for the gamma program
    uint32_t extensionType;        // the ShaderExtensionType it is written for
    GLSLVersion minimumVersion;    // -1 components: any
    GLSLVersion maximumVersion;    // -1 components: no bound
    ShaderSource* vertexShaders[SHADER_SLOTS];    // null slots are empty
    ShaderSource* fragmentShaders[SHADER_SLOTS];
    uint32_t glslProgram;          // GLSL program object, 0 when none
    uint32_t arbProgram;           // ARB program object handle, 0 when none
    bool created;                  // compiled and linked in the current context
    uint32_t variantNumber;        // 1-based place in its list, set on registration
};

// The gamma program's list (a GLSL variant, then an ARB one; both GLSL 1.10.0
// and up, one fragment shader, no vertex shader). Static: the caller neither
// frees nor copies it. *count receives the number of variants.
ShaderProgram* GammaProgramVariants(int* count);
// The gamma fragment shader's text.
extern const char* const kGammaFragmentShaderText;
// True when program 1 has a selected variant that is compiled and linked:
// the preview then corrects gamma on the card.
bool GammaShaderCreated();

// With UseShaderProgram(): GLSL on an OpenGL 2.0 context, else ARB on an
// OpenGL 1.5 context with GL_ARB_shading_language_100, _shader_objects,
// _vertex_shader and _fragment_shader. The type is kept and the kind mask set
// to both stages only when the GLSL version can be read too. Otherwise type
// and mask are 0 and the answer is false.
bool DetermineShaderSupport();
// Reads GL_SHADING_LANGUAGE_VERSION into the supported version. A context
// that offers the ARB language but not OpenGL 2.0 and refuses the query with
// GL_INVALID_ENUM has GLSL 1.0.0. False (version unknown, reported) when the
// query fails otherwise or the text does not start with two numbers.
bool GetSupportedGLSLVersion();

// Registers a program list (kept by pointer: it must outlive the
// registration), numbers its variants, and selects the first variant for the
// detected interface whose version range holds the supported version and
// whose stages are usable. True when a variant was selected.
bool AddShaderProgram(ShaderProgram* list, int count);
// Compiles and links program 1's selected variant in the current context and
// marks it created. False when there is none, or compiling or linking failed
// (the failed variant's objects are deleted).
bool CreateShaderProgram();
// 0: unbinds the active program, if any, and leaves none active (true, and no
// OpenGL call, when none was). Another name: binds that program's selected
// variant and makes it the active one. An unknown name, or one without a
// selected variant, is reported and fails; a variant not yet created fails
// without a report.
bool MakeShaderProgramActive(uint32_t programName);
// Sets GammaCorrection of the active program to (gamma, gamma, gamma, 1).
// Acts only when the active program is program 1's selected variant; true
// only when the value was set without an OpenGL error.
bool SetProxyShaderGamma(float gamma);
// Bind and unbind the active program's objects without changing which
// program is active. Binding fails when none is active.
bool BindActiveShaderProgram();
bool UnBindActiveShaderProgram();
// Deletes the variant's program and shader objects (through the detected
// interface, unbinding the program first when it is current) and clears
// `created`. The records stay for the next context.
void DestroyShaderProgram(ShaderProgram* variant);
// Destroys every registered variant and forgets the registrations, the
// selections and the active program.
void DestroyAllShaderPrograms();

// What DetermineShaderSupport found, and the current selections.
uint32_t ShaderExtensionTypeInUse();
uint32_t ShaderKindMask();
GLSLVersion SupportedGLSLVersion();
// Program `programName`'s selected variant; null when none.
ShaderProgram* SelectedShaderProgram(uint32_t programName);
// The variant last made active; null when none.
ShaderProgram* ActiveShaderProgram();

// Test hooks. A non-zero type replaces the interface DetermineShaderSupport
// detects (it still needs UseShaderProgram() and a readable version): Mesa
// offers both the core and the ARB entry points, so the ARB path runs for
// real. A non-null text, or a non-zero error, replaces what the version query
// answers (the error as if glGetError had raised it). nullptr, 0 restores.
void SetShaderExtensionTypeForTesting(uint32_t type);
void SetGLSLVersionStringForTesting(const char* text, uint32_t glError);
