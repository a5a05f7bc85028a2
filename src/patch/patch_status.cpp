#include "patch/patch_status.h"

PatchStatus* gPatchStatus = nullptr;

std::wstring ReadStatusText(PatchStatus& status) {
    std::lock_guard<std::mutex> lock(status.statusLock);
    return status.statusText;
}

void SetStatusText(PatchStatus& status, std::wstring text) {
    std::lock_guard<std::mutex> lock(status.statusLock);
    status.statusText = std::move(text);
}

bool IsReadyPhase(PatchPhase phase) {
    return phase == PatchPhase::UpToDate || phase == PatchPhase::Updated;
}
