// The About box (see ui/about_box.h): one AboutBoxState per run, kept in the
// dialog's GWLP_USERDATA from WM_INITDIALOG on.
#include "ui/about_box.h"
#include "ui/guarded_procedure.h"

#include <commctrl.h>

#include <string>

#include "gl/drawing_settings.h"
#include "gl/gl_context.h"
#include "support/debug_log.h"
#include "support/os.h"
#include "ui/dialog_ids.h"
#include "ui/help_viewer.h"
#include "ui/options_dialog.h"

namespace {

HACCEL gAboutAccelerators = nullptr;

const DialogTooltip kAboutTooltips[] = {
    {IDC_ABOUT_MANUAL, "Read the instruction manual for this product."},
    {IDC_ABOUT_PRODUCT_LINK, "Visit the Web Site for this product."},
    {IDC_ABOUT_ACCOUNT_LINK, "Visit your Corvane Software account page."},
    {IDC_ABOUT_SUPPORT_LINK, "Send an eMail to Corvane Software Support."},
    {IDC_ABOUT_OK, "OK - Return to the editor"},
    {IDC_ABOUT_OPTIONS, "(F10) - Configure plug-in options"},
    {IDC_ABOUT_LOGO, "Visit the Corvane Software web site"},
    {IDC_ABOUT_HELP_ICON, "Help (?) - Click to see help for this Dialog."},
};

struct AboutBoxState : PeripheryDialog {
    HBITMAP splash;  // owned; deleted with the box
};

// The version the preview's context reported; without a preview, that of a
// hidden context made for the purpose (software only when the stored setting
// asks for software rendering). The calling thread's current context, if
// any, is current again afterwards.
std::string OpenGLVersionLine() {
    std::string number = OpenGLVersionNumber();
    if (number.empty()) {
        OpenGLRegistrySettings settings;
        ReadOpenGLRegistryData(&settings);
        bool accelerated = settings.optimizationSetting != OPTIMIZE_NONE;
        HGLRC previous = wglGetCurrentContext();
        HDC previousDC = wglGetCurrentDC();
        OpenGLContext context;
        PIXELFORMATDESCRIPTOR descriptor = {};
        if (CreateHiddenOpenGLContext(&context, &descriptor, &accelerated)) {
            if (const OpenGLCapabilities* caps = CurrentOpenGLCapabilities()) number = VersionNumberOf(caps->version);
            DestroyHiddenOpenGLContext(&context);
        }
        if (previous) wglMakeCurrent(previousDC, previous);
    }
    return "OpenGL Version " + (number.empty() ? std::string("Unknown") : number);
}

std::string VersionLine() {
    uint16_t parts[4] = {0, 0, 0, 0};
    std::string failure;
    if (!OsGetModuleProductVersion(parts, &failure)) ReportUnexpected(__LINE__, "%s", failure.c_str());
    char line[96];
    wsprintfA(line, "Version: %u.%u.%u.%u%s%s", parts[0], parts[1], parts[2], parts[3], " x64", "");
    return line;
}

void InitializeAboutBox(AboutBoxState* state) {
    HWND dialog = state->dialog;
    state->previousMessageOwner = SetMessageOwnerWindow(reinterpret_cast<OsWindow>(dialog));
    MakeLinkControl(GetDlgItem(dialog, IDC_ABOUT_LOGO), state->instance, kMakerWebSiteAddress, true);
    MakeLinkControl(GetDlgItem(dialog, IDC_ABOUT_PRODUCT_LINK), state->instance, kProductPageAddress, true);
    MakeLinkControl(GetDlgItem(dialog, IDC_ABOUT_ACCOUNT_LINK), state->instance, kAccountPageAddress, true);
    MakeLinkControl(GetDlgItem(dialog, IDC_ABOUT_SUPPORT_LINK), state->instance, kSupportMailAddress, false);
    SetHelpIcon(dialog, IDC_ABOUT_HELP_ICON);
    state->splash = static_cast<HBITMAP>(
        LoadImageA(state->instance, MAKEINTRESOURCEA(IDB_SPLASH), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    if (state->splash)
        SendDlgItemMessageA(dialog, IDC_ABOUT_SPLASH, STM_SETIMAGE, IMAGE_BITMAP,
                            reinterpret_cast<LPARAM>(state->splash));

    SetDlgItemTextA(dialog, IDC_ABOUT_OPENGL_VERSION, OpenGLVersionLine().c_str());
    SetDlgItemTextA(dialog, IDC_ABOUT_VERSION, VersionLine().c_str());

    FinishPeripheryDialogStart(state, kAboutTooltips, sizeof(kAboutTooltips) / sizeof(kAboutTooltips[0]));
}

bool OnCommand(AboutBoxState* state, int id, int code) {
    switch (id) {
        case IDOK:
        case IDC_ABOUT_OK:
            if (code == BN_CLICKED) EndDialog(state->dialog, 1);
            return true;
        case IDCANCEL:
            EndDialog(state->dialog, 0);
            return true;
        case IDM_ABOUT_CONTEXT_HELP:
            DisplayHTMLControlHelp(IDC_ABOUT_HELP_ICON);
            return true;
        case IDC_ABOUT_HELP_ICON:
            if (code == STN_CLICKED) DisplayHTMLControlHelp(IDC_ABOUT_HELP_ICON);
            return true;
        case IDC_ABOUT_OPTIONS:
            if (code == BN_CLICKED) ShowOptionsDialog(state->instance, state->dialog);
            return true;
        case IDC_ABOUT_MANUAL:
            if (code == BN_CLICKED) DisplayHelpInViewer(GetHelpFilePath().c_str());  // the manual at its start page
            return true;
    }
    return false;
}

INT_PTR HandleMessage(AboutBoxState* state, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            InitializeAboutBox(state);
            return TRUE;
        case WM_COMMAND:
            return OnCommand(state, LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
        case WM_HELP: {
            const auto* info = reinterpret_cast<const HELPINFO*>(lParam);
            if (info && info->iContextType == HELPINFO_WINDOW)
                DisplayHTMLControlHelp(static_cast<uint32_t>(info->iCtrlId));
            return TRUE;
        }
    }
    INT_PTR answer = FALSE;
    AnswerPeripheryMessage(state, message, wParam, lParam, &answer);
    return answer;
}

static INT_PTR CALLBACK AboutProcBody(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        reinterpret_cast<AboutBoxState*>(lParam)->dialog = dialog;
        SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
    }
    auto* state = reinterpret_cast<AboutBoxState*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
    if (!state) return FALSE;  // messages before WM_INITDIALOG
    const INT_PTR result = HandleMessage(state, message, wParam, lParam);
    if (message == WM_DESTROY) SetWindowLongPtrA(dialog, GWLP_USERDATA, 0);
    return result;
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return GuardedProcedure<INT_PTR>(0, [&] { return AboutProcBody(dialog, message, wParam, lParam); });
}

}  // namespace

INT_PTR ShowAboutBox(HINSTANCE instance, HWND owner) {
    INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);
    AboutBoxState state = {};
    state.instance = instance;
    state.owner = owner;
    state.accelerators = LoadDialogAccelerators(instance, IDR_ABOUT_ACCELERATORS, &gAboutAccelerators);
    const INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_ABOUT), owner, AboutProc,
                                           reinterpret_cast<LPARAM>(&state));
    if (result == -1)
        DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "ShowAboutBox() - The About box could not be created.");
    // The static control does not own a bitmap set with STM_SETIMAGE.
    if (state.splash) DeleteObject(state.splash);
    return result;
}
