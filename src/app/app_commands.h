// The application's and the main frame's commands: New, Open, Save As, New
// Empty 1s Sample, printing, Exit, Customize... and About.
#pragma once

#include "commands/commands.h"

namespace zandrel {

class CQuorvelApp;
class CMainFrame;

void DeclareAppCommands(CommandRegistry& registry, CQuorvelApp& app, CMainFrame& frame);

}  // namespace zandrel
