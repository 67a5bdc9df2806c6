// Unit veksfxp: the program's start and stop.
//
// Start: the application object; the DDE manager, owned by it; the main window from
// its layout, then FormCreate. Then the message loop. Stop: the application object
// destroys the main window and then the DDE manager, and the program ends with 0.
// A failure while the DDE manager is set up ends it with the runtime error box and
// 217; one while the main window is made, with the "Application Error" box and 1.
#pragma once

#include <stdint.h>

#include "classes.h"
#include "ddemledge.h"
#include "error.h"

namespace vek {

inline constexpr int kExitOk = 0;
inline constexpr int kExitApplicationError = 1;
inline constexpr int kExitStartupError = 217;

class ApplicationHost {
 public:
  virtual ~ApplicationHost() = default;
  // Makes the main window, owned by application, from its layout and runs FormCreate.
  virtual Error CreateMainWindow(TComponent* application) = 0;
  // Shows the main window and runs the message loop until the application is asked
  // to end.
  virtual void Run() = 0;
  // The system's message box: text and caption in Windows-1250; a stop icon or none.
  virtual void ShowSystemMessage(const char* text, const char* caption, bool stop_icon) = 0;
  // The executable's file name without its folder (Windows-1250).
  virtual const char* ModuleName() = 0;
  // A code address relative to the start of the executable's image.
  virtual uint32_t RelativeAddress(const void* code) = 0;
};

// Runs the program; returns its exit code.
int RunProgram(ApplicationHost& host, DdemlEdge& ddeml);

}  // namespace vek
