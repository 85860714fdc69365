// Pinvane's exported entry points: the device "Arduino" with the input "Input0" that the
// board reports and the outputs "Output0" and "Output1" that the server sets. The host
// calls them as the plug-in contract says (one host thread at a time); the channel
// functions only exchange values with the reader thread through ChannelState. Every
// entry point given a null handle does nothing.
#include <new>

#include "pinvane_device.h"
#include "plugin_api/ldp_plugin.h"
#include "user_interface.h"

using orvexa::ChannelReadFunction;
using orvexa::ChannelWriteFunction;
using orvexa::ConfigValue;
using orvexa::PluginHandle;
using orvexa::pinvane::PinvaneDevice;

namespace {

constexpr const char* kDeviceName = "Arduino";
constexpr int kChannelCount = 3;

PinvaneDevice* Device(PluginHandle handle) {
  return static_cast<PinvaneDevice*>(handle);
}

float ReadInput(PluginHandle handle, int param, int /*byClient*/) {
  if (handle == nullptr) return 0.0f;
  return Device(handle)->Channels().ReadInput(param);
}

float ReadOutput(PluginHandle handle, int param, int /*byClient*/) {
  if (handle == nullptr) return 0.0f;
  return Device(handle)->Channels().ReadOutput(param);
}

void WriteOutput(PluginHandle handle, float value, int param) {
  if (handle == nullptr) return;
  Device(handle)->Channels().WriteOutput(value, param);
}

}  // namespace

LDP_EXPORT int LDPInit(PluginHandle* handleOut, const char** deviceNameOut, ConfigValue* section) {
  if (deviceNameOut != nullptr) *deviceNameOut = kDeviceName;
  if (handleOut == nullptr) return 0;
  *handleOut = nullptr;
  auto* device = new (std::nothrow) PinvaneDevice();
  if (device == nullptr) return 0;
  if (!device->Valid()) {  // no stop event: a reader could never be stopped
    delete device;
    return 0;
  }
  *handleOut = device;
  device->LoadSettings(section);
  return kChannelCount;
}

LDP_EXPORT void LDPDone(PluginHandle handle) {
  if (handle == nullptr) return;
  delete Device(handle);  // stops and joins the reader first
}

LDP_EXPORT int LDPQueryInfo(PluginHandle handle, int channel, const char** nameOut,
                            const char** descriptionOut, ChannelReadFunction* readOut,
                            int* readParamOut, ChannelWriteFunction* writeOut, int* writeParamOut) {
  if (handle == nullptr) return 0;
  const char* name;
  const char* description;
  ChannelReadFunction read;
  ChannelWriteFunction write;
  int param;
  switch (channel) {
    case 1:
      name = "Input0";
      description = "Input 0";
      read = ReadInput;
      write = nullptr;
      param = 0;
      break;
    case 2:
    case 3:
      name = channel == 2 ? "Output0" : "Output1";
      description = name;
      read = ReadOutput;
      write = WriteOutput;
      param = channel - 2;
      break;
    default:
      return 0;
  }
  if (nameOut != nullptr) *nameOut = name;
  if (descriptionOut != nullptr) *descriptionOut = description;
  if (readOut != nullptr) *readOut = read;
  if (readParamOut != nullptr) *readParamOut = param;
  if (writeOut != nullptr) *writeOut = write;
  if (writeParamOut != nullptr) *writeParamOut = param;
  return 1;
}

LDP_EXPORT void LDPConfig(PluginHandle handle, int what, ConfigValue* section) {
  if (handle == nullptr) return;
  Device(handle)->Configure(what, section);
}

LDP_EXPORT void LDPMessage(PluginHandle handle, int /*code*/, int /*arg*/) {
  // The board needs none of the host's messages.
  (void)handle;
}

// For the operator window: installs the "Port selection" window and the message box
// (null restores the headless behaviour). Not part of the LDP contract: the loader never
// looks for these names; only the operator window does, after discovery.
LDP_EXPORT void PinvaneSetPortDialog(PinvanePortDialog dialog) {
  orvexa::pinvane::UserInterface::InstallPortDialog(dialog);
}

LDP_EXPORT void PinvaneSetMessageBox(PinvaneMessageBox messageBox) {
  orvexa::pinvane::UserInterface::InstallMessageBox(messageBox);
}
