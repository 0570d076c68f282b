// Fuzz target: every image reader of the tools. The bytes are read as a file
// by raylume's readers (the content picks TIFF, PNG, FITS, PGM/PPM or PFM)
// and by the host simulator's PGM/PPM/PFM decoder; a file that reads is also
// written back (to the first format it came in).
#include "tests/fuzz/fuzz_support.h"
#include "tools/hostsim/image_files.h"
#include "tools/raylume/raster.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = FuzzFolder() + "/input.img";
    if (!WriteScratch(path, data, size)) return 0;
    Raster raster;
    RasterFailure failure;
    std::string error;
    // Small pictures only: a reader must refuse a huge one before allocating it.
    if (ReadRaster(path, &raster, &failure, &error) && raster.samples.size() < (1u << 22))
        WriteRaster(FuzzFolder() + "/output.img", raster, raster.format, &error);
    SimDocument document;
    DecodeImageFile(std::vector<uint8_t>(data, data + size), document, &error);
    return 0;
}
