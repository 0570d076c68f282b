#include "gl/gl_context.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "gl/gl_check.h"
#include "gl/glew_table.h"
#include "gl/screen_bitmap.h"
#include "image/tracked_buffer.h"
#include "support/debug_log.h"

// ---------------------------------------------------------------------------
// GLEW tables
// ---------------------------------------------------------------------------
namespace {

struct GlewDescriptor {
    HGLRC renderingContext;     // null: free
    TrackedBuffer table;        // a GLEWContext; kept for reuse when free
    OpenGLCapabilities capabilities;
};
GlewDescriptor gGlewDescriptors[GLEW_CONTEXT_SLOTS];

// Bumped whenever a descriptor changes, so the per-thread lookups refresh.
std::atomic<uint32_t> gGlewGeneration{1};
thread_local HGLRC tCachedContext = nullptr;
thread_local GLEWContext* tCachedTable = nullptr;
thread_local uint32_t tCachedGeneration = 0;
// While glewInit fills a table, lookups on this thread answer that table.
thread_local GLEWContext* tFillingTable = nullptr;

// Every entry of the fallback table (and every entry a driver did not give)
// does nothing and answers 0: a stray call cannot jump to address 0. On x64
// the caller cleans up its arguments, so any signature may call it.
intptr_t NoOpenGLEntry() { return 0; }

void FillMissingEntries(GLEWContext* table) {
    void** entry = reinterpret_cast<void**>(table);
    for (size_t i = 0; i < sizeof(GLEWContext) / sizeof(void*); ++i)
        if (!entry[i]) entry[i] = reinterpret_cast<void*>(&NoOpenGLEntry);
}

GLEWContext* FallbackTable() {
    static GLEWContext* table = [] {
        static GLEWContext storage;
        std::memset(&storage, 0, sizeof(storage));
        FillMissingEntries(&storage);
        return &storage;
    }();
    return table;
}

std::atomic<bool> gReportedMissingTable{false};

GlewDescriptor* FindDescriptor(HGLRC context) {
    if (!context) return nullptr;
    for (auto& d : gGlewDescriptors)
        if (d.renderingContext == context) return &d;
    return nullptr;
}

const OpenGLCapabilities* gCapabilityOverride = nullptr;
bool gHideHardwareFormats = false;
bool gHiddenWindowRefused = false;

OpenGLCapabilities ReadCapabilities() {
    OpenGLCapabilities caps;
    auto text = [](GLenum name) {
        const GLubyte* s = glGetString(name);
        return s ? std::string(reinterpret_cast<const char*>(s)) : std::string();
    };
    caps.vendorRead = glGetString(GL_VENDOR) != nullptr;
    caps.vendor = text(GL_VENDOR);
    caps.renderer = text(GL_RENDERER);
    caps.version = text(GL_VERSION);
    // GLEW's flags are process-wide: right after glewInit they describe this context.
    caps.version14 = GLEW_VERSION_1_4;
    caps.version15 = GLEW_VERSION_1_5;
    caps.version20 = GLEW_VERSION_2_0;
    caps.version21 = GLEW_VERSION_2_1;
    caps.version30 = GLEW_VERSION_3_0;
    caps.arbVertexBufferObject = GLEW_ARB_vertex_buffer_object;
    caps.arbFramebufferObject = GLEW_ARB_framebuffer_object;
    caps.arbPixelBufferObject = GLEW_ARB_pixel_buffer_object;
    caps.arbTextureNonPowerOfTwo = GLEW_ARB_texture_non_power_of_two;
    caps.nvFloatBuffer = GLEW_NV_float_buffer;
    caps.atiTextureFloat = GLEW_ATI_texture_float;
    caps.arbShadingLanguage100 = GLEW_ARB_shading_language_100;
    caps.arbShaderObjects = GLEW_ARB_shader_objects;
    caps.arbVertexShader = GLEW_ARB_vertex_shader;
    caps.arbFragmentShader = GLEW_ARB_fragment_shader;
    TakeOpenGLError();
    return caps;
}

}  // namespace

extern "C" GLEWContext* glewGetContext(void) {
    if (tFillingTable) return tFillingTable;
    HGLRC current = wglGetCurrentContext();
    uint32_t generation = gGlewGeneration.load(std::memory_order_acquire);
    if (current && current == tCachedContext && generation == tCachedGeneration) return tCachedTable;
    GlewDescriptor* d = FindDescriptor(current);
    if (!d) {
        if (!gReportedMissingTable.exchange(true)) {
            if (!current)
                ReportUnexpected(__LINE__, "glewGetContext() - Failed to obtain OpenGL rendering context from current context.");
            else
                ReportUnexpected(__LINE__,
                                 "glewGetContext() - Failed to find GLEW context descriptor for OpenGL current context 0x%X.",
                                 static_cast<unsigned>(reinterpret_cast<uintptr_t>(current)));
        }
        return FallbackTable();
    }
    tCachedContext = current;
    tCachedTable = static_cast<GLEWContext*>(d->table.pointer);
    tCachedGeneration = generation;
    return tCachedTable;
}

bool CreateGLEWContext() {
    HGLRC current = wglGetCurrentContext();
    if (!current) {
        ReportUnexpected(__LINE__, "CreateGLEWContext() - Failed to obtain OpenGL rendering context from current context.");
        return false;
    }
    if (FindDescriptor(current)) {
        ReportUnexpected(__LINE__, "CreateGLEWContext() - A GLEW context for OpenGL rendering context 0x%X already exists.",
                         static_cast<unsigned>(reinterpret_cast<uintptr_t>(current)));
        return false;
    }
    GlewDescriptor* d = nullptr;
    for (auto& slot : gGlewDescriptors)
        if (!slot.renderingContext) {
            d = &slot;
            break;
        }
    if (!d) {
        ReportUnexpected(__LINE__, "CreateGLEWContext() - The GLEW context descriptor array is full.");
        return false;
    }
    if (d->table.size < sizeof(GLEWContext) && ReallocateBuffer(sizeof(GLEWContext), &d->table) != 0) {
        ReportUnexpected(__LINE__, "CreateGLEWContext() - Can't allocate memory for GLEW context.");
        return false;
    }
    auto* table = static_cast<GLEWContext*>(d->table.pointer);
    std::memset(table, 0, sizeof(GLEWContext));
    tFillingTable = table;
    GLenum status = glewInit();
    OpenGLCapabilities caps = status == GLEW_OK ? ReadCapabilities() : OpenGLCapabilities();
    tFillingTable = nullptr;
    if (status != GLEW_OK) {
        ReportUnexpected(__LINE__, "CreateGLEWContext() - The GLEW context could not be initialized. Error = '%s'.",
                         reinterpret_cast<const char*>(glewGetErrorString(status)));
        return false;
    }
    FillMissingEntries(table);
    if (gCapabilityOverride) caps = *gCapabilityOverride;
    d->capabilities = caps;
    d->renderingContext = current;
    gGlewGeneration.fetch_add(1, std::memory_order_acq_rel);
    return true;
}

void DeleteGLEWContext(HGLRC renderingContext) {
    GlewDescriptor* d = FindDescriptor(renderingContext);
    if (!d) {
        ReportUnexpected(__LINE__, "DeleteGLEWContext() - Failed to obtain GLEW context for OpenGL rendering context 0x%X.",
                         static_cast<unsigned>(reinterpret_cast<uintptr_t>(renderingContext)));
        return;
    }
    DeallocateBuffer(&d->table);
    d->renderingContext = nullptr;
    d->capabilities = OpenGLCapabilities();
    gGlewGeneration.fetch_add(1, std::memory_order_acq_rel);
}

int CountGLEWContexts() {
    int count = 0;
    for (const auto& d : gGlewDescriptors) count += d.renderingContext != nullptr;
    return count;
}

const OpenGLCapabilities* CurrentOpenGLCapabilities() {
    GlewDescriptor* d = FindDescriptor(wglGetCurrentContext());
    return d ? &d->capabilities : nullptr;
}

void SetCapabilityOverrideForTesting(const OpenGLCapabilities* override) { gCapabilityOverride = override; }
void SetHardwarePixelFormatsHiddenForTesting(bool hidden) { gHideHardwareFormats = hidden; }
void SetHiddenWindowRefusedForTesting(bool refused) { gHiddenWindowRefused = refused; }

// ---------------------------------------------------------------------------
// Pixel formats and contexts
// ---------------------------------------------------------------------------

int SelectPixelFormat(HWND window, bool softwareOnly, PIXELFORMATDESCRIPTOR* descriptor, bool* accelerated) {
    *accelerated = false;
    HDC dc = GetDC(window);
    if (!dc) {
        ReportSystemError(__LINE__, "Failed while enumerating Device Context 0x%X.", 0u);
        return 0;
    }
    DebugEvent(__LINE__, TRACE_MESSAGE).Report("Getting number of pixel formats.");
    PIXELFORMATDESCRIPTOR pfd = {};
    int count = DescribePixelFormat(dc, 1, sizeof(pfd), nullptr);
    if (count <= 0) {
        ReportSystemError(__LINE__, "Can't obtain the number of pixel formats available.");
        ReleaseDC(window, dc);
        return 0;
    }
    int hardware = 0, software = 0;
    PIXELFORMATDESCRIPTOR hardwareDescriptor = {}, softwareDescriptor = {};
    for (int index = 1; index <= count; ++index) {
        if (!DescribePixelFormat(dc, index, sizeof(pfd), &pfd)) {
            ReportSystemError(__LINE__, "Failed while enumerating Device Context 0x%X.",
                              static_cast<unsigned>(reinterpret_cast<uintptr_t>(dc)));
            break;
        }
        bool candidate = (pfd.dwFlags & PFD_SUPPORT_OPENGL) &&
                         !(pfd.dwFlags & (PFD_NEED_PALETTE | PFD_NEED_SYSTEM_PALETTE)) &&
                         pfd.iPixelType == PFD_TYPE_RGBA && pfd.cColorBits == 32 && pfd.cAlphaBits != 0;
        if (!candidate) continue;
        bool generic = pfd.dwFlags & PFD_GENERIC_FORMAT;
        bool genericAccelerated = pfd.dwFlags & PFD_GENERIC_ACCELERATED;
        if (!hardware && !softwareOnly && !gHideHardwareFormats && !generic && !genericAccelerated &&
            (pfd.dwFlags & PFD_DRAW_TO_WINDOW) && (pfd.dwFlags & PFD_DOUBLEBUFFER)) {
            hardware = index;
            hardwareDescriptor = pfd;
        }
        if (!software && generic && !genericAccelerated && (pfd.dwFlags & PFD_DRAW_TO_BITMAP) &&
            (pfd.dwFlags & PFD_SUPPORT_GDI) && !(pfd.dwFlags & PFD_DOUBLEBUFFER)) {
            software = index;
            softwareDescriptor = pfd;
        }
    }
    ReleaseDC(window, dc);
    int chosen = hardware ? hardware : software;
    *accelerated = hardware != 0;
    *descriptor = hardware ? hardwareDescriptor : softwareDescriptor;
    if (!chosen) {
        ReportSystemError(__LINE__, "Failed to find any match for the requested window pixel format.");
        return 0;
    }
    DebugEvent(__LINE__, TRACE_MESSAGE)
        .Report("Selected pixel format = %d, GPU Acceleration = %s.", chosen, *accelerated ? "Yes" : "No");
    return chosen;
}

bool SetGLSize(const RECT& client) {
    GLsizei width = client.right - client.left, height = client.bottom - client.top;
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0.0, width, height, 0.0, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    return GL_OK("OpenGL Function Failed in SetGLSize(). Viewport Width = %d, Viewport Height = %d.", width, height);
}

namespace {

enum ContextKind { SCREEN, BACKGROUND_BITMAP, OWN_BITMAP };
const char* ContextFunctionName(ContextKind kind) {
    return kind == SCREEN ? "CreateScreenContext" : kind == BACKGROUND_BITMAP ? "CreateBitmapContext"
                                                                               : "CreateBitmapContextWithBitmap";
}

// Undoes a half-made context.
void DiscardContext(ContextKind kind, HWND window, HDC dc, HGLRC rc, HBITMAP ownBitmap) {
    if (rc) {
        if (wglGetCurrentContext() == rc) wglMakeCurrent(nullptr, nullptr);
        if (FindDescriptor(rc)) DeleteGLEWContext(rc);
        wglDeleteContext(rc);
    }
    if (kind == SCREEN) {
        if (dc) ReleaseDC(window, dc);
        return;
    }
    if (dc) {
        if (kind == BACKGROUND_BITMAP && BackScreenBitmap()->attachedTo == dc) DetachBackgroundBitmap(dc);
        DeleteDC(dc);
    }
    if (ownBitmap) DeleteObject(ownBitmap);
}

bool MakeContext(ContextKind kind, OpenGLContext* context, HWND window, const RECT& client, int pixelFormat,
                 const PIXELFORMATDESCRIPTOR& descriptor) {
    std::memset(context, 0, sizeof(*context));
    const char* name = ContextFunctionName(kind);
    HDC dc = nullptr;
    HBITMAP ownBitmap = nullptr;
    void* bits = nullptr;
    BITMAPV5HEADER header = {};
    int32_t width = client.right - client.left, height = client.bottom - client.top;

    HDC windowDC = GetDC(window);
    if (!windowDC) {
        if (kind == SCREEN)
            ReportSystemError(__LINE__, "CreateScreenContext() - Failed to get Proxy Window device context.");
        else if (kind == BACKGROUND_BITMAP)
            ReportSystemError(__LINE__, "CreateBitmapContext() - Failed to get Proxy Window device context.");
        else
            ReportSystemError(__LINE__, "CreateBitmapContextWithBitmap() - Failed to get window device context.");
        return false;
    }
    if (kind == SCREEN) {
        dc = windowDC;
    } else {
        dc = CreateCompatibleDC(windowDC);
        ReleaseDC(window, windowDC);
        if (!dc) {
            ReportSystemError(__LINE__, "%s() - Failed to create compatible device context.", name);
            return false;
        }
        if (kind == BACKGROUND_BITMAP) {
            // The preview's background bitmap is made for this rectangle and selected here.
            if (BackScreenBitmap()->attachedTo) DetachBackgroundBitmap(BackScreenBitmap()->attachedTo);
            if (!CreateScreenBitmap(client, dc) || !AttachBackgroundBitmap(dc)) {
                DiscardContext(kind, window, dc, nullptr, nullptr);
                return false;
            }
        } else {
            header.bV5Size = sizeof(header);
            header.bV5Width = width > 0 ? width : 1;
            header.bV5Height = height > 0 ? height : 1;  // positive: bottom-up rows
            header.bV5Planes = 1;
            header.bV5BitCount = 32;
            header.bV5Compression = BI_RGB;
            header.bV5CSType = 0x57696E20;  // LCS_WINDOWS_COLOR_SPACE
            header.bV5Intent = LCS_GM_IMAGES;
            ownBitmap = CreateDIBSection(dc, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
            if (!ownBitmap) {
                ReportSystemError(__LINE__, "Failed to create new context bitmap");
                ReportSystemError(__LINE__, "CreateBitmapContextWithBitmap() - Failed to create context bitmap.");
                DiscardContext(kind, window, dc, nullptr, nullptr);
                return false;
            }
            if (!SelectObject(dc, ownBitmap)) {
                ReportSystemError(__LINE__,
                                  "AttachBackgroundBitmap() - Could not attach background bitmap to the device context.");
                DiscardContext(kind, window, dc, nullptr, ownBitmap);
                return false;
            }
        }
    }
    // A window keeps the format it was given first; set it only once.
    if (GetPixelFormat(dc) != pixelFormat && !SetPixelFormat(dc, pixelFormat, &descriptor)) {
        ReportSystemError(__LINE__, "%s():  Could not SetPixelFormat for OpenGL use.", name);
        DiscardContext(kind, window, dc, nullptr, ownBitmap);
        return false;
    }
    HGLRC rc = wglCreateContext(dc);
    if (!rc) {
        ReportSystemError(__LINE__, "%s() - Failed to create OpenGL context.", name);
        DiscardContext(kind, window, dc, nullptr, ownBitmap);
        return false;
    }
    if (!wglMakeCurrent(dc, rc)) {
        ReportSystemError(__LINE__, "%s() - Failed to make OpenGL context current.", name);
        DiscardContext(kind, window, dc, rc, ownBitmap);
        return false;
    }
    if (!CreateGLEWContext()) {
        DiscardContext(kind, window, dc, rc, ownBitmap);
        return false;
    }
    SetGLSize(client);
    if (!CheckOpenGL(__LINE__, GL_CAPTION_UNEXPECTED, "CreateScreenContext() - Failed to set OpenGL viewport.")) {
        DiscardContext(kind, window, dc, rc, ownBitmap);
        return false;
    }
    context->type = kind == SCREEN ? OPENGL_CONTEXT_WINDOW : OPENGL_CONTEXT_BITMAP;
    context->window = window;
    context->deviceContext = dc;
    context->renderingContext = rc;
    if (kind == OWN_BITMAP) {
        context->bitmapHeader = header;
        context->bitmapBits = bits;
        context->bitmap = ownBitmap;
    } else if (kind == BACKGROUND_BITMAP) {
        context->bitmapHeader = BackScreenBitmap()->header;
        context->bitmapBits = BackScreenBitmap()->bits;
    }
    if (kind != SCREEN) {
        context->bitmapRect = {0, 0, width, height};
        context->bitmapWidth = width;
        context->bitmapHeight = height;
    }
    LogOpenGLImplementation(rc);
    return true;
}

}  // namespace

bool CreateScreenContext(OpenGLContext* context, HWND window, const RECT& client, int pixelFormat,
                         const PIXELFORMATDESCRIPTOR& descriptor) {
    return MakeContext(SCREEN, context, window, client, pixelFormat, descriptor);
}

bool CreateBitmapContext(OpenGLContext* context, HWND window, const RECT& client, int pixelFormat,
                         const PIXELFORMATDESCRIPTOR& descriptor) {
    return MakeContext(BACKGROUND_BITMAP, context, window, client, pixelFormat, descriptor);
}

bool CreateBitmapContextWithBitmap(OpenGLContext* context, HWND window, const RECT& client, int pixelFormat,
                                   const PIXELFORMATDESCRIPTOR& descriptor) {
    return MakeContext(OWN_BITMAP, context, window, client, pixelFormat, descriptor);
}

void ReleaseOpenGLContext(OpenGLContext* context) {
    if (!context || !context->renderingContext || !context->deviceContext) {
        ReportUnexpected(__LINE__, "ReleaseOpenGLContext() - Invalid OpenGLContext specified.");
        if (context) context->type = OPENGL_CONTEXT_NONE;
        return;
    }
    if (context->type != OPENGL_CONTEXT_WINDOW && context->type != OPENGL_CONTEXT_BITMAP) {
        ReportUnexpected(__LINE__, "ReleaseOpenGLContext() - Unrecognized OpenGLContext type specified, Type = %d.",
                         static_cast<int>(context->type));
        return;
    }
    if (wglGetCurrentContext() == context->renderingContext && wglGetCurrentDC() == context->deviceContext &&
        !wglMakeCurrent(nullptr, nullptr))
        ReportSystemError(__LINE__, "ReleaseOpenGLContext() - Failed to release OpenGL rendering context 0x%X.",
                          static_cast<unsigned>(reinterpret_cast<uintptr_t>(context->renderingContext)));
    DeleteGLEWContext(context->renderingContext);
    if (!wglDeleteContext(context->renderingContext))
        ReportSystemError(__LINE__, "ReleaseOpenGLContext() - Failed to delete OpenGL context 0x%X.",
                          static_cast<unsigned>(reinterpret_cast<uintptr_t>(context->renderingContext)));
    if (context->type == OPENGL_CONTEXT_WINDOW) {
        if (!ReleaseDC(context->window, context->deviceContext))
            ReportSystemError(__LINE__,
                              "ReleaseOpenGLContext() - Failed to release screen device context 0x%X belonging to window 0x%X.",
                              static_cast<unsigned>(reinterpret_cast<uintptr_t>(context->deviceContext)),
                              static_cast<unsigned>(reinterpret_cast<uintptr_t>(context->window)));
    } else {
        if (!context->bitmap && BackScreenBitmap()->attachedTo == context->deviceContext)
            DetachBackgroundBitmap(context->deviceContext);
        if (!DeleteDC(context->deviceContext))
            ReportSystemError(__LINE__, "ReleaseOpenGLContext() - Failed to delete bitmap device context 0x%X.",
                              static_cast<unsigned>(reinterpret_cast<uintptr_t>(context->deviceContext)));
        if (context->bitmap) DeleteObject(context->bitmap);
    }
    context->bitmap = nullptr;
    context->bitmapBits = nullptr;
    context->renderingContext = nullptr;
    context->deviceContext = nullptr;
    context->type = OPENGL_CONTEXT_NONE;
}

// ---------------------------------------------------------------------------
// Hidden window and context
// ---------------------------------------------------------------------------
namespace {
const char kHiddenWindowClass[] = "CVHideWnd";
int gHiddenWindowCount = 0;

HINSTANCE ModuleInstance() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ModuleInstance), &module);
    return module;
}
}  // namespace

HWND CreateHiddenWindow() {
    if (gHiddenWindowRefused) return nullptr;  // as on a machine without a display
    HINSTANCE instance = ModuleInstance();
    if (gHiddenWindowCount == 0) {
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof(wc);
        wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS | CS_OWNDC;
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        wc.lpszClassName = kHiddenWindowClass;
        if (!RegisterClassExA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
            ReportSystemError(__LINE__, "CreateHiddenWindow() - Failed to register hidden window class.");
            return nullptr;
        }
    }
    HWND window = CreateWindowExA(0, kHiddenWindowClass, "", WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, 16,
                                  16, nullptr, nullptr, instance, nullptr);
    if (!window) {
        ReportSystemError(__LINE__, "CreateHiddenWindow() - Failed to create hidden window.");
        if (gHiddenWindowCount == 0 && !UnregisterClassA(kHiddenWindowClass, instance))
            ReportSystemError(__LINE__,
                              "CreateHiddenWindow() - Failed to unregister hidden window class after another error occurred.");
        return nullptr;
    }
    ++gHiddenWindowCount;
    return window;
}

bool DestroyHiddenWindow(HWND window) {
    bool ok = true;
    if (!DestroyWindow(window)) {
        ReportSystemError(__LINE__, "DestroyHiddenWindow() - Failed to destroy hidden window.");
        ok = false;
    } else if (gHiddenWindowCount > 0 && --gHiddenWindowCount == 0 &&
               !UnregisterClassA(kHiddenWindowClass, ModuleInstance())) {
        ReportSystemError(__LINE__, "DestroyHiddenWindow() - Failed to unregister hidden window class.");
        ok = false;
    }
    return ok;
}

bool CreateHiddenOpenGLContext(OpenGLContext* context, PIXELFORMATDESCRIPTOR* descriptor, bool* accelerated) {
    std::memset(context, 0, sizeof(*context));
    DebugEvent(__LINE__, TRACE_MESSAGE).Report("CreateHiddenWindow()");
    HWND window = CreateHiddenWindow();
    if (!window) {
        ReportUnexpected(__LINE__, "CreateHiddenOpenGLContext() - Failed to create a hidden window for context.");
        return false;
    }
    DebugEvent(__LINE__, TRACE_MESSAGE).Report("SelectPixelFormat()");
    int format = SelectPixelFormat(window, !*accelerated, descriptor, accelerated);
    if (!format) {
        ReportUnexpected(__LINE__, "CreateHiddenOpenGLContext() - Could not select an acceptable pixel format.");
        DestroyHiddenWindow(window);
        return false;
    }
    RECT client = {0, 0, 16, 16};
    bool made;
    if (*accelerated) {
        DebugEvent(__LINE__, TRACE_MESSAGE).Report("CreateScreenContext()");
        made = CreateScreenContext(context, window, client, format, *descriptor);
    } else {
        DebugEvent(__LINE__, TRACE_MESSAGE).Report("CreateBitmapContextWithBitmap()");
        made = CreateBitmapContextWithBitmap(context, window, client, format, *descriptor);
    }
    if (!made) {
        ReportUnexpected(__LINE__, "CreateHiddenOpenGLContext() - Could not create an OpenGL context.");
        DestroyHiddenWindow(window);
        return false;
    }
    return true;
}

void DestroyHiddenOpenGLContext(OpenGLContext* context) {
    if (!context || context->type == OPENGL_CONTEXT_NONE) {
        ReportUnexpected(__LINE__, "DestroyHiddenOpenGLContext() - An invalid OpenGL context was specified.");
        return;
    }
    HWND window = context->window;
    ReleaseOpenGLContext(context);
    if (window) DestroyHiddenWindow(window);
}

// ---------------------------------------------------------------------------
// Logs
// ---------------------------------------------------------------------------

void LogOpenGLImplementation(HGLRC renderingContext) {
    const OpenGLCapabilities* caps = CurrentOpenGLCapabilities();
    if (!caps) return;
    std::string version = caps->version, number = version, rest;
    size_t blank = version.find(' ');
    if (blank != std::string::npos) {
        number = version.substr(0, blank);
        rest = " (" + version.substr(blank + 1) + ")";
    }
    // Core profiles list extensions one by one; the compatibility string has them all.
    std::string extensions;
    const GLubyte* all = glGetString(GL_EXTENSIONS);
    if (all) {
        std::string list = reinterpret_cast<const char*>(all);
        size_t from = 0;
        while (from < list.size()) {
            size_t end = list.find(' ', from);
            if (end == std::string::npos) end = list.size();
            if (end > from) extensions += "          " + list.substr(from, end - from) + "\n";
            from = end + 1;
        }
    }
    TakeOpenGLError();
    DebugEvent(__LINE__, TRACE_MESSAGE)
        .Report("OpenGL Implementation for Rendering Context 0x%X\n     OpenGL Version %s %s\n     OpenGL Vendor '%s'\n"
                "     OpenGL Renderer '%s'\n     Available Extensions:\n%s",
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(renderingContext)), number.c_str(), rest.c_str(),
                caps->vendor.c_str(), caps->renderer.c_str(), extensions.c_str());
}

GPUIdentity ParseDisplayDeviceId(const char* deviceId, bool remote) {
    GPUIdentity id = {};
    if (remote) {
        id.vendorId = id.subsystemVendorId = 0x45E;  // a remote desktop's display
        return id;
    }
    std::string text = deviceId ? deviceId : "";
    auto part = [&](const char* key) -> const char* {
        size_t at = text.find(key);
        return at == std::string::npos ? nullptr : text.c_str() + at;
    };
    unsigned a = 0, b = 0;
    if (const char* p = part("VEN_")) std::sscanf(p, "VEN_%x", &id.vendorId);
    if (const char* p = part("DEV_")) std::sscanf(p, "DEV_%x", &id.deviceId);
    if (const char* p = part("SUBSYS_"); p && std::sscanf(p, "SUBSYS_%4x%4x", &a, &b) == 2) {
        id.subsystemDeviceId = a;
        id.subsystemVendorId = b;
    }
    if (const char* p = part("REV_")) std::snprintf(id.revision, sizeof(id.revision), "%.8s", p + 4);
    for (char& c : id.revision)
        if (c == '&' || c == '\\') c = 0;
    return id;
}

void LogPrimaryGPU() {
    DISPLAY_DEVICEA device = {};
    device.cb = sizeof(device);
    for (DWORD index = 0; EnumDisplayDevicesA(nullptr, index, &device, 0); ++index) {
        if (!(device.StateFlags & DISPLAY_DEVICE_PRIMARY_DEVICE)) {
            device = {};
            device.cb = sizeof(device);
            continue;
        }
        bool remote = device.StateFlags & 0x04000000;  // DISPLAY_DEVICE_REMOTE
        GPUIdentity id = ParseDisplayDeviceId(device.DeviceID, remote);
        DebugEvent(__LINE__, TRACE_MESSAGE)
            .Report("Primary GPU Information:\n     Device Name = '%s'\n     Device String = '%s'\n"
                    "     State Flags = '0x%08X'\n     Device ID String = '%s'\n     Device Key = '%s'\n"
                    "     GPU Vendor ID = '0x%X', GPU Device ID = '0x%X'\n"
                    "     Subsystem Vendor ID = '0x%X', Subsystem Device ID = '0x%X', Revision = '%s'\n",
                    device.DeviceName, device.DeviceString, static_cast<unsigned>(device.StateFlags), device.DeviceID,
                    device.DeviceKey, id.vendorId, id.deviceId, id.subsystemVendorId, id.subsystemDeviceId, id.revision);
        return;
    }
}
