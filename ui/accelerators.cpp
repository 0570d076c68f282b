// Accelerator tables for modal dialogs through a message-filter hook (see
// ui/accelerators.h).
#include "ui/accelerators.h"

#include <new>

#include "support/debug_log.h"
#include "ui/guarded_procedure.h"

namespace {

struct AcceleratorEntry {
    HWND window;
    HACCEL table;
    bool enabled;
    AcceleratorEntry* next;  // in the list of used entries or in the free list
};

// Entries are handed out from blocks so that registering and unregistering
// the same dialog run after run allocates nothing.
constexpr int kEntriesPerBlock = 8;
struct EntryBlock {
    AcceleratorEntry entries[kEntriesPerBlock];
    EntryBlock* next;
};

struct AcceleratorRegistry {
    EntryBlock* blocks = nullptr;
    AcceleratorEntry* used = nullptr;
    AcceleratorEntry* unused = nullptr;
    HHOOK hook = nullptr;
};
AcceleratorRegistry gRegistry;

AcceleratorEntry* FindEntry(HWND window) {
    if (!window) return nullptr;
    for (AcceleratorEntry* entry = gRegistry.used; entry; entry = entry->next)
        if (entry->window == window) return entry;
    return nullptr;
}

AcceleratorEntry* TakeUnusedEntry() {
    if (!gRegistry.unused) {
        auto* block = new (std::nothrow) EntryBlock();
        if (!block) return nullptr;
        block->next = gRegistry.blocks;
        gRegistry.blocks = block;
        for (AcceleratorEntry& entry : block->entries) {
            entry.next = gRegistry.unused;
            gRegistry.unused = &entry;
        }
    }
    AcceleratorEntry* entry = gRegistry.unused;
    gRegistry.unused = entry->next;
    return entry;
}

// Sees every message a modal dialog's loop (and a message box's) retrieves.
LRESULT CALLBACK AcceleratorHook(int code, WPARAM wParam, LPARAM lParam);

LRESULT AcceleratorHookBody(int code, WPARAM wParam, LPARAM lParam) {
    if (code == MSGF_DIALOGBOX) {
        MSG* message = reinterpret_cast<MSG*>(lParam);
        if (message && message->message >= WM_KEYFIRST && message->message <= WM_KEYLAST) {
            AcceleratorEntry* entry = FindEntry(GetActiveWindow());
            if (entry && entry->enabled && entry->table && TranslateAcceleratorA(entry->window, entry->table, message))
                return 1;
        }
    }
    return CallNextHookEx(gRegistry.hook, code, wParam, lParam);
}

LRESULT CALLBACK AcceleratorHook(int code, WPARAM wParam, LPARAM lParam) {
    return GuardedProcedure<LRESULT>(0, [&] { return AcceleratorHookBody(code, wParam, lParam); });
}

}  // namespace

bool InitializeAcceleratorKeys() {
    if (gRegistry.hook) return true;
    gRegistry.hook = SetWindowsHookExA(WH_MSGFILTER, AcceleratorHook, nullptr, GetCurrentThreadId());
    if (!gRegistry.hook) {
        DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                    "InitializeAcceleratorKeys() - Failed to connect accelerator key hook.");
        return false;
    }
    return true;
}

bool RegisterAcceleratorKeys(HWND window, HACCEL table) {
    if (!InitializeAcceleratorKeys()) return false;
    AcceleratorEntry* entry = FindEntry(window);
    if (!entry) {
        entry = TakeUnusedEntry();
        if (!entry) return false;
        entry->window = window;
        entry->next = gRegistry.used;
        gRegistry.used = entry;
    }
    entry->table = table;
    entry->enabled = true;
    return true;
}

bool EnableAcceleratorKeys(HWND window, bool enabled) {
    AcceleratorEntry* entry = FindEntry(window);
    if (!entry) {
        ReportUnexpected(__LINE__, "EnableAcceleratorKeys() - No accelerator key table is registered for window 0x%X.",
                         static_cast<unsigned>(reinterpret_cast<uintptr_t>(window)));
        return false;
    }
    entry->enabled = enabled;
    return true;
}

bool UnregisterAcceleratorKeys(HWND window) {
    for (AcceleratorEntry** link = &gRegistry.used; *link; link = &(*link)->next) {
        AcceleratorEntry* entry = *link;
        if (entry->window != window) continue;
        *link = entry->next;
        *entry = AcceleratorEntry{nullptr, nullptr, false, gRegistry.unused};
        gRegistry.unused = entry;
        return true;
    }
    return false;
}

void FreeAcceleratorKeys() {
    if (gRegistry.hook) UnhookWindowsHookEx(gRegistry.hook);
    while (gRegistry.blocks) {
        EntryBlock* next = gRegistry.blocks->next;
        delete gRegistry.blocks;
        gRegistry.blocks = next;
    }
    gRegistry = AcceleratorRegistry{};
}

int RegisteredAcceleratorWindowCount() {
    int count = 0;
    for (AcceleratorEntry* entry = gRegistry.used; entry; entry = entry->next) count++;
    return count;
}

bool AcceleratorHookInstalled() { return gRegistry.hook != nullptr; }
