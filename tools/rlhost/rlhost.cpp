// rlhost: a console host for the real plug-in module. It finds the filter the
// way an image editor does (a PIPL resource whose 'kind' is '8BFM', the entry
// point named by its '8664' property), then drives PluginMain through the
// host simulator, which reports every misuse of the host interface.
//
//   rlhost PLUGIN.8bf info          the property list and the factory parameters
//   rlhost PLUGIN.8bf about         the about selector on its own (the About box
//                                   is read and closed; its texts are printed)
//   rlhost PLUGIN.8bf run [options] whole filter runs (see Usage)
//
// Exit status: 0 fine, 1 usage, 2 the module does not load, 3 no filter
// property list, 4 no entry point, 5 a selector failed (info only), 6 the
// host recorded violations, 7 an image file could not be read or written.
#include <windows.h>
#include <commctrl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "host/host_abi.h"
#include "host/resource_description.h"
#include "tools/hostsim/host_profiles.h"
#include "tools/hostsim/host_simulator.h"
#include "tools/hostsim/dialog_driver_win32.h"
#include "tools/hostsim/image_files.h"
#include "tools/raylume/raster.h"

namespace {

const char kUsage[] =
    "usage: rlhost PLUGIN.8bf info\n"
    "       rlhost PLUGIN.8bf about [--no-basic-suite] [--host-profile NAME]\n"
    "       rlhost PLUGIN.8bf run [options]\n"
    "       rlhost --host-profiles   the host profiles and what sets each apart\n"
    "options of run:\n"
    "  --host-profile NAME     behave as a public host engine does (pspihost, gimp-pspi,\n"
    "                          psfilterhost, psfilterpdn); the options below change it further\n"
    "  --mode N                image mode 1, 3, 10, 11, 16 or 17 (default 3)\n"
    "  --size WxH              document size (default 256x192)\n"
    "  --image FILE            document from a PGM, PPM or PFM file (mode from the file)\n"
    "  --mask                  an elliptic selection\n"
    "  --transparency          a transparency plane\n"
    "  --dialog | --no-dialog  call the parameters selector first, or not (default --dialog)\n"
    "  --cancel-at N           the user cancels from the N-th progress call on\n"
    "  --no-big-document       no bigDocumentData (16-bit rectangles only)\n"
    "  --short-record          a 556-byte filter record\n"
    "  --descriptor-version N  action descriptor suite 3, 2 or 0 (none)\n"
    "  --no-basic-suite        no SPBasic at all\n"
    "  --registry FILE         keep persistent registry entries in FILE\n"
    "  --play-info N           descriptorParameters playInfo 0, 1 or 2\n"
    "  --replay                hand the descriptor a run wrote to the next run\n"
    "  --tile WxH              tile size hints (0x0 allowed)\n"
    "  --repeat N              N runs in one host session\n"
    "  --output FILE           write the document after the last run\n"
    "  --dialog-action A       answer the dialog with ok (default), cancel or esc\n"
    "  --dialog-steps LIST     before answering, once the preview is ready: comma-separated steps\n"
    "                          zoom-in, zoom-out, fit, hide-tool, show-tool, drag:X0:Y0:X1:Y1 (preview\n"
    "                          client pixels), click:X:Y, effects-only, preview, wait:MS,\n"
    "                          slider:ID:VALUE (a slider moved as the user drags it, by control id)\n"
    "  --screenshot FILE.png   a picture of the dialog just before answering it\n"
    "  --opengl-setting N      store the OpenGL setting N (1 quality .. 4 software) before the run\n";

// ---- finding the filter ----

std::string CodeText(uint32_t code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) text += static_cast<char>((code >> shift) & 0xFF);
    return text;
}

uint32_t LittleEndian32(const std::vector<uint8_t>& d, size_t at) {
    return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | static_cast<uint32_t>(d[at + 3]) << 24;
}

std::string PropertyText(const PiplProperty& p) {
    char buffer[64];
    const auto& d = p.data;
    if ((p.key == kPiplName || p.key == kPiplCategory) && !d.empty()) {
        size_t n = d[0] < d.size() ? d[0] : d.size() - 1;
        return "\"" + std::string(reinterpret_cast<const char*>(d.data() + 1), n) + "\"";
    }
    if ((p.key == kPiplCodeX64 || p.key == kPiplEnableInfo) && !d.empty())
        return "\"" + std::string(reinterpret_cast<const char*>(d.data()), strnlen(reinterpret_cast<const char*>(d.data()), d.size())) + "\"";
    if (p.key == kPiplKind && d.size() >= 4) return "'" + CodeText(LittleEndian32(d, 0)) + "'";
    if (p.key == kPiplVersion && d.size() >= 4) {
        uint32_t v = LittleEndian32(d, 0);
        std::snprintf(buffer, sizeof(buffer), "%u.%u", v >> 16, v & 0xFFFF);
        return buffer;
    }
    if (p.key == kPiplMaxSize32 && d.size() >= 8) {
        int32_t a, b;
        std::memcpy(&a, d.data(), 4);
        std::memcpy(&b, d.data() + 4, 4);
        std::snprintf(buffer, sizeof(buffer), "%d x %d", a, b);
        return buffer;
    }
    if (p.key == kPiplHasTerminology && d.size() >= 15) {
        int id = d[12] | d[13] << 8;
        return "class '" + CodeText(LittleEndian32(d, 4)) + "' event '" + CodeText(LittleEndian32(d, 8)) +
               "' terminology " + std::to_string(id) + " \"" +
               std::string(reinterpret_cast<const char*>(d.data() + 14), strnlen(reinterpret_cast<const char*>(d.data() + 14), d.size() - 14)) + "\"";
    }
    std::string hex;
    for (uint8_t b : d) {
        std::snprintf(buffer, sizeof(buffer), "%02X ", b);
        hex += buffer;
    }
    if (!hex.empty()) hex.pop_back();
    return hex;
}

struct PiplSearch {
    std::vector<PiplProperty> properties;
    int id = -1;
};

// Hosts list every PIPL resource of a module and take the filters among them.
BOOL CALLBACK TakePipl(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR context) {
    auto* search = reinterpret_cast<PiplSearch*>(context);
    HRSRC resource = FindResourceA(module, name, type);
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    std::vector<PiplProperty> properties;
    if (!bytes ||
        !ParsePiplResource(static_cast<const uint8_t*>(bytes), SizeofResource(module, resource), properties))
        return TRUE;
    const PiplProperty* kind = FindPiplProperty(properties, kPiplKind);
    if (!kind || kind->data.size() < 4 || LittleEndian32(kind->data, 0) != kPiplKindFilter) return TRUE;
    search->properties = properties;
    search->id = IS_INTRESOURCE(name) ? static_cast<int>(reinterpret_cast<uintptr_t>(name)) : -1;
    return FALSE;  // the first filter is the one
}

struct Plugin {
    HMODULE module = nullptr;
    PluginMainProc entry = nullptr;
};

// Loads the module, prints its property list and finds the entry. Returns the
// exit status on failure, 0 on success.
int LoadFilter(const char* path, bool printProperties, Plugin& plugin) {
    plugin.module = LoadLibraryA(path);
    if (!plugin.module) {
        std::printf("error: cannot load '%s' (error %lu)\n", path, GetLastError());
        return 2;
    }
    std::printf("Plug-in module: %s\n", path);
    PiplSearch search;
    EnumResourceNamesA(plugin.module, "PIPL", TakePipl, reinterpret_cast<LONG_PTR>(&search));
    if (search.properties.empty()) {
        std::printf("error: no PIPL resource of kind '8BFM' (a filter)\n");
        return 3;
    }
    if (printProperties) {
        std::printf("PIPL %d: %zu properties\n", search.id, search.properties.size());
        for (const auto& p : search.properties)
            std::printf("  '%s' '%s' %3u bytes  %s\n", CodeText(p.vendor).c_str(), CodeText(p.key).c_str(), p.length,
                        PropertyText(p).c_str());
    }
    const PiplProperty* entry = FindPiplProperty(search.properties, kPiplCodeX64);
    if (!entry || entry->data.empty()) {
        std::printf("error: the filter has no 64-bit entry point ('8664')\n");
        return 3;
    }
    const std::string entryName(reinterpret_cast<const char*>(entry->data.data()),
                                strnlen(reinterpret_cast<const char*>(entry->data.data()), entry->data.size()));
    plugin.entry = reinterpret_cast<PluginMainProc>(GetProcAddress(plugin.module, entryName.c_str()));
    std::printf("Entry point: %s %s\n", entryName.c_str(), plugin.entry ? "(found)" : "(MISSING)");
    return plugin.entry ? 0 : 4;
}

int ReportViolations(const std::vector<std::string>& violations) {
    for (const auto& v : violations) std::printf("violation: %s\n", v.c_str());
    if (violations.empty()) {
        std::printf("rlhost: no violations\n");
        return 0;
    }
    std::printf("rlhost: %zu violation%s\n", violations.size(), violations.size() == 1 ? "" : "s");
    return 6;
}

// ---- info ----

const char* const kSlotNames[18] = {
    "Major Version", "Minor Version", "Revision", "Build", "Intensity", "Length", "Angle",
    "Number of Points", "Spike Sharpness", "Color Saturation", "Rainbow Intensity", "Rainbow Frequency",
    "Secondary Spike Intensity", "Soft Flare Intensity", "Effects Only", "Quantity", "Color Hue",
    "Ring Flare Intensity"};

int RunInfo(const Plugin& plugin) {
    HostSimulator host(plugin.entry);
    host.document = MakeSimDocument(plugInModeRGBColor, 64, 64);
    int16 result = host.Call(filterSelectorParameters);
    std::printf("parameters selector: result %d\n", result);
    int status = result == 0 ? 0 : 5;
    const std::vector<uint8_t> parameters = host.HandleBytes(host.Parameters());
    if (result == 0 && parameters.size() >= 36) {
        int16_t slots[18];
        std::memcpy(slots, parameters.data(), sizeof(slots));
        std::printf("Factory parameters (version %d.%d.%d.%d):\n", slots[0], slots[1], slots[2], slots[3]);
        for (int i = 4; i < 18; i++) std::printf("  %-26s %6d\n", kSlotNames[i], slots[i]);
        const std::vector<uint8_t> flag = host.HandleBytes(reinterpret_cast<Handle>(host.DataSlot()));
        std::printf("Show-dialog flag: %d\n", flag.size() == 1 ? flag[0] : -1);
    } else {
        status = 5;
    }
    result = host.Call(filterSelectorFinish);
    std::printf("finish selector: result %d\n", result);
    if (result != 0) status = 5;
    host.EndRun();
    const std::vector<std::string> violations = host.Violations();
    if (!violations.empty()) return ReportViolations(violations);
    return status;
}

// ---- about ----

int RunAbout(const Plugin& plugin, int argc, char** argv) {
    HostSimulator host(plugin.entry);
    for (int i = 0; i < argc; i++) {
        if (std::strcmp(argv[i], "--no-basic-suite") == 0) {
            host.options.offerBasicSuite = false;
        } else if (std::strcmp(argv[i], "--host-profile") == 0 && i + 1 < argc && FindHostProfile(argv[i + 1])) {
            FindHostProfile(argv[++i])->apply(host.options);
        } else {
            std::fprintf(stderr, "rlhost: unknown option '%s'\n%s", argv[i], kUsage);
            return 1;
        }
    }
    // The About box is modal: the driver reads its texts and closes it.
    StartDialogDriver(DialogDriverOptions());
    RunLog run = host.RunAbout();
    StopDialogDriver();
    if (host.options.aboutResult != noErr) std::printf("about: the host preset the result to %d\n", host.options.aboutResult);
    std::printf("about: %d\n", run.Result(filterSelectorAbout));
    for (const ClosedDialog& dialog : ClosedDialogs()) {
        std::printf("Dialog closed: \"%s\"\n", dialog.title.c_str());
        for (const std::string& text : dialog.texts) std::printf("  %s\n", text.c_str());
    }
    for (const std::string& text : DismissedMessageBoxes()) std::printf("Message box dismissed: \"%s\"\n", text.c_str());
    return ReportViolations(host.Violations());
}

// ---- run ----

struct RunOptions {
    int16 mode = plugInModeRGBColor;
    int32 width = 256;
    int32 height = 192;
    std::string image;
    std::string output;
    bool mask = false;
    bool transparency = false;
    int repeat = 1;
    DialogAction dialogAction = DIALOG_PRESS_OK;
    std::string dialogSteps;
    std::string screenshot;
    int openglSetting = 0;
    const HostProfile* profile = nullptr;
};

// A number of at most nine digits (no sign, no overflow), then `end` must follow.
bool ParseDigits(const char*& text, long* value) {
    long v = 0;
    int digits = 0;
    while (*text >= '0' && *text <= '9') {
        if (++digits > 9) return false;
        v = v * 10 + (*text++ - '0');
    }
    *value = v;
    return digits > 0;
}

// WIDTHxHEIGHT, each side `minimum`..`maximum`, at most `maximumPixels` in all.
// The default range is the plug-in's own: its property list takes documents up
// to 32767 pixels a side.
bool ParseSize(const char* text, int32* width, int32* height, int32 minimum, long maximum = 32767,
               long long maximumPixels = 32767ll * 32767ll) {
    long w = 0, h = 0;
    if (!ParseDigits(text, &w) || *text++ != 'x' || !ParseDigits(text, &h) || *text) return false;
    if (w < minimum || h < minimum || w > maximum || h > maximum || static_cast<long long>(w) * h > maximumPixels)
        return false;
    *width = static_cast<int32>(w);
    *height = static_cast<int32>(h);
    return true;
}

bool ParseInt(const char* text, int low, int high, int* value) {
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (!*text || *end || errno == ERANGE || v < low || v > high) return false;
    *value = static_cast<int>(v);
    return true;
}

// Fills `run` and `host.options`; false (after a message) on a bad command line.
// A host profile goes first, so that the other options change it.
bool ParseRunOptions(int argc, char** argv, RunOptions& run, HostOptions& options) {
    for (int i = 0; i + 1 < argc; i++) {
        if (std::strcmp(argv[i], "--host-profile") != 0) continue;
        run.profile = FindHostProfile(argv[i + 1]);
        if (!run.profile) {
            std::fprintf(stderr, "rlhost: --host-profile takes one of:");
            for (const HostProfile& p : HostProfiles()) std::fprintf(stderr, " %s", p.name);
            std::fprintf(stderr, "\n");
            return false;
        }
        run.profile->apply(options);
    }
    if (argc > 0 && std::strcmp(argv[argc - 1], "--host-profile") == 0) {
        std::fprintf(stderr, "rlhost: --host-profile takes a name\n");
        return false;
    }
    for (int i = 0; i < argc; i++) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        const char* value = hasValue ? argv[i + 1] : "";
        int n = 0;
        auto bad = [&option](const char* why) {
            std::fprintf(stderr, "rlhost: %s %s\n", option.c_str(), why);
            return false;
        };
        if (option == "--host-profile") {
            i++;  // applied before the other options
        } else if (option == "--mode") {
            if (!ParseInt(value, 0, 64, &n) || !SimModeSupported(static_cast<int16>(n)))
                return bad("takes 1, 3, 10, 11, 16 or 17");
            if (run.profile && !HostProfileOffersMode(*run.profile, static_cast<int16>(n)))
                return bad("names a mode this host profile does not offer");
            run.mode = static_cast<int16>(n);
            i++;
        } else if (option == "--size") {
            if (!ParseSize(value, &run.width, &run.height, 1))
                return bad("takes WIDTHxHEIGHT, each side 1 to 32767 (the plug-in's largest document)");
            i++;
        } else if (option == "--tile") {
            int32 w, h;
            if (!ParseSize(value, &w, &h, 0, 32767, 1ll << 30)) return bad("takes WIDTHxHEIGHT, each side 0 to 32767");
            options.tileWidth = static_cast<int16>(w);
            options.tileHeight = static_cast<int16>(h);
            i++;
        } else if (option == "--image" || option == "--output" || option == "--registry") {
            if (!hasValue) return bad("takes a file name");
            (option == "--image" ? run.image : option == "--output" ? run.output : options.registryFile) = value;
            i++;
        } else if (option == "--mask") {
            run.mask = true;
        } else if (option == "--transparency") {
            run.transparency = true;
        } else if (option == "--dialog") {
            options.callParameters = true;
        } else if (option == "--no-dialog") {
            options.callParameters = false;
        } else if (option == "--cancel-at") {
            if (!ParseInt(value, 0, 1 << 30, &n)) return bad("takes a progress call count");
            if (run.profile && !run.profile->canCancel)
                return bad("cannot be used: this host profile's abortProc never cancels (use --dialog-action cancel)");
            options.cancelAtProgressCall = n;
            i++;
        } else if (option == "--no-big-document") {
            options.bigDocument = false;
        } else if (option == "--short-record") {
            options.recordSize = static_cast<uint32_t>(kFilterRecordShortHostSize);
        } else if (option == "--descriptor-version") {
            if (!ParseInt(value, 0, 3, &n) || n == 1) return bad("takes 3, 2 or 0");
            options.actionDescriptorVersion = n;
            i++;
        } else if (option == "--no-basic-suite") {
            options.offerBasicSuite = false;
        } else if (option == "--play-info") {
            if (!ParseInt(value, 0, 2, &n)) return bad("takes 0, 1 or 2");
            options.playInfo = static_cast<int16>(n);
            i++;
        } else if (option == "--replay") {
            options.replayDescriptor = true;
        } else if (option == "--repeat") {
            if (!ParseInt(value, 1, 100000, &run.repeat)) return bad("takes a count of runs");
            i++;
        } else if (option == "--dialog-action") {
            const std::string a = value;
            if (a == "ok") run.dialogAction = DIALOG_PRESS_OK;
            else if (a == "cancel") run.dialogAction = DIALOG_PRESS_CANCEL;
            else if (a == "esc") run.dialogAction = DIALOG_PRESS_ESCAPE;
            else return bad("takes ok, cancel or esc");
            i++;
        } else if (option == "--dialog-steps" || option == "--screenshot") {
            if (!hasValue) return bad("takes a value");
            (option == "--screenshot" ? run.screenshot : run.dialogSteps) = value;
            i++;
        } else if (option == "--opengl-setting") {
            if (!ParseInt(value, 1, 4, &run.openglSetting)) return bad("takes 1, 2, 3 or 4");
            i++;
        } else {
            std::fprintf(stderr, "rlhost: unknown option '%s'\n%s", option.c_str(), kUsage);
            return false;
        }
    }
    return true;
}

void PrintRun(int number, const RunLog& run) {
    int32 continues = 0;
    int16 lastContinue = 0;
    for (const SelectorCall& call : run.calls) {
        if (call.selector == filterSelectorContinue) {
            continues++;
            lastContinue = call.result;
            continue;
        }
        if (continues) {
            std::printf("run %d: continue %d (%d call%s)\n", number, lastContinue, continues, continues == 1 ? "" : "s");
            continues = 0;
        }
        if (call.selector == filterSelectorPrepare)
            std::printf("run %d: prepare %d (bufferSpace %d, maxSpace %d of %d)\n", number, call.result,
                        run.bufferSpace, run.maxSpace, run.offeredMaxSpace);
        else
            std::printf("run %d: %s %d\n", number, SelectorName(call.selector), call.result);
    }
    if (continues)
        std::printf("run %d: continue %d (%d call%s)\n", number, lastContinue, continues, continues == 1 ? "" : "s");
    if (!run.Called(filterSelectorFinish)) std::printf("run %d: finish not called\n", number);
    std::printf("run %d: %d advanceState, %zu progress, %d abort calls%s\n", number, run.advanceStateCalls,
                run.progress.size(), run.abortCalls, run.cancelled ? ", cancelled" : "");
    for (const auto& message : run.errorMessages) std::printf("run %d: error text \"%s\"\n", number, message.c_str());
    if (!run.errorString.empty()) std::printf("run %d: errorString \"%s\"\n", number, run.errorString.c_str());
    if (run.wroteDescriptor)
        std::printf("run %d: descriptor written, %zu keys\n", number, run.writtenDescriptor.items.size());
}

// ---- the user at the dialog ----

// The dialog's client-area picture as it is on the screen, as an 8-bit RGB PNG.
bool SaveScreenshot(HWND dialog, const std::string& path) {
    RECT r;
    if (!GetWindowRect(dialog, &r)) return false;
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = bitmap && bits;
    if (ok) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY) != 0;
        GdiFlush();
        SelectObject(memory, old);
    }
    Raster picture;
    if (ok) {
        picture.width = w;
        picture.height = h;
        picture.colours = 3;
        picture.depth = 8;
        picture.samples.resize(picture.RowBytes() * static_cast<size_t>(h));
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                const uint8_t* in = static_cast<const uint8_t*>(bits) + (static_cast<size_t>(y) * w + x) * 4;
                uint8_t* out = picture.Row(y) + x * 3;
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
            }
        std::string error;
        ok = WritePngRaster(path, picture, &error);
        if (!ok) std::printf("screenshot: %s\n", error.c_str());
    }
    if (bitmap) DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

// Runs the comma-separated steps against the open dialog (from the driver's thread).
void RunDialogSteps(HWND dialog, const std::string& steps) {
    HWND preview = GetDlgItem(dialog, 1040);
    size_t from = 0;
    while (from < steps.size()) {
        size_t end = steps.find(',', from);
        if (end == std::string::npos) end = steps.size();
        const std::string step = steps.substr(from, end - from);
        from = end + 1;
        int a = 0, b = 0, c = 0, d = 0;
        auto command = [&](WPARAM id) { SendMessageA(dialog, WM_COMMAND, id, 0); };
        if (step == "zoom-in") command(40062);
        else if (step == "zoom-out") command(40063);
        else if (step == "fit") command(40070);
        else if (step == "hide-tool") command(40081);
        else if (step == "show-tool") command(40092);
        else if (step == "effects-only") command(40079);
        else if (step == "preview") command(40055);
        else if (std::sscanf(step.c_str(), "wait:%d", &a) == 1) Sleep(static_cast<DWORD>(a));
        else if (std::sscanf(step.c_str(), "slider:%d:%d", &a, &b) == 2) {
            // As a drag ends: the thumb moves, then the dialog hears of it.
            HWND slider = GetDlgItem(dialog, a);
            if (!slider) std::printf("dialog: no slider %d\n", a);
            SendMessageA(slider, TBM_SETPOS, TRUE, b);
            SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, b), reinterpret_cast<LPARAM>(slider));
            SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(slider));
        }
        else if (std::sscanf(step.c_str(), "click:%d:%d", &a, &b) == 2) {
            SendMessageA(preview, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(a, b));
            SendMessageA(preview, WM_LBUTTONUP, 0, MAKELPARAM(a, b));
        } else if (std::sscanf(step.c_str(), "drag:%d:%d:%d:%d", &a, &b, &c, &d) == 4) {
            SendMessageA(preview, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(a, b));
            SendMessageA(preview, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM((a + c) / 2, (b + d) / 2));
            SendMessageA(preview, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(c, d));
            SendMessageA(preview, WM_LBUTTONUP, 0, MAKELPARAM(c, d));
        } else {
            std::printf("dialog: unknown step '%s'\n", step.c_str());
        }
        Sleep(150);
    }
}

void StoreOpenGLSetting(int setting) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Corvane Software\\RaylumePro\\2.0\\OpenGLSettings", 0, nullptr,
                        0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    DWORD value = static_cast<DWORD>(setting);
    RegSetValueExA(key, "OpenGLOptimizationSetting", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
}

int RunFilter(const Plugin& plugin, int argc, char** argv) {
    HostSimulator host(plugin.entry);
    RunOptions run;
    if (!ParseRunOptions(argc, argv, run, host.options)) return 1;
    if (!run.image.empty()) {
        std::string error;
        if (!ReadImageFile(run.image, host.document, &error)) {
            std::printf("error: %s\n", error.c_str());
            return 7;
        }
    } else {
        host.document = MakeSimDocument(run.mode, run.width, run.height);
        FillSkyPattern(host.document, 1);
    }
    if (run.profile && !HostProfileOffersMode(*run.profile, host.document.mode)) {
        std::printf("error: host profile %s does not offer mode %d (%s)\n", run.profile->name, host.document.mode,
                    SimModeName(host.document.mode));
        return 1;
    }
    if (run.mask) SetEllipticSelection(host.document);
    if (run.transparency) AddOpaqueTransparency(host.document);
    if (run.profile) std::printf("Host profile: %s (%s)\n", run.profile->name, run.profile->summary);
    std::printf("Document: %d x %d, mode %d (%s), %d plane%s%s%s\n", host.document.width, host.document.height,
                host.document.mode, SimModeName(host.document.mode), host.document.PlaneCount(),
                host.document.PlaneCount() == 1 ? "" : "s", host.document.hasMask ? ", selection" : "",
                host.document.transparency ? ", transparency" : "");
    if (run.openglSetting) StoreOpenGLSetting(run.openglSetting);
    DialogDriverOptions driver;
    driver.action = run.dialogAction;
    const bool scripted = !run.dialogSteps.empty() || !run.screenshot.empty();
    driver.readyTimeoutMilliseconds = scripted ? 30000 : 0;
    driver.settleMilliseconds = scripted ? 1500 : 0;
    driver.beforeAction = [&run](HWND dialog) {
        if (!run.dialogSteps.empty()) {
            RunDialogSteps(dialog, run.dialogSteps);
            Sleep(1500);  // the frames of the last step
        }
        if (!run.screenshot.empty())
            std::printf("Screenshot: %s %s\n", run.screenshot.c_str(),
                        SaveScreenshot(dialog, run.screenshot) ? "written" : "FAILED");
    };
    StartDialogDriver(driver);
    for (int i = 1; i <= run.repeat; i++) PrintRun(i, host.RunFilter());
    StopDialogDriver();
    if (DialogsAnswered() > 0) std::printf("Dialog answered %d time%s\n", DialogsAnswered(), DialogsAnswered() == 1 ? "" : "s");
    for (const std::string& text : DismissedMessageBoxes()) std::printf("Message box dismissed: \"%s\"\n", text.c_str());
    if (!run.output.empty()) {
        std::string error;
        if (!WriteImageFile(run.output, host.document, &error)) {
            std::printf("error: %s\n", error.c_str());
            return 7;
        }
        std::printf("Output: %s\n", run.output.c_str());
    }
    return ReportViolations(host.Violations());
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc == 2 && std::strcmp(argv[1], "--host-profiles") == 0) {
        for (const HostProfile& p : HostProfiles()) {
            std::printf("%-13s %s; modes", p.name, p.summary);
            for (int16 mode : p.modes) std::printf(" %s", SimModeName(mode));
            std::printf("\n");
        }
        return 0;
    }
    if (argc < 3) {
        std::fprintf(stderr, "%s", kUsage);
        return 1;
    }
    const std::string scenario = argv[2];
    if (scenario != "info" && scenario != "run" && scenario != "about") {
        std::fprintf(stderr, "rlhost: unknown scenario '%s'\n%s", argv[2], kUsage);
        return 1;
    }
    if (scenario == "info" && argc > 3) {
        std::fprintf(stderr, "%s", kUsage);
        return 1;
    }
    Plugin plugin;
    const int status = LoadFilter(argv[1], scenario == "info", plugin);
    if (status != 0) return status;
    int result = 0;
    if (scenario == "info") result = RunInfo(plugin);
    if (scenario == "about") result = RunAbout(plugin, argc - 3, argv + 3);
    if (scenario == "run") {
        try {
            result = RunFilter(plugin, argc - 3, argv + 3);
        } catch (const std::bad_alloc&) {
            // A document as large as the plug-in takes may not fit in this machine's memory.
            std::printf("error: not enough memory for the document\n");
            result = 7;
        }
    }
    FreeLibrary(plugin.module);
    return result;
}
