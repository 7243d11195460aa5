#pragma once
// Screen-cast portal backend: the pointer position from the cursor metadata
// of a screen-cast stream.
bool PortalStart();
bool PortalPointer(double& x, double& y);
