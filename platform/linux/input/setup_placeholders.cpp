// Placeholders for the input access setup until it lands.
#include "platform/os_input.h"

void RunInputSetup() {}
void OsPromptAccessibility() {}
void OsRequestListenEvent() {}
std::string OsInputSetupState() { return "idle"; }
std::string OsInputSetupCommands() { return {}; }
