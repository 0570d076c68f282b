// The host's handle procedures: movable blocks reached through a master
// pointer, with lock counts, guard bytes and a record of every handle ever
// made, so that stale and foreign handles are recognised.
#include <cstring>

#include "tools/hostsim/sim_state.h"

SimHandle* SimState::Find(Handle handle) {
    auto it = handleIndex.find(handle);
    return it == handleIndex.end() ? nullptr : it->second;
}

Handle SimState::NewHandle(int32 size, bool hostOwned) {
    auto record = std::make_unique<SimHandle>();
    record->memory.Allocate(static_cast<size_t>(size), 0);
    record->master = reinterpret_cast<char*>(record->memory.Data());
    record->size = size;
    record->hostOwned = hostOwned;
    record->run = runNumber;
    record->selector = selector;
    Handle handle = &record->master;
    handleIndex[handle] = record.get();
    handles.push_back(std::move(record));
    return handle;
}

void SimState::DisposeHandle(Handle handle, const char* procedure, bool byHost) {
    if (!handle) return;  // disposing NULL is allowed
    SimHandle* record = Find(handle);
    if (!record) {
        Violation("%s given %p, which is not a handle of this host", procedure, static_cast<void*>(handle));
        return;
    }
    if (!record->alive) {
        Violation("%s given a handle that was already disposed of", procedure);
        return;
    }
    if (!byHost && !record->memory.GuardsIntact())
        Violation("%s: the plug-in wrote outside the %d bytes of a handle before disposing of it", procedure,
                  record->size);
    if (record->locks > 0 && !byHost)
        Violation("%s given a handle that is still locked (%d lock%s)", procedure, record->locks,
                  record->locks == 1 ? "" : "s");
    record->memory.Release();
    record->master = nullptr;
    record->alive = false;
    record->size = 0;
}

namespace {

SimHandle* Live(SimState* state, Handle handle, const char* procedure) {
    SimHandle* record = state->Find(handle);
    if (!record) {
        state->Violation("%s given %p, which is not a handle of this host", procedure, static_cast<void*>(handle));
        return nullptr;
    }
    if (!record->alive) {
        state->Violation("%s given a handle that was already disposed of", procedure);
        return nullptr;
    }
    return record;
}

Handle NewProc(int32 size) {
    SimState* state = CurrentSim();
    if (!state) return nullptr;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("newProc");
    if (size < 0) {
        state->Violation("newProc asked for %d bytes", size);
        return nullptr;
    }
    if (state->options.failNewHandle) return nullptr;
    return state->NewHandle(size, false);
}

void DisposeProc(Handle handle) {
    SimState* state = CurrentSim();
    if (!state) return;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("disposeProc");
    state->DisposeHandle(handle, "disposeProc");
}

void DisposeRegularProc(Handle handle) {
    SimState* state = CurrentSim();
    if (!state) return;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("disposeRegularHandleProc");
    state->DisposeHandle(handle, "disposeRegularHandleProc");
}

int32 GetSizeProc(Handle handle) {
    SimState* state = CurrentSim();
    if (!state) return 0;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("getSizeProc");
    SimHandle* record = Live(state, handle, "getSizeProc");
    if (state->options.stubHandleSizeProcs) return 0;  // a host that does not track its handles' sizes
    return record ? record->size : 0;
}

OSErr SetSizeProc(Handle handle, int32 size) {
    SimState* state = CurrentSim();
    if (!state) return paramErr;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("setSizeProc");
    SimHandle* record = Live(state, handle, "setSizeProc");
    if (!record) return paramErr;
    if (size < 0) {
        state->Violation("setSizeProc asked for %d bytes", size);
        return paramErr;
    }
    if (record->locks > 0) {
        // The block would move under the plug-in's locked pointer.
        state->Violation("setSizeProc called on a locked handle");
        return paramErr;
    }
    if (state->options.stubHandleSizeProcs) return noErr;  // says yes and keeps the old size
    GuardedBuffer grown;
    grown.Allocate(static_cast<size_t>(size), 0);
    std::memcpy(grown.Data(), record->memory.Data(), static_cast<size_t>(size < record->size ? size : record->size));
    record->memory = std::move(grown);
    record->master = reinterpret_cast<char*>(record->memory.Data());
    record->size = size;
    return noErr;
}

Ptr LockProc(Handle handle, Boolean) {
    SimState* state = CurrentSim();
    if (!state) return nullptr;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("lockProc");
    SimHandle* record = Live(state, handle, "lockProc");
    if (!record || state->options.failLockHandle) return nullptr;
    record->locks++;
    return record->master;
}

void UnlockProc(Handle handle) {
    SimState* state = CurrentSim();
    if (!state) return;
    std::lock_guard<std::recursive_mutex> lock(state->mutex);
    state->CheckCaller("unlockProc");
    SimHandle* record = Live(state, handle, "unlockProc");
    if (!record) return;
    if (record->locks == 0) {
        state->Violation("unlockProc called on a handle that is not locked");
        return;
    }
    record->locks--;
}

void RecoverSpace(int32) {
    if (SimState* state = CurrentSim()) state->CheckCaller("recoverSpaceProc");
}

}  // namespace

void FillHandleProcs(SimState& state) {
    HandleProcs& procs = state.handleProcs;
    procs = HandleProcs();
    int16 count = state.options.handleProcCount;
    if (count < 0) count = 0;
    if (count > 8) count = 8;
    procs.version = 1;
    procs.numHandleProcs = count;
    // Slot by slot: the host's procedure when offered, a trap otherwise.
    auto slot = [&](int index, auto proc) {
        using Slot = decltype(proc);
        return index < count ? proc : ProcCast<Slot>(SimTrap(kTrapHandleProcs, index));
    };
    procs.newProc = slot(0, &NewProc);
    procs.disposeProc = slot(1, &DisposeProc);
    procs.getSizeProc = slot(2, &GetSizeProc);
    procs.setSizeProc = slot(3, &SetSizeProc);
    procs.lockProc = slot(4, &LockProc);
    procs.unlockProc = slot(5, &UnlockProc);
    procs.recoverSpaceProc = slot(6, &RecoverSpace);
    procs.disposeRegularHandleProc = slot(7, &DisposeRegularProc);
}
