// TEMPORARY: placeholders so the program links while the window is
// written. Its author deletes the lines their files now define.
#include "settings/browse.h"
#include "wizard/ui.h"
#include <cstdlib>
void ShowMessage(const std::string&) noexcept {}
bool AskYesNo(const std::string&) noexcept { return false; }
void EndProcess(int exitCode) { std::exit(exitCode); }
void PumpEvents() noexcept {}
void RefreshWindow() noexcept {}
void SetWindowTopmost() noexcept {}
void OpenWebSite(const std::string&) noexcept {}
void* LoadHandCursor() noexcept { return nullptr; }
void ShowHandCursor(void*) noexcept {}
void DragWindow() noexcept {}
void SetTaskbarProgress(int64_t, int64_t) noexcept {}
void ClearTaskbarProgress() noexcept {}
void SleepMilliseconds(int) noexcept {}
int64_t LocalClockSeconds() noexcept { return 0; }
std::string GetProgramDir() noexcept { return {}; }
std::string BrowseForFolder(const std::string&) noexcept { return {}; }
