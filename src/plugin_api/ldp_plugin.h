// The device plug-in contract: what a .ldp library exports and what crosses the
// boundary. A plug-in includes this header (and config_value.h through it) and links
// nothing of the server. The server loads the library with dlopen and finds the entry
// points below by their plain (extern "C") names; the calling convention is the
// platform's default.
//
// Ownership across the boundary:
//  - PluginHandle: created by LDPInit, freed by LDPDone, both inside the plug-in; the
//    host passes it back unchanged (null included).
//  - Texts handed out (device name, channel names, descriptions): owned by the plug-in;
//    the host copies them right after the call, so static text is enough.
//  - ConfigValue* section: lent by the host for one call; the plug-in must not keep it.
//  - BurstSample arrays: allocated by the plug-in, copied by the host, handed back once
//    through LDPBurstFree.
//
// Threads: every host call into a plug-in is made with the host's ServerLock held, so at
// most one host thread is inside a plug-in at a time; LDPInit..LDPQueryInfo run on the
// main thread at start-up, LDPDone on the main thread at shutdown. Channel functions are
// called at up to the fast sampling rate and must return at once. Plug-in threads may
// call the ExperimentStoppedCallback from any thread.
#pragma once

#include <cstdint>

#include "plugin_api/config_value.h"

namespace orvexa {

using PluginHandle = void*;

// Returns the channel's current value; byClient is 1 for a client's read, 0 for logging.
using ChannelReadFunction = float (*)(PluginHandle handle, int readParam, int byClient);
// Sets the channel. Note the order: value second, parameter third.
using ChannelWriteFunction = void (*)(PluginHandle handle, float value, int writeParam);
// Host function a plug-in calls when it ended an experiment by itself (any thread).
using ExperimentStoppedCallback = void (*)(uint32_t experimentId);

// LDPConfig "what" values; any other value asks to configure one channel.
constexpr int ConfigStoreOnly = -1;
constexpr int ConfigPluginDialog = 0;

// LDPMessage codes.
constexpr int MessageControlChanged = 1;  // arg 0
constexpr int MessageIdleState = 2;       // arg 1 when no user is connected, else 0
constexpr int MessageTick = 3;            // arg 0, at the plug-in's tick frequency

// LDPQueryPluginInfo "what" values.
constexpr int PluginInfoTickFrequency = 1;  // out: uint32_t Hz

// LDPExperiment actions.
constexpr int ExperimentStart = 0;
constexpr int ExperimentStop = 1;

#pragma pack(push, 1)
struct BurstSample {
  uint32_t time;
  float value[8];
};
#pragma pack(pop)
static_assert(sizeof(BurstSample) == 36, "BurstSample is 36 bytes on the wire between host and plug-in");

// Boolean results: the host looks only at the lowest byte of the returned int.
extern "C" {
// Required. Stores the instance through handleOut and may store a device name; section is
// null when nothing is stored yet or the server runs with /config. Returns channel count.
typedef int (*LDPInitFunction)(PluginHandle* handleOut, const char** deviceNameOut,
                               ConfigValue* section);
// Required. Releases the instance; called once, at shutdown.
typedef void (*LDPDoneFunction)(PluginHandle handle);
// Required. Describes channel 1..N; 0 (or a null name) skips it.
typedef int (*LDPQueryInfoFunction)(PluginHandle handle, int channel, const char** nameOut,
                                    const char** descriptionOut, ChannelReadFunction* readOut,
                                    int* readParamOut, ChannelWriteFunction* writeOut,
                                    int* writeParamOut);
// Optional. Stores settings into section (never null); other "what" values show a dialog.
typedef void (*LDPConfigFunction)(PluginHandle handle, int what, ConfigValue* section);
// Optional. Unknown codes are ignored.
typedef void (*LDPMessageFunction)(PluginHandle handle, int code, int arg);
// Optional; absent counts as false.
typedef int (*LDPQueryPluginInfoFunction)(PluginHandle handle, int what, void* out);
// Optional; absent counts as false.
typedef int (*LDPBurstSupportedFunction)(PluginHandle handle, const char* burstName);
// Optional; absent counts as -1. Blocks for the recording; returns the sample count or < 0.
typedef int (*LDPBurstRecordFunction)(PluginHandle handle, BurstSample** samplesOut,
                                      const char* burstName, uint32_t duration, int reserved1,
                                      int reserved2);
// Required wherever LDPBurstRecord is exported. No handle.
typedef void (*LDPBurstFreeFunction)(BurstSample* samples);
// Optional; absent counts as true.
typedef int (*LDPExperimentFunction)(PluginHandle handle, int action, uint32_t experimentId,
                                     uint32_t param);
// Optional. Called once, before LDPInit. No handle.
typedef void (*LDPExperimentSetCallbacksFunction)(ExperimentStoppedCallback callback);
}

// Windows lent by the operator window. A plug-in links nothing of the server and no
// toolkit, so a plug-in that wants a window of its own (the serial board plug-in's
// "Port selection" window and its "Error opening port" box) exports setters that take
// plain C function pointers, e.g. PinvaneSetPortDialog(int (*)(int32_t* portIndex,
// char* portPath, int32_t pathCapacity)) and PinvaneSetMessageBox(void (*)(const char*
// text, const char* caption)). In GUI mode the host looks them up with dlsym in every
// loaded library after discovery, installs its functions, and installs null again at
// shutdown; headless it installs nothing, so LDPConfig only stores the settings and
// messages go to standard error. The host's port window runs on the main thread only
// (inside LDPConfig, ServerLock held); its message box may be called from any thread,
// is posted to the main thread and returns at once.

// Exported names, in the host's binding order.
inline constexpr const char* kEntryPointNames[11] = {
    "LDPInit",           "LDPDone",          "LDPQueryInfo",  "LDPConfig",
    "LDPMessage",        "LDPQueryPluginInfo", "LDPBurstSupported", "LDPBurstRecord",
    "LDPBurstFree",      "LDPExperiment",    "LDPExperimentSetCallbacks"};

}  // namespace orvexa

// A plug-in marks each exported entry point with this so it stays visible when the
// library is built with hidden visibility.
#define LDP_EXPORT extern "C" __attribute__((visibility("default")))
