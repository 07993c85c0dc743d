// The port's side of the profile beyond CCommPort's own LoadProfile and
// SaveProfile: the one place that writes the port and its line settings.
#pragma once

class CCommPort;

// Stores "CommPort", "Baud", "DataLength", "Parity" and "StopLength" in
// section "Communication", each only when the port can tell it: the name of
// the port last opened, the line settings only while it is open.
void StorePortSettings(CCommPort& port);
