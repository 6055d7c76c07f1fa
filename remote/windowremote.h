// How the main window runs the symbol server.
#pragma once

// Whether a window starts listening on its configured port. Tests that open
// many windows switch it off so they never take the user's port.
void SetWindowServerListens(bool on);
