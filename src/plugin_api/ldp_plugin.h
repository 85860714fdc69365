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
// Threads: at most one host thread is inside a plug-in at a time, but not always the same
// thread. Loading (LDPExperimentSetCallbacks, LDPInit, LDPConfig(-1), LDPQueryPluginInfo,
// LDPQueryInfo) runs on the main thread before anything is served; LDPDone runs on the
// main thread at shutdown, after the sampling thread has ended, with the host's
// ServerLock held so that no client worker is inside the plug-in meanwhile; every other
// call is made with ServerLock held from the thread named at the entry point. A plug-in
// whose own threads touch state that entry points also touch guards it itself.
// Channel functions are called at up to the fast sampling rate and must return at once:
// they work on values the plug-in keeps, never on the device directly.
//
// The ExperimentStoppedCallback takes ServerLock. A plug-in may call it from any thread,
// including from inside an entry point (the lock is recursive for the calling thread),
// but it must never wait inside an entry point for one of its own threads that may be
// calling the callback at that moment: that thread waits for the lock the host holds.
#pragma once

#include <cstdint>

#include "plugin_api/config_value.h"

namespace orvexa {

using PluginHandle = void*;

// Returns the channel's current value; byClient is 1 for a client's read (client worker
// threads), 0 for the loggers (the one-second tick, the sampling thread).
using ChannelReadFunction = float (*)(PluginHandle handle, int readParam, int byClient);
// Sets the channel (client worker threads). Note the order: value second, parameter third.
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
static_assert(sizeof(BurstSample) == 36,
              "BurstSample is 36 bytes on the wire between host and plug-in");

// Boolean results: the host looks only at the lowest byte of the returned int.
extern "C" {
// Required; main thread, once. Stores the instance through handleOut and may store a
// device name (the host presets it to null; null becomes "Unknown"); section is null when
// nothing is stored yet or the server runs with /config. Returns the channel count; 0 or
// less registers no channels but the plug-in stays loaded and is still called.
typedef int (*LDPInitFunction)(PluginHandle* handleOut, const char** deviceNameOut,
                               ConfigValue* section);
// Required; main thread, once, at shutdown (see Threads). Releases the instance; nothing
// calls the plug-in afterwards.
typedef void (*LDPDoneFunction)(PluginHandle handle);
// Required; main thread, while loading, for channel = 1..N. The host presets the name and
// description to null and passes the addresses of its own record's function and
// parameter fields. 0 (or a null name) skips the channel; later numbers are still asked.
typedef int (*LDPQueryInfoFunction)(PluginHandle handle, int channel, const char** nameOut,
                                    const char** descriptionOut, ChannelReadFunction* readOut,
                                    int* readParamOut, ChannelWriteFunction* writeOut,
                                    int* writeParamOut);
// Optional; main thread (ConfigStoreOnly while loading; the others from the operator
// window, ServerLock held for the whole call). Every value other than ConfigStoreOnly asks
// for the plug-in's settings window (0: the plug-in, N: its channel N); every call ends by
// storing the settings into section (never null, lent for this call only).
typedef void (*LDPConfigFunction)(PluginHandle handle, int what, ConfigValue* section);
// Optional. MessageControlChanged from the thread that changed control, MessageIdleState
// from the one-second tick (main thread), MessageTick from the sampling thread; the first
// two only to plug-ins with at least one channel. Unknown codes are ignored.
typedef void (*LDPMessageFunction)(PluginHandle handle, int code, int arg);
// Optional; absent counts as false. Asked once while loading (main thread), after
// LDPConfig(ConfigStoreOnly), with PluginInfoTickFrequency.
typedef int (*LDPQueryPluginInfoFunction)(PluginHandle handle, int what, void* out);
// Optional; absent counts as false. Client worker threads.
typedef int (*LDPBurstSupportedFunction)(PluginHandle handle, const char* burstName);
// Optional; absent counts as -1. Client worker thread, raised priority. Blocks for the
// recording; stores an array allocated by the plug-in through samplesOut (preset to null)
// and returns the sample count (0 allowed), or < 0 on failure (then the host never calls
// LDPBurstFree, so the plug-in frees whatever it allocated). reserved1/2 are always 0.
typedef int (*LDPBurstRecordFunction)(PluginHandle handle, BurstSample** samplesOut,
                                      const char* burstName, uint32_t duration, int reserved1,
                                      int reserved2);
// Required wherever LDPBurstRecord is exported (the host never calls it when missing; the
// array then stays the plug-in's). Called exactly once per non-null array. No handle.
typedef void (*LDPBurstFreeFunction)(BurstSample* samples);
// Optional; absent counts as true. Client worker threads; ExperimentStart with the
// client's parameter, ExperimentStop with 0. False refuses the start or stop.
typedef int (*LDPExperimentFunction)(PluginHandle handle, int action, uint32_t experimentId,
                                     uint32_t param);
// Optional. Main thread, once, before LDPInit. No handle.
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
inline constexpr const char* kEntryPointNames[11] = {"LDPInit",
                                                     "LDPDone",
                                                     "LDPQueryInfo",
                                                     "LDPConfig",
                                                     "LDPMessage",
                                                     "LDPQueryPluginInfo",
                                                     "LDPBurstSupported",
                                                     "LDPBurstRecord",
                                                     "LDPBurstFree",
                                                     "LDPExperiment",
                                                     "LDPExperimentSetCallbacks"};

}  // namespace orvexa

// A plug-in marks each exported entry point with this so it stays visible when the
// library is built with hidden visibility.
#define LDP_EXPORT extern "C" __attribute__((visibility("default")))
