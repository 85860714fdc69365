// A test plug-in that exports LDPInit and LDPDone but no LDPQueryInfo: the host must
// count its slot and never call it. Each call would leave a file behind as evidence.
#include <cstdio>

#include "plugin_api/ldp_plugin.h"

using namespace orvexa;

namespace {
void Evidence(const char* name) {
  if (FILE* f = std::fopen(name, "w")) std::fclose(f);
}
}  // namespace

LDP_EXPORT int LDPInit(PluginHandle*, const char** deviceNameOut, ConfigValue*) {
  Evidence("missing_query_info.init_called");
  *deviceNameOut = "ShouldNotShow";
  return 5;
}
LDP_EXPORT void LDPDone(PluginHandle) {
  Evidence("missing_query_info.done_called");
}
LDP_EXPORT void LDPConfig(PluginHandle, int, ConfigValue*) {
  Evidence("missing_query_info.config_called");
}
LDP_EXPORT int LDPQueryPluginInfo(PluginHandle, int, void*) {
  Evidence("missing_query_info.info_called");
  return 1;
}
LDP_EXPORT void LDPExperimentSetCallbacks(ExperimentStoppedCallback) {
  Evidence("missing_query_info.callbacks_called");
}
