#include "preview/gl_shapes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "effects/effect_tables.h"
#include "effects/final_render.h"
#include "effects/shape_generators.h"
#include "gl/buffer_objects.h"
#include "gl/drawing_settings.h"
#include "gl/gl_check.h"
#include "gl/gl_context.h"
#include "gl/glew_table.h"
#include "image/blend.h"
#include "image/color_management.h"
#include "image/image.h"
#include "preview/background_task.h"
#include "support/debug_log.h"
#include "support/run_result.h"

namespace {

constexpr uint32_t kFull = 0xFFFFFFFEu;
constexpr int kEntries = 16;  // 4 x 4 texture entries per cache, nine of them used
constexpr uint32_t kVerticesPerBlock = QUADS_PER_VERTEX_BLOCK * 4;

// One vertex block's indices for one texture entry.
struct IndexBlock {
    GLuint elementBuffer;
    uint32_t count;
    TrackedBuffer indices;  // uint16_t
};

struct VertexBlock {
    GLuint vertexBuffer;
    TrackedBuffer vertices;  // ShapeVertex[kVerticesPerBlock]
};

struct ShapeTexture {
    GLuint texture;
    int32_t width, height;  // storage last allocated
    GLuint pixelBuffer;
    uint64_t pixelBufferSize;
};

struct GLShapeCache {
    ShapeCache shape;          // the CPU generator's sub-shape (0, 0) for a unit light source
    ParameterSet current;      // the frame's parameters, adjusted for this kind
    ParameterSet builtWith;    // what the quads were built from (0xFF bytes: nothing yet)
    ParameterSet texturesFrom; // what the textures were rendered from
    ShapeTexture textures[kEntries];
    float uMax, vMax;          // the rendered part of the textures
    float left, top, right, bottom;  // texture extent around the centre, in pixels
    bool texturesValid;
    std::vector<VertexBlock> blocks;
    std::vector<IndexBlock> indexBlocks[kEntries];  // per entry, one per vertex block
    uint32_t quadCount;
    PreviewShapeStats stats;
};

GLShapeCache gCaches[PREVIEW_SHAPE_KINDS];
bool gReady = false;

// The texture entry of level i: (i mod 4) * 4 + i div 4.
int EntryOfLevel(int level) { return (level % 4) * 4 + level / 4; }

bool UseBufferObjects() { return UseVertexBufferObjects(); }
bool SixteenBitTextures() {
    return GPUAccelerated() && OpenGLOptimizationSetting() == OPTIMIZE_FOR_QUALITY &&
           TextureFormat16().internalFormat != TextureFormat8().internalFormat;
}

// ---- what each kind depends on ----

bool SameView(const ParameterSet& a, const ParameterSet& b) {
    return a.scale == b.scale && a.scrollX == b.scrollX && a.scrollY == b.scrollY &&
           std::memcmp(&a.previewRect, &b.previewRect, sizeof(ViewRect)) == 0;
}

bool QuadsCurrent(PreviewShapeKind kind, const ParameterSet& a, const ParameterSet& b) {
    bool common = a.quantity == b.quantity && a.length == b.length && a.colorSaturation == b.colorSaturation &&
                  a.colorHue == b.colorHue && a.monitor == b.monitor && a.lightSourceEdits == b.lightSourceEdits;
    switch (kind) {
        case PREVIEW_MAIN_SPIKES:
            return common && a.intensity == b.intensity && a.angle == b.angle && a.numberOfPoints == b.numberOfPoints &&
                   a.spikeSharpness == b.spikeSharpness && a.rainbowIntensity == b.rainbowIntensity &&
                   a.rainbowFrequency == b.rainbowFrequency;
        case PREVIEW_SECONDARY_SPIKES:
            return common && a.angle == b.angle && a.spikeSharpness == b.spikeSharpness &&
                   a.rainbowIntensity == b.rainbowIntensity && a.rainbowFrequency == b.rainbowFrequency &&
                   a.secondarySpikeIntensity == b.secondarySpikeIntensity;
        case PREVIEW_SOFT_FLARE:
            return common && a.intensity == b.intensity && a.softFlareIntensity == b.softFlareIntensity &&
                   SameView(a, b);
        default:
            return common && a.intensity == b.intensity && a.ringFlareIntensity == b.ringFlareIntensity &&
                   SameView(a, b);
    }
}

bool TexturesCurrent(PreviewShapeKind kind, const ParameterSet& a, const ParameterSet& b) {
    if (kind == PREVIEW_SOFT_FLARE || kind == PREVIEW_RING_FLARE) return a.length == b.length;
    return a.length == b.length && a.spikeSharpness == b.spikeSharpness && a.rainbowIntensity == b.rainbowIntensity &&
           a.rainbowFrequency == b.rainbowFrequency && a.monitor == b.monitor;
}

// The frame's parameters as this kind draws them: the spikes a little longer
// and sharper, the secondary spikes as the final render sizes them.
ParameterSet Adjusted(PreviewShapeKind kind, const ParameterSet& set) {
    ParameterSet p = set;
    ClampEffectParameters(&p);
    if (kind == PREVIEW_MAIN_SPIKES) {
        p.length = static_cast<int16_t>((p.length * 102) / 100);
        p.spikeSharpness = static_cast<int16_t>((p.spikeSharpness * 110) / 100);
    } else if (kind == PREVIEW_SECONDARY_SPIKES) {
        p.length = static_cast<int16_t>((80 * (p.length + 1)) / 100);
        p.spikeSharpness = static_cast<int16_t>((40 * p.spikeSharpness) / 100);
    }
    return p;
}

// ---- the generators: one unit light source at a pixel's corner ----

bool GenerateRay(ShapeCache* cache, int32_t a, int32_t b) {
    ParameterSet p = *cache->parameters;
    BeginSubShape(cache, a, b);
    bool stored = DrawSpikeRay(cache, a, b, 900, p.spikeSharpness * 0.65 / 100.0 + 0.06, 0.65, p.length, kFull);
    FinishSubShape(cache, a, b);
    return stored;
}

const ShapeGenerator kGenerators[PREVIEW_SHAPE_KINDS] = {GenerateRay, GenerateRay, GenerateSoftFlareShape,
                                                         GenerateRingFlareShape};

// ---- textures ----

bool LoadShapeTexture(GLShapeCache* cache, int level, const Image* image) {
    ShapeTexture& t = cache->textures[EntryOfLevel(level)];
    const GLsizei w = static_cast<GLsizei>(image->width), h = static_cast<GLsizei>(image->height);
    const uint64_t bytes = static_cast<uint64_t>(image->bufferWidth) * image->height * 4 * image->bytesPerChannel;
    const GLenum format = static_cast<GLenum>(image->pixelFormat), type = static_cast<GLenum>(image->pixelType);
    const void* source = image->pixels.pointer;
    if (t.pixelBuffer) {
        BindBuffer(GL_PIXEL_UNPACK_BUFFER, t.pixelBuffer);
        if (t.pixelBufferSize < bytes) {
            BufferData(GL_PIXEL_UNPACK_BUFFER, static_cast<GLsizeiptr>(bytes), source, GL_STREAM_DRAW);
            t.pixelBufferSize = bytes;
        } else {
            BufferSubData(GL_PIXEL_UNPACK_BUFFER, static_cast<GLsizeiptr>(bytes), source);
        }
        source = nullptr;
        if (!CheckOpenGL(__LINE__, GL_CAPTION_UNEXPECTED,
                         "LoadShapeTexture() - Failed to copy texture into pixel buffer object.")) {
            BindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
            return false;
        }
    }
    glBindTexture(GL_TEXTURE_2D, t.texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(image->bufferWidth));
    if (w > t.width || h > t.height) {
        GLint storage = static_cast<GLint>(SixteenBitTextures() ? TextureFormat16().internalFormat
                                                                : TextureFormat8().internalFormat);
        glTexImage2D(GL_TEXTURE_2D, 0, storage, w, h, 0, format, type, source);
        t.width = w;
        t.height = h;
    } else {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, format, type, source);
    }
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    if (t.pixelBuffer) BindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    if (w < t.width || h < t.height) {
        // Storage kept from a larger shape: the texels just right of and below
        // this one still hold the old shape, and filtering at the quad's edge
        // would pull them in. They become black.
        const std::vector<uint8_t> zeros(static_cast<size_t>(std::max(w, h) + 1) * 4 * image->bytesPerChannel, 0);
        if (w < t.width) glTexSubImage2D(GL_TEXTURE_2D, 0, w, 0, 1, std::min<GLsizei>(h + 1, t.height), format, type, zeros.data());
        if (h < t.height) glTexSubImage2D(GL_TEXTURE_2D, 0, 0, h, std::min<GLsizei>(w + 1, t.width), 1, format, type, zeros.data());
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glBindTexture(GL_TEXTURE_2D, 0);
    return CheckOpenGL(__LINE__, GL_CAPTION_UNEXPECTED, "LoadShapeTexture() - Load of effect texture bitmap into OpenGL failed.");
}

// Renders sub-shape (0, 0) at the nine brightness levels and loads them.
bool BuildShapeTextures(PreviewShapeKind kind, GLShapeCache* cache) {
    ShapeCache* shape = &cache->shape;
    ReleaseShapeCache(shape);
    shape->shapeType = SHAPE_IMAGE;
    shape->generator = kGenerators[kind];
    shape->parameters = &cache->current;
    shape->builtWith = &cache->texturesFrom;
    if (!shape->generator(shape, 0, 0)) return false;
    const SubShapeEntry& entry = shape->entry[0][0];
    GLint largest = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
    const int32_t maxSize = std::max<GLint>(largest, 64);
    int32_t width = std::max(1, std::min(entry.right - entry.left, maxSize));
    int32_t height = std::max(1, std::min(entry.bottom - entry.top, maxSize));
    int32_t imageWidth = width, imageHeight = height;
    if (MustUsePowerOfTwoSizedTextures()) {
        imageWidth = static_cast<int32_t>(PowerOfTwoAtLeast(width));
        imageHeight = static_cast<int32_t>(PowerOfTwoAtLeast(height));
    }
    cache->left = entry.left - 0.5f;
    cache->top = entry.top - 0.5f;
    cache->right = entry.left + width - 0.5f;
    cache->bottom = entry.top + height - 0.5f;

    Image image;
    ImageRect rect = {0, 0, imageWidth, imageHeight};
    ColorProfile display = GetDisplayProfile(nullptr);
    bool ok = true;
    for (int level = 0; level < SHAPE_TEXTURE_LEVELS && ok; ++level) {
        if (PreviewAbortRequested()) {
            ok = false;
            break;
        }
        // Effects are drawn in the working space, then brought to the display.
        ok = CreateImage(&image, rect, rect, SixteenBitTextures() ? IMAGE_MODE_RGB16 : IMAGE_MODE_RGB8,
                         GetWorkingProfile(), false, false);
        if (!ok) break;
        std::memset(image.pixels.pointer, 0, image.pixels.size);
        uint32_t value = kFull >> (8 - level);
        ShapeColor colour = {value, value, value, kFull};
        ShapePosition at = {-entry.left, 0, -entry.top, 0};
        ok = DrawShapeInto(&image, rect, shape, colour, at, BLEND_PREMULTIPLY) &&
             ConvertColorOf(&image, display, true);
        if (ok) {
            LinearizeImage(&image);
            ok = LoadShapeTexture(cache, level, &image);
        }
    }
    ReleaseImage(&image);
    // The shape fills the corner of the texture storage, which is kept when a
    // shape shrinks: coordinates are measured against the storage.
    const ShapeTexture& storage = cache->textures[EntryOfLevel(0)];
    cache->uMax = storage.width > 0 ? static_cast<float>(width) / storage.width : 1.0f;
    cache->vMax = storage.height > 0 ? static_cast<float>(height) / storage.height : 1.0f;
    cache->texturesValid = ok;
    cache->texturesFrom = cache->current;
    if (ok) ++cache->stats.textureBuilds;
    return ok;
}

// ---- quads ----

bool ReportLowMemory() {
    ReportEffectsDroppedForLowMemory();
    return false;
}

ShapeVertex* BlockVertices(VertexBlock& b) { return static_cast<ShapeVertex*>(b.vertices.pointer); }

bool CopyShapeVerticesToVBO(GLShapeCache* cache, size_t block) {
    VertexBlock& b = cache->blocks[block];
    if (!b.vertexBuffer) GenBuffer(&b.vertexBuffer);
    if (!b.vertexBuffer) {
        ReportUnexpected(__LINE__, "The Vertex Buffer Object does not exist and could not be created.");
        return false;
    }
    uint32_t first = static_cast<uint32_t>(block) * QUADS_PER_VERTEX_BLOCK;
    uint32_t quads = std::min<uint32_t>(QUADS_PER_VERTEX_BLOCK, cache->quadCount - first);
    BindBuffer(GL_ARRAY_BUFFER, b.vertexBuffer);
    BufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(quads) * 4 * sizeof(ShapeVertex), b.vertices.pointer,
               GL_STATIC_DRAW);
    BindBuffer(GL_ARRAY_BUFFER, 0);
    if (!GL_OK("CopyShapeVerticesToVBO() - OpenGL function error detected.")) return false;
    for (int e = 0; e < kEntries; ++e) {
        if (block >= cache->indexBlocks[e].size()) continue;
        IndexBlock& ib = cache->indexBlocks[e][block];
        if (!ib.count) continue;
        if (!ib.elementBuffer) GenBuffer(&ib.elementBuffer);
        if (!ib.elementBuffer) {
            ReportUnexpected(__LINE__, "The Element Vertex Buffer Object does not exist and could not be created.");
            return false;
        }
        BindBuffer(GL_ELEMENT_ARRAY_BUFFER, ib.elementBuffer);
        BufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(ib.count) * sizeof(uint16_t), ib.indices.pointer,
                   GL_STATIC_DRAW);
        BindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
        if (!GL_OK("CopySubShapeIndicesToVBO() - OpenGL function error detected.")) return false;
    }
    return true;
}

// Appends one quad: the texture extent around `centre`, rotated by `angle`
// (tenths of a degree, clockwise on screen), in the colour, using the level's texture.
bool AddQuad(GLShapeCache* cache, float cx, float cy, int32_t angle, const float rgb[3], int level) {
    uint32_t block = cache->quadCount / QUADS_PER_VERTEX_BLOCK;
    uint32_t inBlock = cache->quadCount % QUADS_PER_VERTEX_BLOCK;
    if (block >= cache->blocks.size()) cache->blocks.push_back(VertexBlock{});
    VertexBlock& b = cache->blocks[block];
    if (!b.vertices.pointer && ReallocateBuffer(static_cast<uint64_t>(kVerticesPerBlock) * sizeof(ShapeVertex), &b.vertices) != 0)
        return ReportLowMemory();
    int entry = EntryOfLevel(level);
    std::vector<IndexBlock>& indexBlocks = cache->indexBlocks[entry];
    while (indexBlocks.size() <= block) indexBlocks.push_back(IndexBlock{});
    IndexBlock& ib = indexBlocks[block];
    uint64_t needed = (static_cast<uint64_t>(ib.count) + 4) * sizeof(uint16_t);
    if (ib.indices.size < needed &&
        ReallocateBufferPreserveContents(std::max<uint64_t>(needed, ib.indices.size + 4096), &ib.indices) != 0)
        return ReportLowMemory();

    const int32_t theta = ReduceAngle(angle);
    const float s = SineTable[theta], c = SineTable[(theta + 900) % ANGLE_STEPS];
    // Bottom-left, bottom-right, top-right, top-left: front-facing on the
    // y-down projection, so culling keeps it.
    const float corners[4][2] = {{cache->left, cache->bottom}, {cache->right, cache->bottom},
                                 {cache->right, cache->top}, {cache->left, cache->top}};
    const float uv[4][2] = {{0, cache->vMax}, {cache->uMax, cache->vMax}, {cache->uMax, 0}, {0, 0}};
    ShapeVertex* v = BlockVertices(b) + static_cast<size_t>(inBlock) * 4;
    for (int i = 0; i < 4; ++i) {
        float px = corners[i][0], py = corners[i][1];
        v[i] = {rgb[0], rgb[1], rgb[2], 1.0f, uv[i][0], uv[i][1], cx + px * c - py * s, cy + px * s + py * c};
    }
    auto* indices = static_cast<uint16_t*>(ib.indices.pointer) + ib.count;
    for (int i = 0; i < 4; ++i) indices[i] = static_cast<uint16_t>(inBlock * 4 + i);
    ib.count += 4;
    ++cache->quadCount;
    return true;
}

void ClearQuads(GLShapeCache* cache) {
    cache->quadCount = 0;
    for (auto& list : cache->indexBlocks)
        for (IndexBlock& ib : list) ib.count = 0;
}

bool BuildQuads(PreviewShapeKind kind, GLShapeCache* cache, const LightSourceList* table, bool gray) {
    ClearQuads(cache);
    const ParameterSet& p = cache->current;
    const uint32_t threshold = QuantityThreshold(p.quantity);
    const LightSource* sources = LightSourceRecords(table);
    const double ringFactor = (p.ringFlareIntensity / 100.0) * (p.ringFlareIntensity / 100.0);
    bool ok = cache->texturesValid;
    for (uint32_t i = 0; ok && table && i < table->count; ++i) {
        // A new vertex block, and every 4096 light sources: the user may have moved on.
        if ((cache->quadCount % QUADS_PER_VERTEX_BLOCK == 0 || i % 4096 == 0) && PreviewAbortRequested()) {
            ok = false;
            break;
        }
        uint32_t I = 0;
        if (!SelectLightSource(sources[i], threshold, &I) || I <= EffectThreshold) continue;
        uint32_t rgb[3] = {sources[i].red, sources[i].green, sources[i].blue};
        if (!gray) ColourLightSource(rgb, p);
        const double unitI = I / 4294967294.0;
        const float cx = sources[i].x + 0.5f + sources[i].xQuarter / 4.0f;
        const float cy = sources[i].y + 0.5f + sources[i].yQuarter / 4.0f;
        auto colour = [&](double intensity, float out[3]) {
            for (int c = 0; c < 3; ++c) out[c] = static_cast<float>(rgb[c] / 16777215.0 * intensity);
            return ChooseShapeLevel(out);
        };
        float c[3];
        switch (kind) {
            case PREVIEW_MAIN_SPIKES: {
                if (p.intensity <= 0 || p.numberOfPoints <= 0) break;
                int level = colour(p.intensity / 100.0 * unitI, c);
                for (int32_t k = 0; ok && k < p.numberOfPoints; ++k)
                    ok = AddQuad(cache, cx, cy, p.angle - 900 + (k * ANGLE_STEPS) / p.numberOfPoints, c, level);
                break;
            }
            case PREVIEW_SECONDARY_SPIKES: {
                if (p.secondarySpikeIntensity <= 0) break;
                for (int k = 0; ok && k < SECONDARY_SPIKE_COUNT; ++k) {
                    const SecondarySpike& spike = SecondarySpikeTable[k];
                    int level = colour(p.secondarySpikeIntensity / 100.0 * spike.weight / 100.0 * unitI, c);
                    ok = AddQuad(cache, cx, cy, p.angle - 900 + spike.offset, c, level);
                }
                break;
            }
            case PREVIEW_SOFT_FLARE:
                if (p.softFlareIntensity > 0) ok = AddQuad(cache, cx, cy, 0, c, colour(p.softFlareIntensity / 100.0 * unitI, c));
                break;
            default:
                if (p.ringFlareIntensity > 0) ok = AddQuad(cache, cx, cy, 0, c, colour(ringFactor * unitI, c));
                break;
        }
    }
    // Every block in use is copied once its quads are all there: blocks kept
    // from an earlier, larger build hold that build's vertices until then.
    const uint32_t inUse = (cache->quadCount + QUADS_PER_VERTEX_BLOCK - 1) / QUADS_PER_VERTEX_BLOCK;
    for (uint32_t block = 0; ok && UseBufferObjects() && block < inUse; ++block) ok = CopyShapeVerticesToVBO(cache, block);
    cache->stats.quads = cache->quadCount;
    cache->stats.vertexBlocks = (cache->quadCount + QUADS_PER_VERTEX_BLOCK - 1) / QUADS_PER_VERTEX_BLOCK;
    ++cache->stats.quadBuilds;
    if (ok) cache->builtWith = cache->current;
    return ok;
}

bool DrawCompositeOpenGLShape(GLShapeCache* cache) {
    uint32_t blocks = (cache->quadCount + QUADS_PER_VERTEX_BLOCK - 1) / QUADS_PER_VERTEX_BLOCK;
    for (uint32_t block = 0; block < blocks; ++block) {
        VertexBlock& b = cache->blocks[block];
        const uint8_t* base = nullptr;
        if (b.vertexBuffer && UseBufferObjects()) {
            BindBuffer(GL_ARRAY_BUFFER, b.vertexBuffer);
        } else {
            base = static_cast<const uint8_t*>(b.vertices.pointer);
        }
        glColorPointer(4, GL_FLOAT, sizeof(ShapeVertex), base);
        glTexCoordPointer(2, GL_FLOAT, sizeof(ShapeVertex), base + 16);
        glVertexPointer(2, GL_FLOAT, sizeof(ShapeVertex), base + 24);
        for (int e = 0; e < kEntries; ++e) {
            if (block >= cache->indexBlocks[e].size()) continue;
            IndexBlock& ib = cache->indexBlocks[e][block];
            if (!ib.count) continue;
            glBindTexture(GL_TEXTURE_2D, cache->textures[e].texture);
            if (ib.elementBuffer && UseBufferObjects()) {
                BindBuffer(GL_ELEMENT_ARRAY_BUFFER, ib.elementBuffer);
                glDrawElements(GL_QUADS, static_cast<GLsizei>(ib.count), GL_UNSIGNED_SHORT, nullptr);
                BindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
            } else {
                glDrawElements(GL_QUADS, static_cast<GLsizei>(ib.count), GL_UNSIGNED_SHORT, ib.indices.pointer);
            }
        }
        if (b.vertexBuffer && UseBufferObjects()) BindBuffer(GL_ARRAY_BUFFER, 0);
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    return GL_OK("DrawCompositeOpenGLShape() - OpenGL function error detected.");
}

void ReleaseCache(GLShapeCache* cache) {
    for (VertexBlock& b : cache->blocks) {
        DeleteBuffer(&b.vertexBuffer);
        DeallocateBuffer(&b.vertices);
    }
    cache->blocks.clear();
    for (auto& list : cache->indexBlocks) {
        for (IndexBlock& ib : list) {
            DeleteBuffer(&ib.elementBuffer);
            DeallocateBuffer(&ib.indices);
        }
        list.clear();
    }
    for (ShapeTexture& t : cache->textures) {
        if (t.texture) glDeleteTextures(1, &t.texture);
        DeleteBuffer(&t.pixelBuffer);
        t = ShapeTexture{};
    }
    ReleaseShapeCache(&cache->shape);
    cache->quadCount = 0;
    cache->texturesValid = false;
}

}  // namespace

int32_t ChooseShapeLevel(float rgb[3]) {
    int32_t level = 0;
    while (level < 8 && std::max({rgb[0], rgb[1], rgb[2]}) > 1.0f) {
        for (int c = 0; c < 3; ++c) rgb[c] *= 0.5f;
        ++level;
    }
    return level;
}

bool InitializePreviewShapes() {
    if (gReady) DestroyFilterEffects_OpenGL();
    InitializeEffectTables();
    if (!GetShapeCreationMutex()) CreateShapeCreationMutex();
    GLuint names[PREVIEW_SHAPE_KINDS * kEntries] = {};
    glGenTextures(PREVIEW_SHAPE_KINDS * kEntries, names);
    const GLint filter = GPUAccelerated() ? GL_LINEAR : GL_NEAREST;
    for (int kind = 0; kind < PREVIEW_SHAPE_KINDS; ++kind) {
        GLShapeCache* cache = &gCaches[kind];
        ReleaseCache(cache);
        std::memset(&cache->builtWith, 0xFF, sizeof(ParameterSet));
        std::memset(&cache->texturesFrom, 0xFF, sizeof(ParameterSet));
        cache->stats = PreviewShapeStats{};
        for (int e = 0; e < kEntries; ++e) {
            ShapeTexture& t = cache->textures[e];
            t.texture = names[kind * kEntries + e];
            glBindTexture(GL_TEXTURE_2D, t.texture);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
            if (UsePixelBufferObjects()) GenBuffer(&t.pixelBuffer);
        }
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    gReady = GL_OK("OpenGL Function Failed");
    return gReady;
}

bool DrawPreviewEffects(const ParameterSet& set, const LightSourceList* table, bool grayImage,
                        void (*cacheDone)()) {
    if (!gReady) return false;
    bool ok = true;
    for (int kind = 0; kind < PREVIEW_SHAPE_KINDS && ok; ++kind) {
        if (PreviewAbortRequested()) {
            ok = false;
            break;
        }
        GLShapeCache* cache = &gCaches[kind];
        cache->current = Adjusted(static_cast<PreviewShapeKind>(kind), set);
        if (!QuadsCurrent(static_cast<PreviewShapeKind>(kind), cache->current, cache->builtWith)) {
            if (!cache->texturesValid ||
                !TexturesCurrent(static_cast<PreviewShapeKind>(kind), cache->current, cache->texturesFrom))
                ok = BuildShapeTextures(static_cast<PreviewShapeKind>(kind), cache);
            if (ok) ok = BuildQuads(static_cast<PreviewShapeKind>(kind), cache, table, grayImage);
        }
        if (cacheDone) cacheDone();
    }
    // An aborted frame is never shown: nothing to draw.
    if (PreviewAbortRequested()) return false;
    // Every effect is whole again: a later shortage is worth a new warning.
    if (ok) RearmLowMemoryWarning();
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT);
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glEnableClientState(GL_COLOR_ARRAY);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    bool drawn = true;
    for (GLShapeCache& cache : gCaches) drawn = DrawCompositeOpenGLShape(&cache) && drawn;
    glPopAttrib();
    glPopClientAttrib();
    return ok && drawn;
}

void DestroyFilterEffects_OpenGL() {
    for (GLShapeCache& cache : gCaches) ReleaseCache(&cache);
    GL_OK("OpenGL Function Failed in DestroyFilterEffects_OpenGL().");
    gReady = false;
}

const PreviewShapeStats& PreviewShapeStatistics(PreviewShapeKind kind) { return gCaches[kind].stats; }
