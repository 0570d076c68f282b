// Texture sets: one rectangular region of pixels held on the card as a grid
// of textured tiles, so that regions larger than the card's largest texture,
// or not power-of-two sized, can be drawn. A set is filled from an image in
// memory (a preview pyramid level, the splash bitmap) or from the frame
// buffer (the rendered effects, the composed frame) and drawn as one quad per
// tile. Neighbouring tiles overlap by two pixels; each draws its own part only.
//
// Everything here runs on the preview thread with the preview context current.
// A failed step reports, returns false and leaves the set usable: the next
// refill tries again.
#pragma once

#include <windows.h>

#include <cstdint>

#include "gl/gl_rules.h"
#include "image/image.h"
#include "image/tracked_buffer.h"

struct Tile {
    uint32_t texture;                    // 0 until generated
    int32_t left, top, right, bottom;    // source pixels (window pixels for frame-buffer sets)
    int32_t width, height;
    int32_t textureLeft, textureTop, textureRight, textureBottom;  // the texture's extent at the tile's origin
    int32_t textureWidth, textureHeight;
    uint8_t needsAllocation;             // the next upload defines the texture's storage
};

// Four vertices per tile, (s, t, x, y) each, bottom-left, bottom-right,
// top-right, top-left: 128 bytes, drawn as one quad.
struct TileVertex {
    double s, t, x, y;
};
static_assert(sizeof(TileVertex) * 4 == 128, "a tile's quad is 128 bytes");

struct TextureSet {
    uint64_t tileCount;
    uint64_t tileCapacity;  // never shrinks
    int32_t magFilter, minFilter, wrapS, wrapT;
    TileRect textureBounds;  // union of the tiles' texture extents
    uint32_t frameBuffer, renderBuffer;
    int32_t renderBufferWidth, renderBufferHeight;
    uint32_t vertexBuffer, vertexBufferUsage;
    bool vertexBufferStale;
    uint32_t pixelBuffer, pixelBufferUsage;
    uint64_t pixelBufferSize;
    bool scaled;           // host image: level pixels map back to full-image units
    bool flipVertical;     // source rows run bottom-up
    bool gammaOnReadBack;  // display gamma applied to pixels read from the frame buffer
    int32_t regionWidth, regionHeight;
    double scaleX, scaleY;  // 0 for frame-buffer sets
    TrackedBuffer tiles;    // Tile[tileCapacity]
    TrackedBuffer vertices; // TileVertex[4 * tileCapacity]
    TrackedBuffer staging;  // read-back and padding pixels
};

// The four sets of the preview.
TextureSet* HostImageTextureSet();
TextureSet* EffectsTextureSet();
TextureSet* CompositeTextureSet();
TextureSet* SplashTextureSet();

// Storage format of every tile texture: the 16-bit format when accelerated
// and optimising for quality, else the 8-bit one; and the type and bytes per
// pixel of frame-buffer reads that go with it.
uint32_t TextureStorageFormat();
uint32_t ReadBackDataType();
uint32_t ReadBackBytesPerPixel();

// Makes the four sets and their buffer objects as the drawing settings allow.
// `gammaShaderCreated`: the composite set applies gamma on read-back when the
// context is accelerated and no gamma shader exists.
bool InitializeTextureSets(bool gammaShaderCreated);
void ReleaseTextureSet(TextureSet* set);

// The largest usable square texture (halving from GL_MAX_TEXTURE_SIZE until a
// proxy texture takes it), limited to the viewport and rounded down to powers
// of two when asked.
bool GetMaximumTextureSize(bool powerOfTwoOnly, bool limitToViewport, int32_t* width, int32_t* height);
// Test hook: caps the maximum texture size (0 removes the cap), so that small
// regions are cut into many tiles.
void SetMaximumTextureSizeForTesting(int32_t size);
// Lays the tiles over `region` (see LayTiles) and gives each a texture large enough.
bool SubdivideImage(TextureSet* set, const TileRect& region, int32_t maxWidth, int32_t maxHeight);
// Uploads the part of `image` that the visible rectangle shows at `zoom`
// (scroll offset in full-image pixels, scale pair of the image level).
bool CreateTextureSetFromImage(const RECT& visible, TextureSet* set, const Image* image, double scaleX, double scaleY,
                               POINT scroll, double zoom);
// Copies a rectangle of the window (window pixels, y downwards) from the frame buffer.
bool CreateTextureSetFromFramebuffer(const RECT& rect, TextureSet* set);
bool DrawImageTextureSet(TextureSet* set);
bool UpdateVertexBuffer(TextureSet* set);
bool AttachFBOWithRenderBuffer(TextureSet* set, int32_t width, int32_t height);
void DetachFBO();

// The preview's sets. The effects are drawn by the function given here (the
// preview's shape drawer); without one the effects set holds a cleared frame.
typedef bool (*EffectsDrawProc)();
void SetEffectsDrawProc(EffectsDrawProc draw);
bool CreateHostImageTextureSet(const RECT& visible, POINT scroll, double zoom);
bool CreateEffectsTextureSet(const RECT& visible, POINT scroll, double zoom);
bool CreateSplashTextureSet(HBITMAP splash);
// Draw with opaque white, blending (ONE, ZERO) and the gamma program when it exists.
bool DrawSplashWithGamma();
bool DrawCompositeWithGamma();

// Applies display gamma 2.2 to the colour channels of `count` RGBA pixels of
// `dataType` (alpha untouched). False, reported, for an unknown type.
bool ApplyReadBackGamma(void* pixels, uint64_t count, uint32_t dataType);
