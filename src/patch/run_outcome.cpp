#include "patch/run_outcome.h"

#include <iterator>

namespace {

constexpr size_t kStatusLineUnits = 128;  // terminator included

struct EndLine {
    RunOutcome outcome;
    PatchPhase phase;
    const wchar_t* text;  // followed by the file's path when `namesFile`
    bool namesFile;
    bool stopMayCause;  // a stop breaks transfers off, which look like this end
};

// The run's ends, byte for byte what the player reads.
const EndLine kEndLines[] = {
    {RunOutcome::Unreachable, PatchPhase::Failed,
     L"Nem sikerült elérni a frissítőszervert. Ellenőrizd az internetet.", false, true},
    {RunOutcome::NotAuthentic, PatchPhase::Failed, L"A frissítési lista hitelesítése sikertelen.",
     false, true},
    {RunOutcome::BadList, PatchPhase::Failed, L"Hibás frissítési lista a szerveren.", false, false},
    {RunOutcome::BadPath, PatchPhase::Failed, L"Hibás fájlútvonal a frissítési listában: ", true,
     false},
    {RunOutcome::DownloadError, PatchPhase::Failed, L"Letöltési hiba: ", true, true},
    {RunOutcome::Corrupt, PatchPhase::Failed, L"Sérült letöltés (hash nem egyezik): ", true, false},
    {RunOutcome::InstallFailed, PatchPhase::Failed, L"Nem sikerült telepíteni: ", true, false},
    {RunOutcome::UpToDate, PatchPhase::UpToDate, L"A játék naprakész. Indíthatod!", false, false},
    {RunOutcome::Updated, PatchPhase::Updated, L"Frissítés kész. Indíthatod a játékot!", false,
     false},
};

const EndLine* LineOf(RunOutcome outcome) {
    for (const EndLine& line : kEndLines) {
        if (line.outcome == outcome)
            return &line;
    }
    return nullptr;
}

}  // namespace

void BeginRun(PatchStatus& status) {
    status.phase.store(PatchPhase::Checking);
    SetStatusText(status, L"Frissítések keresése...");
    status.overallProgress.store(0.0);
}

void EndRun(PatchStatus& status, const RunEnd& end) {
    const EndLine* line = LineOf(end.outcome);
    // Cancelled has no line of its own here (FinishCancelled writes it); Going never ends a run.
    if (line == nullptr || (line->stopMayCause && status.stopRequested.load())) {
        FinishCancelled(status);
        return;
    }
    if (IsReadyPhase(line->phase))
        status.overallProgress.store(1.0);
    status.phase.store(line->phase);
    SetStatusText(status, line->namesFile ? line->text + end.path : std::wstring(line->text));
    status.busy.store(false);
}

void EndRunUnexpectedly(PatchStatus& status) noexcept {
    status.phase.store(PatchPhase::Failed);
    try {
        SetStatusText(status, L"Váratlan hiba történt a frissítés közben.");
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
