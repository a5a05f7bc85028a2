#include "patch/run_outcome.h"

namespace {

constexpr size_t kStatusLineUnits = 128;  // terminator included
constexpr wchar_t kUnexpectedLine[] = L"Váratlan hiba történt a frissítés közben.";

struct EndLine {
    PatchPhase phase;
    const wchar_t* text;  // followed by the file's path when `namesFile`
    bool namesFile;
    bool stopMayCause;  // a stop breaks transfers off, which look like this end
};

// Each end's phase and line, byte for byte what the player reads. A switch without a default, so
// that an end added to RunOutcome without its line does not build.
EndLine LineOf(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::Going:  // never an end; a run that stops here was stopped
        case RunOutcome::Cancelled:
            return {PatchPhase::Idle, L"Megszakítva.", false, false};
        case RunOutcome::Unreachable:
            return {PatchPhase::Failed,
                    L"Nem sikerült elérni a frissítőszervert. Ellenőrizd az internetet.", false,
                    true};
        case RunOutcome::NotAuthentic:
            return {PatchPhase::Failed, L"A frissítési lista hitelesítése sikertelen.", false,
                    true};
        case RunOutcome::BadList:
            return {PatchPhase::Failed, L"Hibás frissítési lista a szerveren.", false, false};
        case RunOutcome::BadPath:
            return {PatchPhase::Failed, L"Hibás fájlútvonal a frissítési listában: ", true, false};
        case RunOutcome::DownloadError:
            return {PatchPhase::Failed, L"Letöltési hiba: ", true, true};
        case RunOutcome::Corrupt:
            return {PatchPhase::Failed, L"Sérült letöltés (hash nem egyezik): ", true, false};
        case RunOutcome::InstallFailed:
            return {PatchPhase::Failed, L"Nem sikerült telepíteni: ", true, false};
        case RunOutcome::UpToDate:
            return {PatchPhase::UpToDate, L"A játék naprakész. Indíthatod!", false, false};
        case RunOutcome::Updated:
            return {PatchPhase::Updated, L"Frissítés kész. Indíthatod a játékot!", false, false};
    }
    return {PatchPhase::Failed, kUnexpectedLine, false, false};
}

}  // namespace

void BeginRun(PatchStatus& status) {
    status.phase.store(PatchPhase::Checking);
    SetStatusText(status, L"Frissítések keresése...");
    status.overallProgress.store(0.0);
}

void FinishCancelled(PatchStatus& status) {
    const EndLine line = LineOf(RunOutcome::Cancelled);
    status.phase.store(line.phase);
    SetStatusText(status, line.text);
    status.busy.store(false);
}

void EndRun(PatchStatus& status, const RunEnd& end) {
    const EndLine line = LineOf(end.outcome);
    if (line.phase == PatchPhase::Idle || (line.stopMayCause && status.stopRequested.load())) {
        FinishCancelled(status);
        return;
    }
    if (IsReadyPhase(line.phase))
        status.overallProgress.store(1.0);
    status.phase.store(line.phase);
    SetStatusText(status, line.namesFile ? line.text + end.path : std::wstring(line.text));
    status.busy.store(false);
}

void EndRunUnexpectedly(PatchStatus& status) noexcept {
    status.phase.store(PatchPhase::Failed);
    try {
        SetStatusText(status, kUnexpectedLine);
    } catch (...) {
        // No memory even for the line: the phase alone tells the window.
    }
    status.busy.store(false);
}

std::wstring DownloadStatusLine(int number, int count, const std::wstring& widePath) {
    std::wstring line =
        L"Letöltés (" + std::to_wstring(number) + L"/" + std::to_wstring(count) + L"): " + widePath;
    if (line.size() > kStatusLineUnits - 1)
        line.resize(kStatusLineUnits - 1);
    return line;
}
