// The analysis task and its section threads.
#include "analysis/analysis_task.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/light_source_analysis.h"
#include "analysis/light_source_table.h"
#include "support/thread_pool.h"
#include "effects/effect_tables.h"
#include "image/color_management.h"
#include "image/fixed_point.h"
#include "image/tracked_buffer.h"
#include "support/debug_log.h"
#include "support/run_result.h"

volatile uint8_t AnalysisStopFlag = 0;

namespace {

struct AnalysisState {
    OsHandle tableMutex = nullptr;
    OsHandle completeEvent = nullptr;
    OsHandle thread = nullptr;
    const Image* hostImage = nullptr;
    uint32_t peak = 0;
    volatile int32_t progressCount = 0;
    int32_t progressTotal = 0;
    Image analysisImage;
    AnalysisErrorHook onError = nullptr;
};
AnalysisState gAnalysis;

struct SectionRecord {
    TrackedBuffer diskParams;
    TrackedBuffer ringParams;
    TrackedBuffer diskShapes;
    TrackedBuffer ringShapes;
    TrackedBuffer deselected;  // the section's flat-area map (one bit per pixel of its rows)
    int32_t left, top, right, bottom;
    ShapeCache* disks;
    int32_t diskCount;
    ShapeCache* rings;
    int32_t ringCount;
    LightSourceList list;
    float scale;
    const Image* source;
    Image* analysisImage;
    OsHandle termination;
    OsHandle thread;
    int32_t index;
    uint32_t peak;
};

bool Stopped() { return OsFlagIsSet(&AnalysisStopFlag); }

std::vector<SectionSpan> Sections(const Image* image) {
    int32_t count = GetProcessorCount();
    if (count > MAX_ANALYSIS_SECTIONS) count = MAX_ANALYSIS_SECTIONS;
    return DivideIntoSections(image->imageRect.top, image->imageRect.bottom, count);
}

bool AllocateRecords(TrackedBuffer* buffer, size_t count) {
    if (ReallocateBuffer(count * sizeof(SectionRecord), buffer) != 0) return false;
    std::memset(static_cast<void*>(buffer->pointer), 0, count * sizeof(SectionRecord));
    SectionRecord* records = static_cast<SectionRecord*>(buffer->pointer);
    for (size_t i = 0; i < count; i++) InitializeLightSourceList(&records[i].list);
    return true;
}

void ReleaseSectionRecord(SectionRecord* record) {
    auto* disks = static_cast<ShapeCache*>(record->diskShapes.pointer);
    auto* rings = static_cast<ShapeCache*>(record->ringShapes.pointer);
    for (int32_t k = 0; disks && k < SHAPE_BANK_SIZE; k++) ReleaseShapeCache(&disks[k]);
    for (int32_t k = 0; rings && k < SHAPE_BANK_SIZE; k++) ReleaseShapeCache(&rings[k]);
    DeallocateBuffer(&record->diskParams);
    DeallocateBuffer(&record->ringParams);
    DeallocateBuffer(&record->diskShapes);
    DeallocateBuffer(&record->ringShapes);
    DeallocateBuffer(&record->deselected);
    ReleaseLightSourceList(&record->list);
    if (record->termination) OsCloseHandle(record->termination);
    record->termination = nullptr;
}

void ReleaseRecords(TrackedBuffer* buffer, size_t count) {
    auto* records = static_cast<SectionRecord*>(buffer->pointer);
    for (size_t i = 0; records && i < count; i++) ReleaseSectionRecord(&records[i]);
    DeallocateBuffer(buffer);
}

bool CreateTermination(SectionRecord* record) {
    record->termination = OsCreateEvent(true, false);
    if (!record->termination) {
        DebugEvent(__LINE__, SYSTEM_ERROR, OsGetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "Could not create AnalyzeSectionTask() termination event.");
        return false;
    }
    return true;
}

int32_t PrepareSectionBuffers(SectionRecord* record, int32_t index) {
    record->index = index;
    record->list.minY = LIGHT_SOURCE_NO_MIN_Y;
    const uint64_t params = SHAPE_BANK_SIZE * sizeof(float);
    const uint64_t shapes = SHAPE_BANK_SIZE * sizeof(ShapeCache);
    bool failed = false;
    if (record->diskParams.size < params && ReallocateBuffer(params, &record->diskParams) != 0) {
        ReportUnexpected(__LINE__, "Thread %d: Could not allocate buffer for DiskParamsBuff.", index);
        failed = true;
    }
    if (record->ringParams.size < params && ReallocateBuffer(params, &record->ringParams) != 0) {
        ReportUnexpected(__LINE__, "Thread %d: Could not allocate buffer for RingParamsBuff.", index);
        failed = true;
    }
    if (record->diskShapes.size < shapes && ReallocateBuffer(shapes, &record->diskShapes) != 0) {
        ReportUnexpected(__LINE__, "Thread %d: Could not allocate buffer for DiskShapeBuff.", index);
        failed = true;
    } else if (record->diskShapes.pointer) {
        std::memset(record->diskShapes.pointer, 0, record->diskShapes.size);
    }
    if (record->ringShapes.size < shapes && ReallocateBuffer(shapes, &record->ringShapes) != 0) {
        ReportUnexpected(__LINE__, "Thread %d: Could not allocate buffer for RingShapeBuff.", index);
        failed = true;
    } else if (record->ringShapes.pointer) {
        std::memset(record->ringShapes.pointer, 0, record->ringShapes.size);
    }
    if (failed) return -108;
    record->disks = static_cast<ShapeCache*>(record->diskShapes.pointer);
    record->rings = static_cast<ShapeCache*>(record->ringShapes.pointer);
    record->diskCount = record->ringCount = SHAPE_BANK_SIZE;
    auto* diskRadii = static_cast<float*>(record->diskParams.pointer);
    auto* ringRadii = static_cast<float*>(record->ringParams.pointer);
    for (int32_t k = 0; k < SHAPE_BANK_SIZE; k++) {
        diskRadii[k] = ringRadii[k] = static_cast<float>(k) * 0.25f;
        record->disks[k].shapeType = SHAPE_IMAGE;
        record->disks[k].generator = GenerateDiskShape;
        record->disks[k].radius = &diskRadii[k];
        record->rings[k].shapeType = SHAPE_IMAGE;
        record->rings[k].generator = GenerateRingShape;
        record->rings[k].radius = &ringRadii[k];
    }
    return CreateTermination(record) ? 0 : FailureCodeUnlessMemory(RUN_THREAD_FAILED);
}

// Signals an event when a thread body ends, however it ends: a waiting
// thread must never wait for one that memory has stopped.
struct SignalOnExit {
    OsHandle event;
    ~SignalOnExit() { OsSetEvent(event); }
};

uint32_t MeasureSectionPeak(void* raw) {
    auto* record = static_cast<SectionRecord*>(raw);
    SignalOnExit signal{record->termination};
    const Image* image = record->source;
    uint32_t peak = 0;
    for (int32_t y = record->top; y < record->bottom; y++) {
        if (GetGlobalErrorCode() != 0) {
            record->peak = 0;
            OsSetEvent(record->termination);
            return 0;
        }
        if (Stopped()) break;
        for (int32_t x = record->left; x < record->right && !Stopped(); x++) {
            PixelValue p;
            image->InputImage(image, &p, x, y);
            // The analysis images hold colours clipped at full scale, and the
            // candidates are judged against this peak: measure it on the same
            // clipped values, so that one over-range float pixel cannot raise
            // every threshold above the stars.
            uint32_t b = LightSourceBrightness(p.c0 < COLOR_FULL ? p.c0 : COLOR_FULL, p.c1 < COLOR_FULL ? p.c1 : COLOR_FULL,
                                               p.c2 < COLOR_FULL ? p.c2 : COLOR_FULL);
            if (p.alpha != 0 && b > peak) peak = b;
        }
        OsInterlockedIncrement(&gAnalysis.progressCount);
    }
    record->peak = Stopped() || GetGlobalErrorCode() != 0 ? 0 : peak;
    OsSetEvent(record->termination);
    return 0;
}

// Rows a section also analyses beyond each of its edges. A star that lies
// across a boundary is judged by both neighbours from the same candidates, in
// the same order, as one section covering both would judge it; each keeps
// only the sources whose centre lies in its own rows. So the table does not
// depend on how many sections there are.
constexpr int32_t SECTION_OVERLAP_ROWS = 48;

uint32_t AnalyzeSection(void* raw) {
    auto* record = static_cast<SectionRecord*>(raw);
    SignalOnExit signal{record->termination};
    Image* image = record->analysisImage;
    const int32_t first = std::max(image->imageRect.top, record->top - SECTION_OVERLAP_ROWS);
    const int32_t last = std::min(image->imageRect.bottom, record->bottom + SECTION_OVERLAP_ROWS);
    AnalyzerContext context = {record->analysisImage, record->disks,      record->diskCount, record->rings,
                               record->ringCount,     &record->list,      &LightSourceTable, record->scale,
                               gAnalysis.peak,        &AnalysisStopFlag,
                               static_cast<uint8_t*>(record->deselected.pointer), first, last};
    for (int32_t y = first; y < last && !Stopped() && GetGlobalErrorCode() == RUN_OK; y++) {
        for (int32_t x = record->left; x < record->right && !Stopped(); x++) {
            PixelValue p;
            image->InputImage(image, &p, x, y);
            if (IsCandidate(p, gAnalysis.peak) && !IsDeselected(&context, x, y)) AnalyzeCandidate(&context, x, y);
        }
        if (y >= record->top && y < record->bottom) OsInterlockedIncrement(&gAnalysis.progressCount);
    }
    KeepLightSourcesInRows(&record->list, record->top, record->bottom);
    SortLightSourcesByY(&record->list);
    OsSetEvent(record->termination);
    return 0;
}

int32_t SpawnAnalysisThreadsAndWait(OsThreadProc procedure, SectionRecord* records, int32_t count) {
    OsHandle events[MAX_ANALYSIS_SECTIONS];
    for (int32_t i = 0; i < count; i++) {
        events[i] = records[i].termination;
        records[i].thread = OsCreateThread(procedure, &records[i], 0, nullptr);
        if (!records[i].thread) {
            const ShortText text = RunTimeErrorText(errno ? errno : EAGAIN);
            ReportUnexpected(__LINE__, "Could not initiate AnalyzeSection() task : %s", text.c_str());
            // The section is still analysed, here: a section left out would
            // lose its sources without a word. Its body signals its event.
            OsRunThreadBody(procedure, &records[i]);
        }
    }
    int32_t result = 0;
    uint32_t wait = OsWaitForMultipleObjects(static_cast<uint32_t>(count), events, true, OS_INFINITE);
    if (wait >= OS_WAIT_ABANDONED_0 && wait < OS_WAIT_ABANDONED_0 + static_cast<uint32_t>(count)) {
        ReportUnexpected(__LINE__, "An object was abandoned in SpawnAnalysisThreadsAndWait().");
        result = -1715;
    } else if (wait == OS_WAIT_TIMEOUT) {
        ReportUnexpected(__LINE__, "A wait timed out in SpawnAnalysisThreadsAndWait().");
        result = -1715;
    } else if (wait != OS_WAIT_OBJECT_0) {
        DebugEvent(__LINE__, SYSTEM_ERROR, OsGetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "Waiting for events failed in SpawnAnalysisThreadsAndWait.");
        result = -1715;
    }
    for (int32_t i = 0; i < count; i++) {
        if (records[i].thread) {
            // The thread has signalled its event; let it finish before its record goes.
            OsWaitForSingleObject(records[i].thread, OS_INFINITE);
            OsCloseHandle(records[i].thread);
            records[i].thread = nullptr;
        }
        if (!OsResetEvent(records[i].termination)) {
            DebugEvent(__LINE__, SYSTEM_ERROR, OsGetLastError())
                .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                        "Could not reset Task Exit event %lu in SpawnAnalysisThreadsAndWait.",
                        static_cast<unsigned long>(i));
            result = -1715;
        }
    }
    return result;
}

// The quarter-resolution analysis image's rectangle.
ImageRect QuarterRect(const ImageRect& r) {
    return ImageRect{(r.left + 3) / 4, (r.top + 3) / 4, (r.right + 3) / 4, (r.bottom + 3) / 4};
}

bool CreateAnalysisImage(const Image* host, bool quarter) {
    Image* image = &gAnalysis.analysisImage;
    ImageRect r = host->imageRect;
    // Without a selection every pixel is selected: the mask would only say so
    // at a byte a pixel.
    const bool withMask = host->mask.size != 0;
    if (quarter) {
        r = QuarterRect(r);
        if (!CreateImage(image, r, r, IMAGE_MODE_RGB16, host->profile, withMask, false)) return false;
        if (!ResampleImage(host, image, &AnalysisStopFlag)) return false;
        return ConvertColorOf(image, GetLinearWorkingProfile());
    }
    if (!CreateImage(image, r, r, IMAGE_MODE_RGB16, GetLinearWorkingProfile(), withMask, false)) return false;
    return ConvertImageColorsParallel(host, host->imageRect, image, r);
}

void ReleaseAnalysisImage() { ReleaseImage(&gAnalysis.analysisImage); }

int32_t EndWithError(int32_t code) {
    SetGlobalErrorCode(static_cast<int16_t>(code));
    if (gAnalysis.onError) gAnalysis.onError();
    return code;
}

uint32_t LightSourceAnalysisTask(void*) {
    SignalOnExit signal{gAnalysis.completeEvent};
    try {
        RunLightSourceAnalysis(gAnalysis.hostImage);
    } catch (...) {
        // Memory ran out in the analysis: the run ends with its result, and
        // the waiting user-interface thread is released.
        EndWithError(RUN_OUT_OF_MEMORY);
    }
    return 0;
}

}  // namespace

uint32_t GetPeakBrightness() { return gAnalysis.peak; }
int32_t GetAnalysisProgressCount() { return __atomic_load_n(&gAnalysis.progressCount, __ATOMIC_RELAXED); }
int32_t GetAnalysisProgressTotal() { return gAnalysis.progressTotal; }
OsHandle GetAnalysisCompleteEvent() { return gAnalysis.completeEvent; }
void SetAnalysisErrorHook(AnalysisErrorHook hook) { gAnalysis.onError = hook; }

bool IsAnalysisComplete() {
    return gAnalysis.completeEvent && OsWaitForSingleObject(gAnalysis.completeEvent, 0) == OS_WAIT_OBJECT_0;
}

int32_t FindPeakBrightness(const Image* image) {
    std::vector<SectionSpan> spans = Sections(image);
    TrackedBuffer buffer;
    if (!AllocateRecords(&buffer, spans.size())) return -108;
    auto* records = static_cast<SectionRecord*>(buffer.pointer);
    int32_t result = 0;
    for (size_t i = 0; i < spans.size() && result == 0; i++) {
        records[i].left = image->imageRect.left;
        records[i].right = image->imageRect.right;
        records[i].top = spans[i].top;
        records[i].bottom = spans[i].bottom;
        records[i].source = image;
        records[i].index = static_cast<int32_t>(i);
        if (!CreateTermination(&records[i])) result = FailureCodeUnlessMemory(RUN_THREAD_FAILED);
    }
    if (result == 0 && !Stopped() && !spans.empty()) {
        result = SpawnAnalysisThreadsAndWait(MeasureSectionPeak, records, static_cast<int32_t>(spans.size()));
        if (result == 0 && GetGlobalErrorCode() != 0) result = GetGlobalErrorCode();
        if (result == 0) {
            uint32_t peak = 0;
            for (size_t i = 0; i < spans.size(); i++)
                if (records[i].peak > peak) peak = records[i].peak;
            gAnalysis.peak = peak;
        }
    }
    ReleaseRecords(&buffer, spans.size());
    return result;
}

int32_t AnalyzeImageSections(Image* analysisImage, float scale) {
    std::vector<SectionSpan> spans = Sections(analysisImage);
    TrackedBuffer buffer;
    if (!AllocateRecords(&buffer, spans.size())) return -108;
    auto* records = static_cast<SectionRecord*>(buffer.pointer);
    int32_t result = 0;
    int32_t count = static_cast<int32_t>(spans.size());
    for (int32_t i = 0; i < count && result == 0; i++) {
        result = PrepareSectionBuffers(&records[i], i);
        records[i].left = analysisImage->imageRect.left;
        records[i].right = analysisImage->imageRect.right;
        records[i].top = spans[static_cast<size_t>(i)].top;
        records[i].bottom = spans[static_cast<size_t>(i)].bottom;
        records[i].scale = scale;
        records[i].analysisImage = analysisImage;
        if (result == 0) {
            const int32_t first = std::max(analysisImage->imageRect.top, records[i].top - SECTION_OVERLAP_ROWS);
            const int32_t last = std::min(analysisImage->imageRect.bottom, records[i].bottom + SECTION_OVERLAP_ROWS);
            uint64_t bytes = (static_cast<uint64_t>(last - first) *
                                  static_cast<uint64_t>(records[i].right - records[i].left) + 7) / 8;
            if (bytes && ReallocateBuffer(bytes, &records[i].deselected) != 0) {
                ReportUnexpected(__LINE__, "Thread %d: Could not allocate the flat-area map.", i);
                result = -108;
            } else if (bytes) {
                std::memset(records[i].deselected.pointer, 0, bytes);
            }
        }
    }
    if (result == 0 && !Stopped() && count > 0) result = SpawnAnalysisThreadsAndWait(AnalyzeSection, records, count);
    if (result == 0 && GetGlobalErrorCode() != RUN_OK) result = GetGlobalErrorCode();
    if (result == 0 && !Stopped()) {
        uint32_t total = 0;
        for (int32_t i = 0; i < count; i++) total += records[i].list.count;
        result = ReserveLightSources(&LightSourceTable, total);
    }
    if (result == 0 && !Stopped())
        for (int32_t i = 0; i < count && !Stopped(); i++) MergeSectionList(&LightSourceTable, &records[i].list, &AnalysisStopFlag);
    if (result == 0 && GetGlobalErrorCode() != RUN_OK) result = GetGlobalErrorCode();
    ReleaseRecords(&buffer, spans.size());
    return result;
}

int32_t RunLightSourceAnalysis(const Image* hostImage) {
    Image host = *hostImage;  // a copy of the record: the accessors and buffers it names
    PreciseMultiply = true;
    SetEffectArithmetic(true, host.mode);
    gAnalysis.peak = 0;
    gAnalysis.progressTotal = static_cast<int32_t>(static_cast<double>(host.height) * 2.25);
    gAnalysis.progressCount = 0;
    if (!Stopped()) {
        int32_t result = FindPeakBrightness(&host);
        if (result != 0) return EndWithError(result);
    }
    if (!Stopped()) {
        if (!CreateAnalysisImage(&host, true)) {
            ReleaseAnalysisImage();
            int16_t code = GetGlobalErrorCode();
            return EndWithError(code != 0 ? code : -108);
        }
        int32_t result = AnalyzeImageSections(&gAnalysis.analysisImage, 0.25f);
        ReleaseAnalysisImage();
        if (result != 0) return EndWithError(result);
    }
    if (!Stopped()) {
        bool created = CreateAnalysisImage(&host, false);
        MapLightSourceTable(&LightSourceTable, QuarterRect(host.imageRect), host.imageRect, 4.0f);
        if (!created) {
            ReleaseAnalysisImage();
            int16_t code = GetGlobalErrorCode();
            return EndWithError(code != 0 ? code : -108);
        }
        int32_t result = AnalyzeImageSections(&gAnalysis.analysisImage, 1.0f);
        ReleaseAnalysisImage();
        if (result != 0) return EndWithError(result);
    }
    if (!Stopped()) FinalizeLightSourceTable(&LightSourceTable, &AnalysisStopFlag);
    return 0;
}

void StartLightSourceAnalysis(const Image* hostImage) {
    OsStoreFlag(&AnalysisStopFlag, 0);
    gAnalysis.hostImage = hostImage;
    ReleaseLightSourceList(&LightSourceTable);
    InitializeLightSourceList(&LightSourceTable);
    gAnalysis.tableMutex = OsCreateMutex(false);
    gAnalysis.completeEvent = OsCreateEvent(true, false);
    if (!gAnalysis.completeEvent) {
        DebugEvent(__LINE__, SYSTEM_ERROR, OsGetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "Could not create the data initialization complete event.");
        SetGlobalErrorCode(FailureCodeUnlessMemory(RUN_THREAD_FAILED));
        return;
    }
    gAnalysis.thread = OsCreateThread(LightSourceAnalysisTask, nullptr, 0, nullptr);
    if (!gAnalysis.thread) {
        DebugEvent(__LINE__, SYSTEM_ERROR, OsGetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "Could not initiate light source table initialization");
        OsCloseHandle(gAnalysis.completeEvent);
        gAnalysis.completeEvent = nullptr;
        SetGlobalErrorCode(FailureCodeUnlessMemory(RUN_THREAD_FAILED));
    }
}

void StopLightSourceAnalysis() {
    OsStoreFlag(&AnalysisStopFlag, 1);
    if (gAnalysis.completeEvent) {
        OsWaitForSingleObject(gAnalysis.completeEvent, OS_INFINITE);
        OsCloseHandle(gAnalysis.completeEvent);
        gAnalysis.completeEvent = nullptr;
    }
    if (gAnalysis.thread) {
        OsWaitForSingleObject(gAnalysis.thread, OS_INFINITE);
        OsCloseHandle(gAnalysis.thread);
        gAnalysis.thread = nullptr;
    }
    if (gAnalysis.tableMutex) OsCloseHandle(gAnalysis.tableMutex);
    gAnalysis.tableMutex = nullptr;
    ReleaseAnalysisImage();
}
