// The windows the operator window lends to plug-ins: the serial board plug-in's "Port
// selection" window and its message box. A plug-in links nothing of the server, so it
// exports setters taking plain C function pointers (PinvaneSetPortDialog and
// PinvaneSetMessageBox); after discovery the operator window looks them up in every
// loaded library and installs the functions below, and takes them back at shutdown.
// Headless nothing is installed: the plug-in then only stores its settings and prints
// its messages on standard error.
//
// The port window runs on the main thread only (inside LDPConfig, from "Configure
// selected"); asked from another thread it shows nothing and reports Cancel. The
// message box may be asked from any thread (the plug-in's reader thread): it is posted
// to the main thread and returns at once, so that thread never waits for the operator
// and the main thread, which may be waiting for that thread to stop, never blocks on it.
// One box per text is open at a time.
#pragma once

#include <cstdint>

namespace orvexa {

class DeviceRegistry;

// Installs the functions into every loaded plug-in that exports the setters.
void InstallPluginDialogs(DeviceRegistry& registry);
// Hands the plug-ins back their headless behaviour.
void RemovePluginDialogs(DeviceRegistry& registry);

}  // namespace orvexa

extern "C" {
// Shows "Port selection" preset with *portIndex and portPath (room for pathCapacity
// bytes); non-zero on OK with the chosen number (0..100) and path stored back.
int OrvexaPortSelectionDialog(int32_t* portIndex, char* portPath, int32_t pathCapacity);
// Shows a message box on the main thread without waiting for it.
void OrvexaPluginMessageBox(const char* text, const char* caption);
}
