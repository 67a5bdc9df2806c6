#include "veksfxp.h"

#include "ddeman.h"
#include "veksfxu.h"

namespace vek {

int RunProgram(ApplicationHost& host, DdemlEdge& ddeml) {
  char text[400];
  TComponent* application = new TComponent(nullptr);
  Error error = application ? InitDdeManager(application, ddeml) : OutOfMemoryError();
  if (!error.ok()) {
    delete application;
    // Where the failure arose: the DDE manager's set-up.
    FormatRuntimeError(kExitStartupError,
                       host.RelativeAddress(reinterpret_cast<const void*>(&InitDdeManager)), text,
                       sizeof text);
    host.ShowSystemMessage(text, "Error", false);
    return kExitStartupError;
  }

  error = host.CreateMainWindow(application);
  if (!error.ok()) {
    FormatApplicationError(error, host.ModuleName(),
                           host.RelativeAddress(reinterpret_cast<const void*>(&RunProgram)), text,
                           sizeof text);
    host.ShowSystemMessage(text, "Application Error", true);
    delete application;
    return kExitApplicationError;
  }

  host.Run();
  delete application;  // the main window first, then the DDE manager
  return kExitOk;
}

}  // namespace vek
