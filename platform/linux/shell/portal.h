#pragma once
// Screen-cast portal backend: the pointer position from the cursor metadata
// of a screen-cast stream.
#include <cstdint>
#include <string>

// Checks that the portal offers cursor metadata and starts the portal thread,
// which sets up the session and streams in the background. True when the
// thread was started.
bool PortalStart();
// The last cursor position seen on a stream; false (outputs untouched) until
// the first report, and again once the streams are gone.
bool PortalPointer(double& x, double& y);
// Closes the session and streams and joins the portal thread; a later
// PortalStart starts afresh. Does nothing when the thread is not running.
void PortalStop();

// ---- rules, shared with the tests ------------------------------------------------

// Where a stream lies on the desktop (from the portal) and the size of its
// video (negotiated; 0 until known).
struct PortalStreamPlace {
  double x = 0, y = 0;          // stream position, desktop coordinates
  double width = 0, height = 0;  // logical size, desktop coordinates
  uint32_t videoWidth = 0, videoHeight = 0;
};
// A cursor position in stream pixels mapped to desktop coordinates: scaled by
// logical size / video size on each axis (1 when either is below 1), then
// moved by the stream position.
void PortalMapCursor(const PortalStreamPlace& place, int32_t cursorX, int32_t cursorY, double& x, double& y);
// The sender part of request object paths: the unique name without its ":"
// and with every "." replaced by "_".
std::string PortalSenderPart(const std::string& uniqueName);
// The restore token file in the data directory.
std::string PortalTokenPath();
// The first line of the token file; empty when there is none.
std::string PortalReadToken();
