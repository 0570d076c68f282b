#include "gl/texture_sets.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "gl/buffer_objects.h"
#include "gl/drawing_settings.h"
#include "gl/gl_check.h"
#include "gl/gl_context.h"
#include "gl/glew_table.h"
#include "gl/half_float.h"
#include "gl/shader_programs.h"
#include "image/document_image.h"
#include "support/debug_log.h"
#include "support/run_result.h"

namespace {

TextureSet gHostImageSet = {};
TextureSet gEffectsSet = {};
TextureSet gCompositeSet = {};
TextureSet gSplashSet = {};
EffectsDrawProc gDrawEffects = nullptr;
int32_t gMaximumTextureSizeCap = 0;

bool UsesSixteenBitStorage() {
    return GPUAccelerated() && OpenGLOptimizationSetting() == OPTIMIZE_FOR_QUALITY;
}

Tile* Tiles(TextureSet* set) { return static_cast<Tile*>(set->tiles.pointer); }
TileVertex* Vertices(TextureSet* set) { return static_cast<TileVertex*>(set->vertices.pointer); }

// Grows a tracked buffer; out of memory sets the run's result and fails.
bool Reserve(TrackedBuffer* buffer, uint64_t size, bool keep) {
    if (buffer->size >= size) return true;
    int status = keep ? ReallocateBufferPreserveContents(size, buffer) : ReallocateBuffer(size, buffer);
    if (status != 0) {
        SetGlobalErrorCode(RUN_OUT_OF_MEMORY);
        return false;
    }
    return true;
}

void MakeSet(TextureSet* set, GLint mag, GLint min, bool vertexBuffer, GLenum vertexUsage, bool pixelBuffer,
             GLenum pixelUsage, bool frameBuffer) {
    ReleaseTextureSet(set);
    set->magFilter = mag;
    set->minFilter = min;
    set->wrapS = set->wrapT = GL_CLAMP;
    if (vertexBuffer) {
        GenBuffer(&set->vertexBuffer);
        set->vertexBufferUsage = vertexUsage;
        set->vertexBufferStale = true;
    }
    if (pixelBuffer) {
        GenBuffer(&set->pixelBuffer);
        set->pixelBufferUsage = pixelUsage;
    }
    if (frameBuffer) {
        glGenFramebuffers(1, &set->frameBuffer);
        glGenRenderbuffers(1, &set->renderBuffer);
        GLint dims[2] = {0, 0};
        glGetIntegerv(GL_MAX_VIEWPORT_DIMS, dims);
        set->renderBufferWidth = dims[0];
        set->renderBufferHeight = dims[1];
    }
}

int64_t BytesPerImagePixel(const Image* image) { return 4 * image->bytesPerChannel; }

}  // namespace

TextureSet* HostImageTextureSet() { return &gHostImageSet; }
TextureSet* EffectsTextureSet() { return &gEffectsSet; }
TextureSet* CompositeTextureSet() { return &gCompositeSet; }
TextureSet* SplashTextureSet() { return &gSplashSet; }

uint32_t TextureStorageFormat() {
    return UsesSixteenBitStorage() ? TextureFormat16().internalFormat : TextureFormat8().internalFormat;
}
uint32_t ReadBackDataType() {
    bool sixteen = UsesSixteenBitStorage() && TextureFormat16().internalFormat != TextureFormat8().internalFormat;
    return sixteen ? TextureFormat16().dataType : TextureFormat8().dataType;
}
uint32_t ReadBackBytesPerPixel() {
    bool sixteen = UsesSixteenBitStorage() && TextureFormat16().internalFormat != TextureFormat8().internalFormat;
    return sixteen ? TextureFormat16().bytesPerPixel : TextureFormat8().bytesPerPixel;
}

bool InitializeTextureSets(bool gammaShaderCreated) {
    if (!InitializeHalfFloatTables()) {
        ReportUnexpected(__LINE__, "Failed to allocate buffer for half-float Gamma table.");
        SetGlobalErrorCode(RUN_OUT_OF_MEMORY);
        return false;
    }
    bool accelerated = GPUAccelerated();
    bool vbo = UseVertexBufferObjects(), pbo = UsePixelBufferObjects();
    bool fbo = UseFrameBufferObjects() && !MustUsePowerOfTwoSizedTextures();
    GLint smooth = accelerated ? GL_LINEAR : GL_NEAREST;
    bool readBackGamma = accelerated && !gammaShaderCreated;
    MakeSet(&gHostImageSet, GL_NEAREST, smooth, vbo, GL_STATIC_DRAW, pbo, GL_STATIC_DRAW, false);
    MakeSet(&gEffectsSet, GL_NEAREST, smooth, vbo, GL_DYNAMIC_DRAW, pbo && !fbo, GL_DYNAMIC_DRAW, fbo);
    MakeSet(&gCompositeSet, GL_NEAREST, GL_NEAREST, vbo, GL_DYNAMIC_DRAW, pbo && (!fbo || readBackGamma),
            GL_DYNAMIC_DRAW, fbo);
    MakeSet(&gSplashSet, GL_NEAREST, GL_NEAREST, false, 0, false, 0, false);
    gCompositeSet.gammaOnReadBack = readBackGamma;
    return GL_OK("InitializeTextureSets() - Failed to create the texture sets' buffer objects.");
}

void ReleaseTextureSet(TextureSet* set) {
    Tile* tiles = Tiles(set);
    for (uint64_t i = 0; tiles && i < set->tileCapacity; ++i)
        if (tiles[i].texture) glDeleteTextures(1, &tiles[i].texture);
    DeallocateBuffer(&set->tiles);
    DeallocateBuffer(&set->vertices);
    DeallocateBuffer(&set->staging);
    GLuint name = set->vertexBuffer;
    DeleteBuffer(&name);
    name = set->pixelBuffer;
    DeleteBuffer(&name);
    if (set->frameBuffer) glDeleteFramebuffers(1, &set->frameBuffer);
    if (set->renderBuffer) glDeleteRenderbuffers(1, &set->renderBuffer);
    *set = TextureSet{};
}

bool GetMaximumTextureSize(bool powerOfTwoOnly, bool limitToViewport, int32_t* width, int32_t* height) {
    GLint size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
    while (size > 64) {
        glTexImage2D(GL_PROXY_TEXTURE_2D, 0, static_cast<GLint>(TextureStorageFormat()), size, size, 0, GL_RGBA,
                     GL_UNSIGNED_BYTE, nullptr);
        GLint granted = 0;
        glGetTexLevelParameteriv(GL_PROXY_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &granted);
        if (granted == size) break;
        size /= 2;
    }
    if (gMaximumTextureSizeCap > 0) size = std::min<GLint>(size, gMaximumTextureSizeCap);
    int32_t w = size, h = size;
    if (limitToViewport) {
        GLint viewport[4] = {0, 0, 0, 0};
        glGetIntegerv(GL_VIEWPORT, viewport);
        w = std::min<int32_t>(w, viewport[2]);
        h = std::min<int32_t>(h, viewport[3]);
    }
    if (powerOfTwoOnly) {
        w = static_cast<int32_t>(PowerOfTwoAtMost(w));
        h = static_cast<int32_t>(PowerOfTwoAtMost(h));
    }
    *width = w;
    *height = h;
    return GL_OK("Determination of maximum texture size failed.");
}

void SetMaximumTextureSizeForTesting(int32_t size) { gMaximumTextureSizeCap = size; }

bool SubdivideImage(TextureSet* set, const TileRect& region, int32_t maxWidth, int32_t maxHeight) {
    if (!GL_OK("Error on entry into SubdivideImage()")) return false;
    bool powerOfTwo = MustUsePowerOfTwoSizedTextures();
    std::vector<TileLayout> layout = LayTiles(region, maxWidth, maxHeight, powerOfTwo);
    if (layout.size() > set->tileCapacity) {
        uint64_t capacity = layout.size();
        if (!Reserve(&set->tiles, capacity * sizeof(Tile), true) ||
            !Reserve(&set->vertices, capacity * 4 * sizeof(TileVertex), true))
            return false;
        std::memset(Tiles(set) + set->tileCapacity, 0, (capacity - set->tileCapacity) * sizeof(Tile));
        set->tileCapacity = capacity;
        set->vertexBufferStale = true;
    }
    Tile* tiles = Tiles(set);
    TileVertex* vertices = Vertices(set);
    TileRect bounds = {0, 0, 0, 0};
    for (size_t i = 0; i < layout.size(); ++i) {
        const TileLayout& l = layout[i];
        Tile& t = tiles[i];
        if (!t.texture) {
            glGenTextures(1, &t.texture);
            glBindTexture(GL_TEXTURE_2D, t.texture);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, set->magFilter);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, set->minFilter);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, set->wrapS);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, set->wrapT);
            t.needsAllocation = 1;
            t.textureWidth = t.textureHeight = 0;
        }
        t.left = l.region.left;
        t.top = l.region.top;
        t.right = l.region.right;
        t.bottom = l.region.bottom;
        t.width = t.right - t.left;
        t.height = t.bottom - t.top;
        // Textures grow, never shrink.
        if (l.textureWidth > t.textureWidth || l.textureHeight > t.textureHeight) {
            t.textureWidth = std::max(t.textureWidth, l.textureWidth);
            t.textureHeight = std::max(t.textureHeight, l.textureHeight);
            if (!powerOfTwo) {
                t.textureWidth = l.textureWidth;
                t.textureHeight = l.textureHeight;
            }
            t.needsAllocation = 1;
        }
        t.textureLeft = t.left;
        t.textureTop = t.top;
        t.textureRight = t.left + t.textureWidth;
        t.textureBottom = t.top + t.textureHeight;
        if (i == 0)
            bounds = {t.textureLeft, t.textureTop, t.textureRight, t.textureBottom};
        else
            bounds = {std::min(bounds.left, t.textureLeft), std::min(bounds.top, t.textureTop),
                      std::max(bounds.right, t.textureRight), std::max(bounds.bottom, t.textureBottom)};
        // The quad: bottom-left, bottom-right, top-right, top-left.
        const TileRect& q = l.quad;
        double tw = t.textureWidth, th = t.textureHeight;
        auto s = [&](int32_t x) { return (x - t.left) / tw; };
        auto tc = [&](int32_t y) { return set->flipVertical ? (t.bottom - y) / th : (y - t.top) / th; };
        TileVertex* v = vertices + 4 * i;
        v[0] = {s(q.left), tc(q.bottom), double(q.left), double(q.bottom)};
        v[1] = {s(q.right), tc(q.bottom), double(q.right), double(q.bottom)};
        v[2] = {s(q.right), tc(q.top), double(q.right), double(q.top)};
        v[3] = {s(q.left), tc(q.top), double(q.left), double(q.top)};
    }
    set->tileCount = layout.size();
    set->textureBounds = bounds;
    set->regionWidth = region.right - region.left;
    set->regionHeight = region.bottom - region.top;
    glBindTexture(GL_TEXTURE_2D, 0);
    return GL_OK("Subdivision of specified image Failed");
}

namespace {

// The largest byte the tile uploads read from a tightly packed source of
// `rowLength` pixels per row whose row 0 is `originRow` rows above the tiles'
// first source row: every texture read at full texture size stays inside.
uint64_t SourceExtent(TextureSet* set, const TileRect& region, int64_t rowLength, bool bottomUp, int64_t bytesPerPixel) {
    uint64_t extent = 0;
    Tile* tiles = Tiles(set);
    for (uint64_t i = 0; i < set->tileCount; ++i) {
        const Tile& t = tiles[i];
        int64_t x0 = t.left - region.left;
        int64_t y0 = bottomUp ? region.bottom - t.bottom : t.top - region.top;
        uint64_t end = static_cast<uint64_t>((y0 + t.textureHeight - 1) * rowLength + x0 + t.textureWidth);
        extent = std::max(extent, end);
    }
    return extent * static_cast<uint64_t>(bytesPerPixel);
}

void ReportDefinitionFormat(GLenum requested) {
    GLint granted = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &granted);
    if (static_cast<GLenum>(granted) != requested)
        DebugEvent(__LINE__).Report(OS_MB_ICONWARNING, "Debug - Warning",
                                    "Unexpected internal texture format.  Desired 0x%X, got 0x%X", requested,
                                    static_cast<unsigned>(granted));
}

}  // namespace

bool CreateTextureSetFromImage(const RECT& visible, TextureSet* set, const Image* image, double scaleX, double scaleY,
                               POINT scroll, double zoom) {
    if (!GL_OK("Error on entry into CreateTextureSetFromImage()")) return false;
    if (!image || !image->pixels.pointer || zoom <= 0) return false;
    TileRect region;
    region.left = static_cast<int32_t>(scroll.x / zoom * scaleX);
    region.top = static_cast<int32_t>(scroll.y / zoom * scaleY);
    region.right = static_cast<int32_t>(region.left + (visible.right - visible.left) / zoom * scaleX + 2);
    region.bottom = static_cast<int32_t>(region.top + (visible.bottom - visible.top) / zoom * scaleY + 2);
    const ImageRect& bounds = image->imageRect;
    region = {std::max(region.left, bounds.left), std::max(region.top, bounds.top),
              std::min(region.right, bounds.right), std::min(region.bottom, bounds.bottom)};
    if (region.right <= region.left || region.bottom <= region.top) return false;
    bool powerOfTwo = MustUsePowerOfTwoSizedTextures();
    int32_t maxWidth = 0, maxHeight = 0;
    if (!GetMaximumTextureSize(powerOfTwo, false, &maxWidth, &maxHeight)) return false;
    if (!SubdivideImage(set, region, maxWidth, maxHeight)) return false;

    const int64_t bpp = BytesPerImagePixel(image);
    const GLenum format = static_cast<GLenum>(image->pixelFormat);
    const GLenum type = static_cast<GLenum>(image->pixelType);
    const GLint storage = static_cast<GLint>(TextureStorageFormat());
    const int32_t regionWidth = region.right - region.left;
    bool fromPixelBuffer = set->pixelBuffer != 0;
    int64_t rowLength = image->bufferWidth;
    if (fromPixelBuffer) {
        BindBuffer(GL_PIXEL_UNPACK_BUFFER, set->pixelBuffer);
        uint64_t needed = std::max<uint64_t>(
            static_cast<uint64_t>(set->textureBounds.right - set->textureBounds.left) *
                (set->textureBounds.bottom - set->textureBounds.top + 1) * bpp,
            SourceExtent(set, region, regionWidth, false, bpp));
        if (set->pixelBufferSize < needed) {
            BufferData(GL_PIXEL_UNPACK_BUFFER, static_cast<GLsizeiptr>(needed), nullptr, set->pixelBufferUsage);
            set->pixelBufferSize = needed;
        }
        auto* mapped = static_cast<uint8_t*>(MapBuffer(GL_PIXEL_UNPACK_BUFFER, GL_WRITE_ONLY));
        if (!mapped) {
            OpenGLDebugEvent(__LINE__, TakeOpenGLError())
                .Report(OS_MB_ICONERROR, GL_CAPTION_UNEXPECTED, "Failed to map Image Excerpt PBO.");
            BindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
            return false;
        }
        for (int32_t y = region.top; y < region.bottom; ++y)
            std::memcpy(mapped + static_cast<int64_t>(y - region.top) * regionWidth * bpp,
                        PixelAddress(image, region.left, y), static_cast<size_t>(regionWidth * bpp));
        if (!UnmapBuffer(GL_PIXEL_UNPACK_BUFFER))
            OpenGLDebugEvent(__LINE__, TakeOpenGLError())
                .Report(OS_MB_ICONERROR, GL_CAPTION_UNEXPECTED, "Failed to unmap Image Excerpt PBO.");
        if (!GL_OK("Failed to copy image into Image PBO.")) {
            BindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
            return false;
        }
        rowLength = regionWidth;
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(rowLength));
    const uint8_t* bufferStart = static_cast<const uint8_t*>(image->pixels.pointer);
    const uint8_t* bufferEnd = bufferStart + image->bufferWidth * image->bufferHeight * bpp;
    bool ok = true;
    Tile* tiles = Tiles(set);
    for (uint64_t i = 0; i < set->tileCount && ok; ++i) {
        Tile& t = tiles[i];
        const uint8_t* source;
        if (fromPixelBuffer)
            source = reinterpret_cast<const uint8_t*>(
                static_cast<uintptr_t>(((t.top - region.top) * static_cast<int64_t>(regionWidth) + (t.left - region.left)) * bpp));
        else
            source = PixelAddress(image, t.left, t.top);
        glBindTexture(GL_TEXTURE_2D, t.texture);
        if (t.needsAllocation && powerOfTwo) {
            const uint8_t* lastByte = fromPixelBuffer ? nullptr
                                                      : source + ((t.textureHeight - 1) * rowLength + t.textureWidth) * bpp;
            if (fromPixelBuffer || lastByte <= bufferEnd) {
                glTexImage2D(GL_TEXTURE_2D, 0, storage, t.textureWidth, t.textureHeight, 0, format, type, source);
                ok = CheckOpenGL(__LINE__, GL_CAPTION_UNEXPECTED_LOWER,
                                 "CreateTextureSetFromImage() - glTexImage2D Failed to copy data directly from image.");
            } else {
                // The texture reaches past the image buffer: pad a copy of the tile.
                uint64_t bytes = static_cast<uint64_t>(t.textureWidth) * t.textureHeight * bpp;
                if (!Reserve(&set->staging, bytes, false)) {
                    ok = false;
                    break;
                }
                auto* padded = static_cast<uint8_t*>(set->staging.pointer);
                std::memset(padded, 0, bytes);
                for (int32_t y = 0; y < t.height; ++y)
                    std::memcpy(padded + static_cast<int64_t>(y) * t.textureWidth * bpp, source + y * rowLength * bpp,
                                static_cast<size_t>(t.width * bpp));
                glPixelStorei(GL_UNPACK_ROW_LENGTH, t.textureWidth);
                glTexImage2D(GL_TEXTURE_2D, 0, storage, t.textureWidth, t.textureHeight, 0, format, type, padded);
                glPixelStorei(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(rowLength));
                ok = CheckOpenGL(__LINE__, GL_CAPTION_UNEXPECTED_LOWER,
                                 "CreateTextureSetFromImage() - glTexImage2D Failed to copy from SubImage buffer, "
                                 "DesiredInternalFormat = 0x%X, Image->PixelFormat = 0x%X.\n",
                                 static_cast<unsigned>(storage), static_cast<unsigned>(format));
            }
            if (ok) ReportDefinitionFormat(static_cast<GLenum>(storage));
            t.needsAllocation = 0;
        } else if (t.needsAllocation) {
            glTexImage2D(GL_TEXTURE_2D, 0, storage, t.width, t.height, 0, format, type, source);
            ok = CheckOpenGL(__LINE__, GL_CAPTION_UNEXPECTED_LOWER, "CreateTextureSetFromImage() - glTexImage2D Failed");
            if (ok) ReportDefinitionFormat(static_cast<GLenum>(storage));
            t.needsAllocation = 0;
        } else {
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, t.width, t.height, format, type, source);
            ok = CheckOpenGL(__LINE__, GL_CAPTION_UNEXPECTED_LOWER, "CreateTextureSetFromImage() - glTexSubImage2D Failed");
        }
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    if (fromPixelBuffer) BindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    if (ok) {
        set->scaleX = scaleX;
        set->scaleY = scaleY;
        ok = UpdateVertexBuffer(set);
    }
    return GL_OK("Creation of Texture Set from image Failed") && ok;
}

bool ApplyReadBackGamma(void* pixels, uint64_t count, uint32_t dataType) {
    if (!InitializeHalfFloatTables()) return false;
    switch (dataType) {
        case GL_UNSIGNED_BYTE: {
            const uint8_t* table = DisplayGammaTable8();
            auto* p = static_cast<uint8_t*>(pixels);
            for (uint64_t i = 0; i < count; ++i, p += 4) {
                p[0] = table[p[0]];
                p[1] = table[p[1]];
                p[2] = table[p[2]];
            }
            return true;
        }
        case GL_UNSIGNED_SHORT: {
            const uint16_t* table = DisplayGammaTable16();
            auto* p = static_cast<uint16_t*>(pixels);
            for (uint64_t i = 0; i < count; ++i, p += 4) {
                p[0] = table[p[0]];
                p[1] = table[p[1]];
                p[2] = table[p[2]];
            }
            return true;
        }
        case GL_FLOAT: {
            const uint16_t* table = DisplayGammaTable16();
            auto* p = static_cast<float*>(pixels);
            for (uint64_t i = 0; i < count; ++i, p += 4)
                for (int c = 0; c < 3; ++c) {
                    float v = std::min(1.0f, std::max(0.0f, p[c]));  // NaN becomes 0
                    p[c] = table[static_cast<uint32_t>(v * 65535.0f + 0.5f)] / 65535.0f;
                }
            return true;
        }
        case GL_HALF_FLOAT: {
            const uint16_t* table = DisplayGammaTableHalf();
            auto* p = static_cast<uint16_t*>(pixels);
            for (uint64_t i = 0; i < count; ++i, p += 4)
                for (int c = 0; c < 3; ++c) {
                    float v = std::min(1.0f, std::max(0.0f, HalfToFloat(p[c])));
                    p[c] = table[static_cast<uint32_t>(v * 65535.0f + 0.5f)];
                }
            return true;
        }
        default:
            ReportUnexpected(__LINE__, "Pixel type 0x%X is not recognized.", dataType);
            return false;
    }
}

bool CreateTextureSetFromFramebuffer(const RECT& rect, TextureSet* set) {
    if (!GL_OK("Error on entry into CreateTextureSetFromFramebuffer()")) return false;
    set->flipVertical = true;
    bool powerOfTwo = MustUsePowerOfTwoSizedTextures();
    int32_t maxWidth = 0, maxHeight = 0;
    if (!GetMaximumTextureSize(powerOfTwo, true, &maxWidth, &maxHeight)) return false;
    TileRect region = {rect.left, rect.top, rect.right, rect.bottom};
    if (!SubdivideImage(set, region, maxWidth, maxHeight)) return false;
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    const int32_t windowWidth = viewport[2], windowHeight = viewport[3];
    const int32_t width = rect.right - rect.left, height = rect.bottom - rect.top;
    const GLint storage = static_cast<GLint>(TextureStorageFormat());
    const GLenum readType = ReadBackDataType();
    const int64_t bpp = ReadBackBytesPerPixel();
    const GLenum readFormat = GPUAccelerated() ? GL_RGBA : GL_BGRA;
    // Sized so that a power-of-two texture read from the buffer stays inside it.
    uint64_t needed = std::max<uint64_t>(static_cast<uint64_t>(width) * (height + 1) * bpp,
                                         SourceExtent(set, region, width, true, bpp));
    enum { FROM_FRAMEBUFFER, FROM_PIXEL_BUFFER, FROM_STAGING } source = FROM_FRAMEBUFFER;
    bool ok = true;
    if (set->pixelBuffer) {
        source = FROM_PIXEL_BUFFER;
        BindBuffer(GL_PIXEL_PACK_BUFFER, set->pixelBuffer);
        if (set->pixelBufferSize < needed) {
            BufferData(GL_PIXEL_PACK_BUFFER, static_cast<GLsizeiptr>(needed), nullptr, set->pixelBufferUsage);
            set->pixelBufferSize = needed;
        }
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(rect.left, windowHeight - rect.bottom, width, height, GL_RGBA, readType, nullptr);
        BindBuffer(GL_PIXEL_PACK_BUFFER, 0);
        BindBuffer(GL_PIXEL_UNPACK_BUFFER, set->pixelBuffer);
        if (set->gammaOnReadBack) {
            void* mapped = MapBuffer(GL_PIXEL_UNPACK_BUFFER, GL_READ_WRITE);
            if (!mapped) {
                OpenGLDebugEvent(__LINE__, TakeOpenGLError())
                    .Report(OS_MB_ICONERROR, GL_CAPTION_UNEXPECTED, "Failed to map texture set PBO.");
                ok = false;
            } else {
                ApplyReadBackGamma(mapped, static_cast<uint64_t>(width) * height, readType);
                if (!UnmapBuffer(GL_PIXEL_UNPACK_BUFFER))
                    OpenGLDebugEvent(__LINE__, TakeOpenGLError())
                        .Report(OS_MB_ICONERROR, GL_CAPTION_UNEXPECTED, "Failed to unmap texture set PBO.");
            }
        }
        ok = GL_OK("Failed to create PBO in CreateTextureSetFromFramebuffer()") && ok;
    } else if (set->gammaOnReadBack) {
        source = FROM_STAGING;
        if (!Reserve(&set->staging, needed, false)) return false;
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(rect.left, windowHeight - rect.bottom, width, height, readFormat, readType, set->staging.pointer);
        ok = GL_OK("Failed to read the frame buffer in CreateTextureSetFromFramebuffer()");
        if (ok) ApplyReadBackGamma(set->staging.pointer, static_cast<uint64_t>(width) * height, readType);
    }
    const GLenum bufferFormat = source == FROM_STAGING ? readFormat : GL_RGBA;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, source == FROM_FRAMEBUFFER ? 0 : width);
    Tile* tiles = Tiles(set);
    for (uint64_t i = 0; i < set->tileCount && ok; ++i) {
        Tile& t = tiles[i];
        const int32_t fbX = t.left, fbY = windowHeight - t.bottom;  // the tile's bottom-left in the frame buffer
        const uint8_t* base = source == FROM_STAGING ? static_cast<const uint8_t*>(set->staging.pointer) : nullptr;
        const uint8_t* from =
            base + ((static_cast<int64_t>(rect.bottom - t.bottom) * width) + (t.left - rect.left)) * bpp;
        glBindTexture(GL_TEXTURE_2D, t.texture);
        if (t.needsAllocation && powerOfTwo) {
            if (source != FROM_FRAMEBUFFER) {
                glTexImage2D(GL_TEXTURE_2D, 0, storage, t.textureWidth, t.textureHeight, 0, bufferFormat, readType, from);
                ok = CheckOpenGL(__LINE__, GL_CAPTION_UNEXPECTED_LOWER,
                                 "CreateTextureSetFromFramebuffer() - Failed to complete glTexImage2D() from PBO");
            } else if (fbX + t.textureWidth > windowWidth || fbY + t.textureHeight > windowHeight) {
                // The texture reaches past the window: read what lies inside, pad the rest.
                uint64_t bytes = static_cast<uint64_t>(t.textureWidth) * t.textureHeight * bpp;
                if (!Reserve(&set->staging, bytes, false)) {
                    ok = false;
                    break;
                }
                std::memset(set->staging.pointer, 0, bytes);
                int32_t inWidth = std::min(t.textureWidth, windowWidth - fbX);
                int32_t inHeight = std::min(t.textureHeight, windowHeight - fbY);
                glPixelStorei(GL_PACK_ALIGNMENT, 1);
                glPixelStorei(GL_PACK_ROW_LENGTH, t.textureWidth);
                glReadPixels(fbX, fbY, inWidth, inHeight, GL_RGBA, readType, set->staging.pointer);
                glPixelStorei(GL_PACK_ROW_LENGTH, 0);
                glPixelStorei(GL_UNPACK_ROW_LENGTH, t.textureWidth);
                glTexImage2D(GL_TEXTURE_2D, 0, storage, t.textureWidth, t.textureHeight, 0, GL_RGBA, readType,
                             set->staging.pointer);
                glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
                ok = CheckOpenGL(__LINE__, GL_CAPTION_UNEXPECTED_LOWER,
                                 "CreateTextureSetFromFramebuffer() - Failed to complete glTexImage2D() from PaddedTextureBuffer");
            } else {
                glCopyTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLenum>(storage), fbX, fbY, t.textureWidth,
                                 t.textureHeight, 0);
                ok = CheckOpenGL(__LINE__, GL_CAPTION_UNEXPECTED_LOWER,
                                 "CreateTextureSetFromFramebuffer() - Failed to complete glCopyTexImage2D() from frame buffer");
            }
            t.needsAllocation = 0;
        } else if (t.needsAllocation) {
            if (source != FROM_FRAMEBUFFER) {
                glTexImage2D(GL_TEXTURE_2D, 0, storage, t.width, t.height, 0, bufferFormat, readType, from);
                ok = CheckOpenGL(__LINE__, GL_CAPTION_UNEXPECTED_LOWER,
                                 "CreateTextureSetFromFramebuffer() - Failed to complete glTexImage2D() from PBO, non power of two");
            } else {
                glCopyTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLenum>(storage), fbX, fbY, t.width, t.height, 0);
                ok = CheckOpenGL(__LINE__, GL_CAPTION_UNEXPECTED_LOWER,
                                 "CreateTextureSetFromFramebuffer() - Failed to complete glCopyTexImage2D() from frame "
                                 "buffer, non power of two");
            }
            t.needsAllocation = 0;
        } else if (source != FROM_FRAMEBUFFER) {
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, t.width, t.height, bufferFormat, readType, from);
            ok = CheckOpenGL(__LINE__, GL_CAPTION_UNEXPECTED_LOWER,
                             "CreateTextureSetFromFramebuffer() - Failed to complete glTexSubImage2D() from PBO");
        } else {
            glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, fbX, fbY, t.width, t.height);
            ok = CheckOpenGL(__LINE__, GL_CAPTION_UNEXPECTED_LOWER,
                             "CreateTextureSetFromFramebuffer() - Failed to complete glCopyTexSubImage2D() from frame buffer");
        }
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    if (source == FROM_PIXEL_BUFFER) BindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    if (ok) {
        set->scaleX = set->scaleY = 0;
        ok = UpdateVertexBuffer(set);
    }
    return GL_OK("Creation of Texture Set from framebuffer Failed") && ok;
}

bool UpdateVertexBuffer(TextureSet* set) {
    if (!GL_OK("Error on entry to UpdateVertexBuffer().")) return false;
    if (!set->vertexBuffer) {
        // Sets without a vertex buffer draw from the vertex records in memory.
        if (set == &gSplashSet || !UseVertexBufferObjects()) return true;
        DebugEvent(__LINE__).Report(OS_MB_ICONERROR, "Error - Exiting Plug-in",
                                    "UpdateVertexBuffer() called with invalid texture.");
        return false;
    }
    BindBuffer(GL_ARRAY_BUFFER, set->vertexBuffer);
    GLsizeiptr bytes = static_cast<GLsizeiptr>(set->tileCount * 4 * sizeof(TileVertex));
    if (set->vertexBufferStale) {
        BufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(set->tileCapacity * 4 * sizeof(TileVertex)),
                   set->vertices.pointer, set->vertexBufferUsage);
        set->vertexBufferStale = false;
    } else {
        BufferSubData(GL_ARRAY_BUFFER, bytes, set->vertices.pointer);
    }
    BindBuffer(GL_ARRAY_BUFFER, 0);
    return GL_OK("Failed to update Vertex Buffer for texture set %d.", set == &gHostImageSet ? 0
                                                                         : set == &gEffectsSet ? 1
                                                                         : set == &gCompositeSet ? 2 : 3);
}

bool DrawImageTextureSet(TextureSet* set) {
    if (!GL_OK("Error on entry into DrawImageTextureSet()")) return false;
    if (set->tileCount == 0) return true;
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    if (set->scaled && set->scaleX > 0 && set->scaleY > 0)
        glScaled(1.0 / set->scaleX, 1.0 / set->scaleY, 1.0);
    else if (!set->scaled)
        glLoadIdentity();
    glEnable(GL_TEXTURE_2D);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    const GLsizei stride = sizeof(TileVertex);
    if (set->vertexBuffer) {
        BindBuffer(GL_ARRAY_BUFFER, set->vertexBuffer);
        glVertexPointer(2, GL_DOUBLE, stride, reinterpret_cast<const void*>(16));
        glTexCoordPointer(2, GL_DOUBLE, stride, reinterpret_cast<const void*>(0));
    } else {
        const auto* v = static_cast<const uint8_t*>(set->vertices.pointer);
        glVertexPointer(2, GL_DOUBLE, stride, v + 16);
        glTexCoordPointer(2, GL_DOUBLE, stride, v);
    }
    bool ok = true;
    Tile* tiles = Tiles(set);
    for (uint64_t i = 0; i < set->tileCount; ++i) {
        glBindTexture(GL_TEXTURE_2D, tiles[i].texture);
        glDrawArrays(GL_QUADS, static_cast<GLint>(4 * i), 4);
    }
    ok = GL_OK("glDrawArrays() Failed");
    if (set->vertexBuffer) BindBuffer(GL_ARRAY_BUFFER, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    glPopMatrix();
    glPopAttrib();
    glPopClientAttrib();
    return GL_OK("Drawing of Image Texture Set Failed") && ok;
}

bool AttachFBOWithRenderBuffer(TextureSet* set, int32_t width, int32_t height) {
    if (!set->frameBuffer || !set->renderBuffer) {
        ReportUnexpected(__LINE__, "Texture was incomplete. FBO = %d, RBO = %d", static_cast<int>(set->frameBuffer),
                         static_cast<int>(set->renderBuffer));
        return false;
    }
    glBindFramebuffer(GL_FRAMEBUFFER, set->frameBuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, set->renderBuffer);
    const GLenum storage = TextureStorageFormat();
    GLint current = 0;
    glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_WIDTH, &current);
    if (width != set->renderBufferWidth || height != set->renderBufferHeight || current == 0) {
        glRenderbufferStorage(GL_RENDERBUFFER, storage, width, height);
        set->renderBufferWidth = width;
        set->renderBufferHeight = height;
    }
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, set->renderBuffer);
    GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE) {
        ReportUnexpected(__LINE__, "Frame Buffer Object was incomplete. Status = 0x%X", static_cast<unsigned>(status));
        DetachFBO();
        TakeOpenGLError();
        return false;
    }
    GLint granted = 0;
    glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_INTERNAL_FORMAT, &granted);
    if (storage != GL_RGBA && static_cast<GLenum>(granted) != storage) {
        ReportUnexpected(__LINE__, "Frame Buffer Object was not granted the required format (0x%X vs. 0x%X).",
                         static_cast<unsigned>(granted), static_cast<unsigned>(storage));
        DetachFBO();
        return false;
    }
    return GL_OK("AttachFBOWithRenderBuffer() - Failed to attach Frame Buffer Object.");
}

void DetachFBO() {
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, 0);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void SetEffectsDrawProc(EffectsDrawProc draw) { gDrawEffects = draw; }

bool CreateHostImageTextureSet(const RECT& visible, POINT scroll, double zoom) {
    if (!GL_OK("Error on entry into CreateHostImageTextureSet()")) return false;
    if (!IsHostProxyPyramidComplete()) {
        bool sixteen = UsesSixteenBitStorage() && TextureFormat16().internalFormat != TextureFormat8().internalFormat;
        if (!BuildHostProxyPyramid(reinterpret_cast<OsWindow>(WindowFromDC(wglGetCurrentDC())), sixteen)) return false;
    }
    gHostImageSet.scaled = true;
    Image* level = nullptr;
    double sx = zoom, sy = zoom;
    if (!GetHostProxyImageInfo(&level, &sx, &sy)) return false;
    return CreateTextureSetFromImage(visible, &gHostImageSet, level, sx, sy, scroll, zoom);
}

bool CreateEffectsTextureSet(const RECT& visible, POINT scroll, double zoom) {
    // The frame buffer object is as large as the viewport, so that window
    // rows land on the same frame-buffer rows as on screen.
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    const int32_t width = std::max<int32_t>(viewport[2], visible.right), height = std::max<int32_t>(viewport[3], visible.bottom);
    if (gEffectsSet.frameBuffer && !AttachFBOWithRenderBuffer(&gEffectsSet, width, height)) return false;
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glTranslated(visible.left - scroll.x, visible.top - scroll.y, 0);
    glScaled(zoom, zoom, 1);
    glColor4f(1, 1, 1, 1);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_COLOR);
    bool drawn = gDrawEffects ? gDrawEffects() : true;
    glPopMatrix();
    glPopAttrib();
    bool ok = GL_OK("Failed during rendering of Effects.") && drawn;
    if (ok && !CreateTextureSetFromFramebuffer(visible, &gEffectsSet)) {
        ReportUnexpected(__LINE__, "Failed during creation of Effects texture.");
        ok = false;
    }
    if (gEffectsSet.frameBuffer) DetachFBO();
    return GL_OK("Generation of Effects texture failed.") && ok;
}

bool CreateSplashTextureSet(HBITMAP splash) {
    DIBSECTION dib = {};
    if (!splash || GetObjectA(splash, sizeof(dib), &dib) != sizeof(dib) || !dib.dsBm.bmBits) {
        ReportUnexpected(__LINE__, "CreateSplashTextureSet() - The splash bitmap is not a DIB section.");
        return false;
    }
    const BITMAPINFOHEADER& h = dib.dsBmih;
    if (h.biCompression != BI_RGB) {
        ReportUnexpected(__LINE__, "DIB Section compression mode %d unsupported at this time.",
                         static_cast<int>(h.biCompression));
        return false;
    }
    if (h.biBitCount != 24 && h.biBitCount != 32) {
        ReportUnexpected(__LINE__, "DIB Section  %d bit depth unsupported at this time.", h.biBitCount);
        return false;
    }
    const int32_t width = h.biWidth, height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    Image image;
    ImageRect rect = {0, 0, width, height};
    if (!CreateImage(&image, rect, rect, IMAGE_MODE_RGB8, nullptr, false, false)) return false;
    gSplashSet.flipVertical = h.biHeight > 0;
    const int64_t stride = dib.dsBm.bmWidthBytes;
    const bool rgba = image.pixelFormat == PIXEL_FORMAT_RGBA;
    for (int32_t y = 0; y < height; ++y) {
        const auto* in = static_cast<const uint8_t*>(dib.dsBm.bmBits) + y * stride;
        uint8_t* out = PixelAddress(&image, 0, y);
        for (int32_t x = 0; x < width; ++x, out += 4) {
            const uint8_t* p = in + x * (h.biBitCount / 8);
            // Stored as B, G, R (and a fourth byte at 32 bits).
            out[0] = rgba ? p[2] : p[0];
            out[1] = p[1];
            out[2] = rgba ? p[0] : p[2];
            out[3] = h.biBitCount == 32 ? p[3] : 255;
        }
    }
    RECT visible = {0, 0, width, height};
    bool ok = CreateTextureSetFromImage(visible, &gSplashSet, &image, 1.0, 1.0, POINT{0, 0}, 1.0);
    ReleaseImage(&image);
    return ok;
}

namespace {
bool DrawWithGamma(TextureSet* set) {
    glPushAttrib(GL_CURRENT_BIT | GL_COLOR_BUFFER_BIT);
    glColor4f(1, 1, 1, 1);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ZERO);
    if (GammaShaderCreated()) MakeShaderProgramActive(1);
    bool ok = DrawImageTextureSet(set);
    MakeShaderProgramActive(0);
    glPopAttrib();
    return ok;
}
}  // namespace

bool DrawSplashWithGamma() { return DrawWithGamma(&gSplashSet); }
bool DrawCompositeWithGamma() { return DrawWithGamma(&gCompositeSet); }
