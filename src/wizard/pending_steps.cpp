// TEMPORARY: the step methods not yet written, so the program links.
#include "wizard/main_form.h"
void Main::CheckEnvironMental() {}
void Main::DispalyStep2() {}
void Main::Step2_Select_Click() {}
void Main::Step2_Submit_Click() {}
void Main::DownLoadSQLFile() {}
void Main::Timer2_Timer() {}
void Main::Install() {}
void Main::CheckSuccess() {}
void Main::Label_Close_Click() {}
void Main::Label2_Click() {}
void Main::Label2_MouseMove() {}
void Main::Picture1_MouseDown() {}
std::string Main::WriteInstallationNotes() { return {}; }
