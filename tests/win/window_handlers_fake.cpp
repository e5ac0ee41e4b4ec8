// The handlers of Main that the step logic defines elsewhere, as counters.
// Linked with the real layout (main_form.cpp) and the real window.
#include "window_handlers_fake.h"

#include <stdexcept>

#include "settings/password.h"
#include "wizard/main_form.h"

HandlerLog& Handlers()
{
    static HandlerLog log;
    return log;
}

namespace {
void Record(const char* name)
{
    HandlerLog& log = Handlers();
    ++log.calls[name];
    if (log.action) log.action(name);
}
}  // namespace

// The window tests never hold a file; Main's members still need the release.
void ReleaseHeldFile(std::uintptr_t) noexcept {}

std::string GenerateRandomPassword(int length)
{
    switch (Handlers().random) {
    case HandlerLog::Random::Fails: return {};
    case HandlerLog::Random::Throws: throw std::runtime_error("generator");
    case HandlerLog::Random::Works: break;
    }
    return std::string(static_cast<std::size_t>(length), 'a');
}

void Main::CheckEnvironMental() { Record("CheckEnvironMental"); }
void Main::DispalyStep2() { Record("DispalyStep2"); }
void Main::Step2_Select_Click() { Record("Step2_Select_Click"); }
void Main::Step2_Submit_Click() { Record("Step2_Submit_Click"); }
void Main::DownLoadSQLFile() { Record("DownLoadSQLFile"); }
void Main::Timer2_Timer() { Record("Timer2_Timer"); }
void Main::Install() { Record("Install"); }
void Main::CheckSuccess() { Record("CheckSuccess"); }
std::string Main::WriteInstallationNotes() { return {}; }
void Main::Label_Close_Click() { Record("Label_Close_Click"); }
void Main::Label2_Click() { Record("Label2_Click"); }
void Main::Label2_MouseMove() { Record("Label2_MouseMove"); }
void Main::Picture1_MouseDown() { Record("Picture1_MouseDown"); }
