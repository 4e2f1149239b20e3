// Start-up: run the one command of the command line, and turn every failure
// the flow does not handle itself into the failure report and exit 217.
#include "cli/dispatch.h"
#include "core/console.h"
#include "core/failure.h"
#include "core/report.h"
#include "keyio/key.h"
#include "platform/console.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  platform::PrepareProcess();
  InstallOutOfMemoryHandler();
  try {
    OpenConsole();
    RunCommand(platform::CommandLineArguments(argc, argv));
  } catch (...) {
    ReportCurrentException();
    return kFailureExitStatus;
  }
  ReleaseKey();
  platform::ConsoleClose();
  return 0;
}
