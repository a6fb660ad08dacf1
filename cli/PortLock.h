#pragma once
#include <QString>

// Whether another program holds the advisory lock (flock) on the serial
// device, as the station does while it has the port open. Checked before
// the line is opened, so two masters never garble one line.
bool portHeldByAnotherProgram(const QString& device);
