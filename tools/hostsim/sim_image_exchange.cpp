// advanceState, progressProc and abortProc: how the simulated host hands image
// data to the plug-in and takes the results back.
//
// Each advanceState first commits the output buffer handed out before into
// the document, then fills new buffers for the rectangles and planes now set
// in the record: planes lo..hi interleaved per pixel, rows `rowBytes` apart,
// sampled every `rate` pixels (inputRate / maskRate, 16.16 fixed point, 0
// read as 1). Input outside the image is padded as inputPadding asks.
// Host profiles change this as their hosts do (HostOptions: planesFromZero,
// refillOnlyOnNewRectangle, outputFromOriginal, maxPlanesPerRequest).
#include <cstring>

#include "tools/hostsim/sim_state.h"

namespace {

VRect ToVRect(const Rect& r) { return VRect{r.top, r.left, r.bottom, r.right}; }

bool IsEmpty(const VRect& r) { return r.right <= r.left || r.bottom <= r.top; }

const char* kPaddingNames = "0..255, -1 (replicate edges), -2 (no padding) or -3 (error)";

// The sampling step for a 16.16 rate: 0 and anything up to 1.0 mean every pixel.
int32 StepForRate(Fixed rate) {
    if (rate <= kFixedOne) return 1;
    return (rate + kFixedOne - 1) / kFixedOne;
}

int32 Ceil(int32 a, int32 b) { return (a + b - 1) / b; }

void StoreSample(uint8_t* to, int32 bytes, double value) {
    switch (bytes) {
        case 1: *to = static_cast<uint8_t>(value); break;
        case 2: {
            uint16_t v = static_cast<uint16_t>(value);
            std::memcpy(to, &v, 2);
            break;
        }
        default: {
            float v = static_cast<float>(value);
            std::memcpy(to, &v, 4);
            break;
        }
    }
}

// A padding byte value as a sample of the document's depth.
double PaddingSample(int16 padding, int16 mode) { return padding * SimWhite(mode) / 255.0; }

}  // namespace

bool SimState::UsingBig() const {
    return record && record->bigDocumentData == &big && big.PluginUsing32BitCoordinates == 1;
}

bool SimState::AnyRectangleSet() const {
    if (!record) return false;
    if (UsingBig()) return !IsEmpty(big.inRect32) || !IsEmpty(big.outRect32) || !IsEmpty(big.maskRect32);
    return !IsEmpty(ToVRect(record->inRect)) || !IsEmpty(ToVRect(record->outRect)) ||
           !IsEmpty(ToVRect(record->maskRect));
}

void SimState::CheckBufferGuards() {
    struct Named {
        SimImageBuffer* buffer;
        const char* name;
    } buffers[] = {{&in, "inData"}, {&out, "outData"}, {&mask, "maskData"}};
    for (const Named& b : buffers) {
        if (!b.buffer->active) continue;
        size_t before = 0, after = 0;
        if (b.buffer->memory.GuardsIntact(&before, &after)) continue;
        const VRect& r = b.buffer->rect;
        if (after)
            Violation("the plug-in wrote up to %zu bytes past the end of %s (%zu bytes for rectangle %d,%d-%d,%d, "
                      "rowBytes %d)",
                      after, b.name, b.buffer->memory.Size(), r.left, r.top, r.right, r.bottom, b.buffer->rowBytes);
        if (before)
            Violation("the plug-in wrote up to %zu bytes before the start of %s (rectangle %d,%d-%d,%d)", before,
                      b.name, r.left, r.top, r.right, r.bottom);
        b.buffer->memory.RestoreGuards();
    }
}

void SimState::CommitOutput() {
    if (!outPending || !out.active) return;
    outPending = false;
    SimDocument& document = owner->document;
    const int32 b = document.BytesPerSample();
    const int32 planes = out.hiPlane - out.loPlane + 1;
    for (int32 row = 0; row < out.rows; row++) {
        const uint8_t* from = out.memory.Data() + static_cast<size_t>(row) * out.rowBytes;
        for (int32 column = 0; column < out.columns; column++) {
            for (int32 p = 0; p < planes; p++, from += b)
                std::memcpy(document.SampleAddress(out.loPlane + p, out.rect.left + column, out.rect.top + row), from,
                            static_cast<size_t>(b));
        }
    }
}

void SimState::ReleaseImageBuffers() {
    CheckBufferGuards();
    for (SimImageBuffer* buffer : {&in, &out, &mask}) {
        buffer->memory.Release();
        buffer->active = false;
    }
    outPending = false;
    if (record) {
        record->inData = nullptr;
        record->outData = nullptr;
        record->maskData = nullptr;
    }
}

namespace {

struct Request {
    VRect rect;
    int16 lo, hi;
};

// Checks the planes of a non-empty request. False (with the violation
// recorded) when the plug-in asks for planes the document does not have.
bool PlanesValid(SimState& state, const char* which, int16 lo, int16 hi) {
    const int32 count = state.owner->document.PlaneCount();
    if (lo < 0 || hi < lo || hi >= count) {
        state.Violation("advanceState: %sLoPlane..%sHiPlane = %d..%d, but the document has planes 0..%d", which,
                        which, lo, hi, count - 1);
        return false;
    }
    return true;
}

// Fills the input buffer. False with an error code when the request cannot be served.
OSErr FillInput(SimState& state, const Request& request) {
    SimDocument& document = state.owner->document;
    FilterRecord* record = state.record;
    SimImageBuffer& buffer = state.in;
    const int16 padding = record->inputPadding;
    const VRect& r = request.rect;
    const bool outside = r.left < 0 || r.top < 0 || r.right > document.width || r.bottom > document.height;
    if (outside) {
        if (padding == -3) return paramErr;  // the plug-in asked for an error outside the image
        if (padding < -3 || padding > 255) {
            state.Violation("advanceState: inRect %d,%d-%d,%d reaches outside the image and inputPadding is %d, "
                            "not one of %s",
                            r.left, r.top, r.right, r.bottom, padding, kPaddingNames);
            return paramErr;
        }
    }
    const int32 step = StepForRate(record->inputRate);
    const int32 b = document.BytesPerSample();
    const int32 planes = request.hi - request.lo + 1;
    buffer.rect = r;
    buffer.loPlane = request.lo;
    buffer.hiPlane = request.hi;
    buffer.rate = step;
    buffer.columns = Ceil(r.right - r.left, step);
    buffer.rows = Ceil(r.bottom - r.top, step);
    buffer.rowBytes = buffer.columns * planes * b + state.options.rowSlack;
    buffer.planeBytes = static_cast<size_t>(b);
    buffer.memory.Allocate(static_cast<size_t>(buffer.rowBytes) * buffer.rows, 0xCD);
    buffer.active = true;
    for (int32 row = 0; row < buffer.rows; row++) {
        uint8_t* to = buffer.memory.Data() + static_cast<size_t>(row) * buffer.rowBytes;
        const int32 y = r.top + row * step;
        for (int32 column = 0; column < buffer.columns; column++) {
            const int32 x = r.left + column * step;
            const bool inside = x >= 0 && y >= 0 && x < document.width && y < document.height;
            for (int32 p = 0; p < planes; p++, to += b) {
                const int32 plane = request.lo + p;
                if (inside) {
                    std::memcpy(to, document.SampleAddress(plane, x, y), static_cast<size_t>(b));
                } else if (padding == -1) {
                    const int32 cx = x < 0 ? 0 : x >= document.width ? document.width - 1 : x;
                    const int32 cy = y < 0 ? 0 : y >= document.height ? document.height - 1 : y;
                    std::memcpy(to, document.SampleAddress(plane, cx, cy), static_cast<size_t>(b));
                } else if (padding >= 0) {
                    StoreSample(to, b, PaddingSample(padding, document.mode));
                }  // -2: left as it is
            }
        }
    }
    record->inData = buffer.memory.Data();
    record->inRowBytes = buffer.rowBytes;
    record->inColumnBytes = state.options.reportColumnBytes ? planes * b : 0;
    record->inPlaneBytes = b;
    return noErr;
}

OSErr FillOutput(SimState& state, const Request& request) {
    SimDocument& document = state.owner->document;
    FilterRecord* record = state.record;
    SimImageBuffer& buffer = state.out;
    const VRect& r = request.rect;
    if (r.left < 0 || r.top < 0 || r.right > document.width || r.bottom > document.height) {
        state.Violation("advanceState: outRect %d,%d-%d,%d reaches outside the %d x %d image", r.left, r.top, r.right,
                        r.bottom, document.width, document.height);
        return paramErr;
    }
    const int32 b = document.BytesPerSample();
    const int32 planes = request.hi - request.lo + 1;
    buffer.rect = r;
    buffer.loPlane = request.lo;
    buffer.hiPlane = request.hi;
    buffer.rate = 1;
    buffer.columns = r.right - r.left;
    buffer.rows = r.bottom - r.top;
    buffer.rowBytes = buffer.columns * planes * b + state.options.rowSlack;
    buffer.planeBytes = static_cast<size_t>(b);
    buffer.memory.Allocate(static_cast<size_t>(buffer.rowBytes) * buffer.rows, 0xCD);
    buffer.active = true;
    SimDocument& source = state.options.outputFromOriginal && state.snapshotTaken ? state.snapshot : document;
    if (state.options.fillOutputFromDocument) {
        for (int32 row = 0; row < buffer.rows; row++) {
            uint8_t* to = buffer.memory.Data() + static_cast<size_t>(row) * buffer.rowBytes;
            for (int32 column = 0; column < buffer.columns; column++)
                for (int32 p = 0; p < planes; p++, to += b)
                    std::memcpy(to, source.SampleAddress(request.lo + p, r.left + column, r.top + row),
                                static_cast<size_t>(b));
        }
    }
    state.outPending = true;
    record->outData = buffer.memory.Data();
    record->outRowBytes = buffer.rowBytes;
    record->outColumnBytes = state.options.reportColumnBytes ? planes * b : 0;
    record->outPlaneBytes = b;
    return noErr;
}

OSErr FillMask(SimState& state, const VRect& r) {
    SimDocument& document = state.owner->document;
    FilterRecord* record = state.record;
    SimImageBuffer& buffer = state.mask;
    const int16 padding = record->maskPadding;
    const bool outside = r.left < 0 || r.top < 0 || r.right > document.width || r.bottom > document.height;
    if (outside && (padding < -3 || padding > 255 || padding == -3)) {
        if (padding != -3)
            state.Violation("advanceState: maskRect %d,%d-%d,%d reaches outside the image and maskPadding is %d, "
                            "not one of %s",
                            r.left, r.top, r.right, r.bottom, padding, kPaddingNames);
        return paramErr;
    }
    const int32 step = StepForRate(record->maskRate);
    buffer.rect = r;
    buffer.loPlane = 0;
    buffer.hiPlane = 0;
    buffer.rate = step;
    buffer.columns = Ceil(r.right - r.left, step);
    buffer.rows = Ceil(r.bottom - r.top, step);
    buffer.rowBytes = buffer.columns + state.options.rowSlack;
    buffer.planeBytes = 1;
    buffer.memory.Allocate(static_cast<size_t>(buffer.rowBytes) * buffer.rows, 0xCD);
    buffer.active = true;
    for (int32 row = 0; row < buffer.rows; row++) {
        uint8_t* to = buffer.memory.Data() + static_cast<size_t>(row) * buffer.rowBytes;
        const int32 y = r.top + row * step;
        for (int32 column = 0; column < buffer.columns; column++, to++) {
            const int32 x = r.left + column * step;
            if (x >= 0 && y >= 0 && x < document.width && y < document.height) {
                *to = document.MaskAt(x, y);
            } else if (padding == -1) {
                *to = document.MaskAt(x < 0 ? 0 : x >= document.width ? document.width - 1 : x,
                                      y < 0 ? 0 : y >= document.height ? document.height - 1 : y);
            } else if (padding >= 0) {
                *to = static_cast<uint8_t>(padding);
            }
        }
    }
    record->maskData = buffer.memory.Data();
    record->maskRowBytes = buffer.rowBytes;
    return noErr;
}

}  // namespace

OSErr SimState::AdvanceState() {
    run.advanceStateCalls++;
    CheckCaller("advanceState");
    if (!record) return paramErr;
    CheckBufferGuards();
    if (cancelled) {
        ReleaseImageBuffers();
        return userCanceledErr;
    }
    return ServeRectangles();
}

static bool SameRect(const VRect& a, const VRect& b) {
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

OSErr SimState::ServeRectangles() {
    CommitOutput();
    const bool big32 = UsingBig();
    Request input{big32 ? big.inRect32 : ToVRect(record->inRect), record->inLoPlane, record->inHiPlane};
    Request output{big32 ? big.outRect32 : ToVRect(record->outRect), record->outLoPlane, record->outHiPlane};
    const VRect maskRect = big32 ? big.maskRect32 : ToVRect(record->maskRect);
    // Without a selection the host has no mask to give: maskData stays NULL.
    const bool wantMask = !IsEmpty(maskRect) && owner->document.hasMask && record->haveMask;

    // A host that refills only for a new rectangle keeps a buffer whose
    // rectangle is asked for again, whatever planes are asked for now.
    auto kept = [this](const SimImageBuffer& buffer, const VRect& rect) {
        return options.refillOnlyOnNewRectangle && buffer.active && !IsEmpty(rect) && SameRect(buffer.rect, rect);
    };
    const bool keepIn = kept(in, input.rect), keepOut = kept(out, output.rect);
    const bool keepMask = wantMask && kept(mask, maskRect);
    struct Slot {
        SimImageBuffer* buffer;
        bool keep;
        void* data;  // the record's pointer field: the packed record may not align it
    } slots[] = {{&in, keepIn, &record->inData}, {&out, keepOut, &record->outData}, {&mask, keepMask, &record->maskData}};
    for (Slot& slot : slots) {
        if (slot.keep) continue;
        slot.buffer->memory.Release();
        slot.buffer->active = false;
        void* none = nullptr;
        std::memcpy(slot.data, &none, sizeof none);
    }
    if (keepOut) outPending = true;  // written back again at the next call

    OSErr error = noErr;
    const int32 limit = options.maxPlanesPerRequest;
    for (const Request* request : {&input, &output}) {
        if (IsEmpty(request->rect)) continue;
        if (!PlanesValid(*this, request == &input ? "in" : "out", request->lo, request->hi)) error = paramErr;
        if (limit > 0 && request->hi - request->lo + 1 > limit) error = paramErr;
    }
    // A host that ignores the low plane serves the same number of planes from plane 0.
    if (options.planesFromZero) {
        input = Request{input.rect, 0, static_cast<int16>(input.hi - input.lo)};
        output = Request{output.rect, 0, static_cast<int16>(output.hi - output.lo)};
    }
    if (error == noErr && !keepIn && !IsEmpty(input.rect)) error = FillInput(*this, input);
    if (error == noErr && !keepOut && !IsEmpty(output.rect)) error = FillOutput(*this, output);
    if (error == noErr && !keepMask && wantMask) error = FillMask(*this, maskRect);

    if (error == noErr && options.enforceMaxSpace) {
        const size_t total = in.memory.Size() + out.memory.Size() + mask.memory.Size();
        if (total > static_cast<size_t>(record->maxSpace)) error = memFullErr;
    }
    if (error != noErr) ReleaseImageBuffers();
    return error;
}

namespace {

OSErr AdvanceStateProcedure() {
    SimState* state = CurrentSim();
    if (!state) return paramErr;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    return state->AdvanceState();
}

void ProgressProcedure(int32 done, int32 total) {
    SimState* state = CurrentSim();
    if (!state) return;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("progressProc");
    state->run.progress.push_back(
        ProgressCall{done, total, state->selector, state->OnHostThread(), std::this_thread::get_id()});
    state->progressCalls++;
    if (done < 0 || total < 0 || done > total)
        state->Violation("progressProc(%d, %d): done must lie between 0 and total", done, total);
}

Boolean AbortProcedure() {
    SimState* state = CurrentSim();
    if (!state) return 0;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("abortProc");
    state->run.abortCalls++;
    const int32 at = state->options.cancelAtProgressCall;
    if (at >= 0 && state->progressCalls >= at) state->cancelled = true;
    state->run.cancelled = state->cancelled;
    return state->cancelled ? 1 : 0;
}

}  // namespace

AdvanceStateProc SimAdvanceStateProc() { return &AdvanceStateProcedure; }
ProgressProc SimProgressProc() { return &ProgressProcedure; }
TestAbortProc SimAbortProc() { return &AbortProcedure; }
