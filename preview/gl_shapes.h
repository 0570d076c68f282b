// The preview's effects on the card. Each effect kind is rendered once, for
// a light source at a pixel's corner, into nine textures of rising
// brightness (level n is 2^n brighter than level 0, clipped at full scale);
// every selected light source is then drawn as textured, coloured quads. A
// colour above full scale halves its way into range and picks the level
// that makes up for it, so vertex colours stay within 0..1.
//
// Four caches, drawn in this order: main spikes, secondary spikes, soft
// flare, ring flare. Used only on the preview thread with its context current.
#pragma once

#include <cstdint>

#include "analysis/light_source_table.h"
#include "effects/parameter_set.h"
#include "effects/shape_cache.h"

enum PreviewShapeKind : int32_t {
    PREVIEW_MAIN_SPIKES = 0,
    PREVIEW_SECONDARY_SPIKES = 1,
    PREVIEW_SOFT_FLARE = 2,
    PREVIEW_RING_FLARE = 3,
    PREVIEW_SHAPE_KINDS = 4,
};

constexpr int SHAPE_TEXTURE_LEVELS = 9;
constexpr uint32_t QUADS_PER_VERTEX_BLOCK = 16383;  // 65532 vertices: 16-bit indices suffice

// One vertex: colour, texture coordinates, position (image pixels).
struct ShapeVertex {
    float red, green, blue, alpha;
    float u, v;
    float x, y;
};
static_assert(sizeof(ShapeVertex) == 32, "a vertex is 32 bytes");

// Statistics of the last builds, for tests and the log.
struct PreviewShapeStats {
    uint32_t textureBuilds;  // times a cache's nine textures were rendered
    uint32_t quadBuilds;     // times a cache's quads were rebuilt
    uint32_t quads;          // quads of the cache's current build
    uint32_t vertexBlocks;   // vertex blocks in use
};

// Set-up with the preview context current: the effect tables, 64 textures
// (16 per cache) and the caches. False when OpenGL failed.
bool InitializePreviewShapes();
// Per frame: rebuilds what changed for `set` and draws all four caches with
// the current blending. `table` is the light source table (read under the
// caller's lock); `grayImage` keeps spike colours grey. `cacheDone`, when
// given, is called after each cache's build (the dialog's progress). The
// preview's abort request is polled per cache, per texture level and per
// vertex block: an aborted build stops at once and is made again next frame.
// False when a build failed or was aborted (the frame shows what exists).
bool DrawPreviewEffects(const ParameterSet& set, const LightSourceList* table, bool grayImage,
                        void (*cacheDone)() = nullptr);
// Deletes the textures and buffer objects and releases the four caches.
void DestroyFilterEffects_OpenGL();

const PreviewShapeStats& PreviewShapeStatistics(PreviewShapeKind kind);
// The texture level a colour needs: how many halvings bring the largest
// channel to at most 1.0 (at most 8); the channels are halved in place.
int32_t ChooseShapeLevel(float rgb[3]);
