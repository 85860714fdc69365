// Pinvane's entry points as the host sees them, without a serial link: the channel table,
// rounding through the channel functions, the settings in the section, "no port" meaning
// no reader thread, and the port window hook.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "config/config_access.h"
#include "config/node_base.h"
#include "pinvane_library.h"

namespace orvexa::test {
namespace {

// A plug-in section as the host lends it, released at scope exit.
class Section {
 public:
  Section() : node_(NewConfigValue(ValueKind::Struct)) { node_->AddRef(); }
  ~Section() { node_->Release(); }
  ConfigValue* get() const { return node_; }
  StructValue* operator->() const { return static_cast<StructValue*>(node_); }

 private:
  ConfigValue* node_;
};

TEST(PinvanePluginTest, ExportsTheContractAndDescribesThreeChannels) {
  const PinvaneLibrary& library = PinvaneLibrary::Get();
  ASSERT_NE(library.init, nullptr);
  ASSERT_NE(library.done, nullptr);
  ASSERT_NE(library.queryInfo, nullptr);
  ASSERT_NE(library.config, nullptr);
  ASSERT_NE(library.message, nullptr);
  for (void* optional : library.optional) EXPECT_EQ(optional, nullptr);

  PinvaneInstance device(nullptr);
  ASSERT_NE(device.handle(), nullptr);
  EXPECT_EQ(device.channelCount(), 3);
  EXPECT_EQ(device.deviceName(), "Arduino");
  // As the server registers them.
  EXPECT_EQ(device.channel(0).id, "Arduino_Input0");
  EXPECT_EQ(device.channel(1).id, "Arduino_Output0");
  EXPECT_EQ(device.channel(2).id, "Arduino_Output1");
  EXPECT_TRUE(device.channel(0).readable && !device.channel(0).writable);
  EXPECT_TRUE(device.channel(2).readable && device.channel(2).writable);

  const char* expectedNames[] = {"Input0", "Output0", "Output1"};
  const char* expectedDescriptions[] = {"Input 0", "Output0", "Output1"};
  for (int n = 1; n <= 3; ++n) {
    const char* name = nullptr;
    const char* description = nullptr;
    ChannelReadFunction read = nullptr;
    ChannelWriteFunction write = nullptr;
    int readParam = -1, writeParam = -1;
    EXPECT_EQ(library.queryInfo(device.handle(), n, &name, &description, &read, &readParam, &write,
                                &writeParam),
              1);
    EXPECT_STREQ(name, expectedNames[n - 1]);
    EXPECT_STREQ(description, expectedDescriptions[n - 1]);
    EXPECT_NE(read, nullptr);
    EXPECT_EQ(write == nullptr, n == 1);
    EXPECT_EQ(readParam, n == 1 ? 0 : n - 2);
    EXPECT_EQ(writeParam, n == 1 ? 0 : n - 2);
  }
  for (int n : {0, 4, -1}) {
    const char* name = "untouched";
    ChannelReadFunction read = nullptr;
    int param = 99;
    EXPECT_EQ(
        library.queryInfo(device.handle(), n, &name, nullptr, &read, &param, nullptr, nullptr), 0);
    EXPECT_STREQ(name, "untouched");
    EXPECT_EQ(param, 99);
  }
  library.message(device.handle(), MessageIdleState, 1);  // ignored
}

TEST(PinvanePluginTest, NullHandleIsIgnoredEverywhere) {
  const PinvaneLibrary& library = PinvaneLibrary::Get();
  Section section;
  library.config(nullptr, ConfigStoreOnly, section.get());
  EXPECT_EQ(section->Count(), 0u);
  library.message(nullptr, MessageTick, 0);
  library.done(nullptr);
  const char* name = nullptr;
  EXPECT_EQ(library.queryInfo(nullptr, 1, &name, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
  // Without a place for the handle there is no instance, but still the device name.
  const char* device = nullptr;
  EXPECT_EQ(library.init(nullptr, &device, nullptr), 0);
  EXPECT_STREQ(device, "Arduino");

  // The channel functions of a real instance, called with a null handle.
  PinvaneInstance real(nullptr);
  ChannelReadFunction read = nullptr;
  ChannelWriteFunction write = nullptr;
  library.queryInfo(real.handle(), 2, &name, nullptr, &read, nullptr, &write, nullptr);
  write(nullptr, 5.0f, 0);
  EXPECT_EQ(read(nullptr, 0, 1), 0.0f);
  EXPECT_EQ(real.Output(0), 0.0f);
}

TEST(PinvanePluginTest, NoPortMeansNoReaderButWritesAreKept) {
  for (bool withSection : {false, true}) {
    Section section;
    SetString(section.get(), "Path", "Pinvane.ldp");
    if (withSection) SetInt(section.get(), "port_index", 0);
    auto before = ProcessTasks();
    PinvaneInstance device(withSection ? section.get() : nullptr);
    EXPECT_EQ(ProcessTasks(), before) << "a reader thread started without a port";

    EXPECT_EQ(device.Input(), 0.0f);
    EXPECT_EQ(device.Output(0), 0.0f);
    device.Write(0, 2.5f);
    device.Write(1, 2.4f);
    EXPECT_EQ(device.Output(0), 3.0f);
    EXPECT_EQ(device.Output(1), 2.0f);
    device.Write(0, -3.0f);
    device.Write(1, 1e9f);
    EXPECT_EQ(device.Output(0), 0.0f);
    EXPECT_EQ(device.Output(1), 65534.0f);
    device.Write(1, 65534.6f);
    EXPECT_EQ(device.Output(1), 65534.0f);
    // Not a number leaves the output as it was.
    device.Write(1, std::nanf(""));
    EXPECT_EQ(device.Output(1), 65534.0f);
  }
}

TEST(PinvanePluginTest, ParametersOutOfRangeReadZeroAndWriteNothing) {
  const PinvaneLibrary& library = PinvaneLibrary::Get();
  PinvaneInstance device(nullptr);
  ChannelReadFunction readInput = nullptr, readOutput = nullptr;
  ChannelWriteFunction write = nullptr;
  const char* name;
  library.queryInfo(device.handle(), 1, &name, nullptr, &readInput, nullptr, nullptr, nullptr);
  library.queryInfo(device.handle(), 2, &name, nullptr, &readOutput, nullptr, &write, nullptr);
  device.Write(0, 10.0f);
  device.Write(1, 20.0f);
  for (int param : {-1, 2, 1000}) {
    write(device.handle(), 99.0f, param);
    EXPECT_EQ(readOutput(device.handle(), param, 1), 0.0f);
  }
  EXPECT_EQ(readInput(device.handle(), 1, 1), 0.0f);
  EXPECT_EQ(device.Output(0), 10.0f);
  EXPECT_EQ(device.Output(1), 20.0f);
}

TEST(PinvanePluginTest, StoresItsSettingsIntoTheSection) {
  // A new plug-in file: the section holds only its Path; port_index appears, port_path
  // (never set) does not.
  Section fresh;
  SetString(fresh.get(), "Path", "Pinvane.ldp");
  {
    PinvaneInstance device(fresh.get());
    device.Config(ConfigStoreOnly, fresh.get());
  }
  ASSERT_NE(FindTyped(fresh.get(), "port_index", ValueKind::Integer), nullptr);
  EXPECT_EQ(GetInt(fresh.get(), "port_index", -1), 0);
  EXPECT_EQ(fresh->Find("port_path"), nullptr);
  EXPECT_STREQ(GetString(fresh.get(), "Path", ""), "Pinvane.ldp");

  // Both settings come back as they were read, the path included.
  Section stored;
  SetInt(stored.get(), "port_index", 0);
  SetString(stored.get(), "port_path", "/nonexistent/pinvane-board");
  {
    PinvaneInstance device(stored.get());
    Section saved;
    device.Config(ConfigStoreOnly, saved.get());
    EXPECT_EQ(GetInt(saved.get(), "port_index", -1), 0);
    EXPECT_STREQ(GetString(saved.get(), "port_path", ""), "/nonexistent/pinvane-board");
  }
}

TEST(PinvanePluginTest, EntriesOfAnotherKindAreIgnoredAndLeftAlone) {
  Section section;
  SetString(section.get(), "port_index", "3");
  SetInt(section.get(), "port_path", 7);
  auto before = ProcessTasks();
  PinvaneInstance device(section.get());
  EXPECT_EQ(ProcessTasks(), before);  // "3" is not a port number
  device.Config(ConfigStoreOnly, section.get());
  EXPECT_STREQ(GetString(section.get(), "port_index", ""), "3");
  EXPECT_EQ(GetInt(section.get(), "port_path", 0), 7);
}

TEST(PinvanePluginTest, ConfigWithoutAWindowOnlyStores) {
  const PinvaneLibrary& library = PinvaneLibrary::Get();
  library.setPortDialog(nullptr);
  Section section;
  auto before = ProcessTasks();
  PinvaneInstance device(nullptr);
  device.Config(ConfigPluginDialog, section.get());
  device.Config(5, section.get());  // a channel's configure command
  EXPECT_EQ(GetInt(section.get(), "port_index", -1), 0);
  EXPECT_EQ(ProcessTasks(), before);

  // A cancelled window changes nothing, but the section is still written.
  ScriptPortDialog(false, 4, "/dev/null");
  int calls = PortDialogCalls();
  Section cancelled;
  device.Config(ConfigPluginDialog, cancelled.get());
  EXPECT_EQ(PortDialogCalls(), calls + 1);
  EXPECT_EQ(GetInt(cancelled.get(), "port_index", -1), 0);
  EXPECT_EQ(ProcessTasks(), before);
  // ConfigStoreOnly never shows the window.
  device.Config(ConfigStoreOnly, cancelled.get());
  EXPECT_EQ(PortDialogCalls(), calls + 1);
  library.setPortDialog(nullptr);
}

}  // namespace
}  // namespace orvexa::test
