// The light source analysis task: one background thread per filter run that
// finds the peak brightness, analyses the image at a quarter of its
// resolution and then at full resolution on one thread per section, and
// signals the analysis-complete event when the LightSourceTable is ready.
#pragma once

#include <cstdint>

#include "image/image.h"
#include "support/os.h"

// Starts the task on `hostImage` (which must outlive it). Sets -1715 when the
// event or the thread cannot be made.
void StartLightSourceAnalysis(const Image* hostImage);
// End of the run: raises the stop flag, waits without limit for the event,
// and closes the event and the light source table mutex.
void StopLightSourceAnalysis();
OsHandle GetAnalysisCompleteEvent();
bool IsAnalysisComplete();

// Read without locks by every loop of the analysis.
extern volatile uint8_t AnalysisStopFlag;
// The peak brightness of the host image.
uint32_t GetPeakBrightness();
// Rows analysed so far, and the total: trunc(rows × 2.25).
int32_t GetAnalysisProgressCount();
int32_t GetAnalysisProgressTotal();

// Called on the task thread when the analysis ends with an error, to stop
// the preview and the render.
typedef void (*AnalysisErrorHook)();
void SetAnalysisErrorHook(AnalysisErrorHook hook);

// The parts of the task, exposed for tests.
int32_t FindPeakBrightness(const Image* image);
int32_t AnalyzeImageSections(Image* analysisImage, float scale);
// Runs the whole analysis on the calling thread (the task body).
int32_t RunLightSourceAnalysis(const Image* hostImage);
// Sections never exceed what one wait accepts.
constexpr int32_t MAX_ANALYSIS_SECTIONS = 64;
