// Fuzz target: the plug-in's readers of its own files. The first byte picks
// the reader: a parameter file checked in the Parameters folder (which may
// convert, rewrite or delete it), the interface settings file, or a
// parameter block handed to the conversion of older records.
#include <cstring>

#include "params/filter_parameters.h"
#include "params/parameter_files.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzFolder();
    if (size < 1) return 0;
    const uint8_t which = data[0] % 3;
    data++;
    size--;
    if (which == 0) {
        std::string folder;
        if (!GetUserParametersFolder(folder)) return 0;
        const std::string path = OsJoinPath(folder, "Fuzzed.rlp");
        if (!WriteScratch(path, data, size)) return 0;
        if (void* block = CheckParameterFileInFolder(path)) {
            auto* record = static_cast<FilterParameters*>(block);
            ClampFilterParameters(record);
            FreeParameterBlock(block);
        }
        std::remove(path.c_str());
    } else if (which == 1) {
        std::string folder;
        if (!GetUserSettingsFolder(folder)) return 0;
        if (!WriteScratch(OsJoinPath(folder, "UISettings.bin"), data, size)) return 0;
        InterfaceSettings settings;
        LoadInterfaceSettings(&settings);
    } else {
        uint8_t block[PARAMETER_BLOCK_SIZE] = {};
        std::memcpy(block, data, size < sizeof block ? size : sizeof block);
        FilterParameters current = FACTORY_PARAMETERS;
        SetCurrentParameterRecord(&current);
        void* converted = reinterpret_cast<void*>(ParameterBlockProc(PARAMETER_OP_CONVERT, block));
        SetCurrentParameterRecord(nullptr);
        if (converted) FreeParameterBlock(converted);
    }
    return 0;
}
