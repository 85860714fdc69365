// Live data through a private broker: the real server publishes every fast sample
// gap-free, the retained status, channels and values a late viewer gets at once, goes
// on sampling while the broker is gone and publishes again when it returns; two labs
// share a broker without seeing each other's topics. A broken BrokerUrl stops start-up.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "client/protocol_client.h"
#include "config/config_access.h"
#include "config/configuration_store.h"
#include "logging/fast_sample_query.h"
#include "publish/broker_address.h"
#include "support/mqtt_broker.h"
#include "support/mqtt_viewer.h"
#include "support/server_process.h"
#include "support/temp_dir.h"

namespace orvexa::test {
namespace {

using Messages = std::vector<MqttViewer::Message>;

uint32_t U32(const std::string& bytes, size_t at) {
  uint32_t v;
  std::memcpy(&v, bytes.data() + at, 4);  // the frames are little endian, like this host
  return v;
}

float F32(const std::string& bytes, size_t at) {
  float v;
  std::memcpy(&v, bytes.data() + at, 4);
  return v;
}

// One fast sample as the broker delivered it.
struct LiveSample {
  uint32_t sequence;
  float value;
};

std::vector<LiveSample> FastSamples(const Messages& messages, const std::string& topic) {
  std::vector<LiveSample> samples;
  for (const auto& m : messages) {
    if (m.topic != topic || m.payload.size() < 16) continue;
    const uint32_t first = U32(m.payload, 0), count = U32(m.payload, 4);
    if (m.payload.size() != 16 + 8 * size_t{count}) continue;
    for (uint32_t i = 0; i < count; ++i)
      samples.push_back({first + i, F32(m.payload, 16 + 8 * size_t{i} + 4)});
  }
  return samples;
}

// Gap-free by sequence and in order (the counter rises with every read of it).
void ExpectGapFree(const std::vector<LiveSample>& samples) {
  for (size_t i = 1; i < samples.size(); ++i) {
    ASSERT_EQ(samples[i].sequence, samples[i - 1].sequence + 1) << "at " << i;
    ASSERT_GT(samples[i].value, samples[i - 1].value);
  }
}

class PublisherTest : public ::testing::Test {
 protected:
  std::unique_ptr<ServerProcess> StartLab(TempDir& dir, const std::string& labId,
                                          const std::string& url) {
    std::filesystem::copy_file(std::string(EXPERIMENT_TEST_PLUGIN_DIR) + "/Probe.ldp",
                               dir.File("Probe.ldp"));
    ConfigurationStore store;
    store.StartEmpty();
    store.SetStartDirectory(dir.path());
    ConfigValue* config = store.OrvexaConfig();
    SetString(config, "BrokerUrl", url.c_str());
    SetString(config, "LabId", labId.c_str());
    SetInt(config, "PublishValueRate", 10);
    ConfigValue* info = FindOrCreate(config, "LogingInfo", ValueKind::Struct);
    ConfigValue* counter = FindOrCreate(info, "Probe_counter", ValueKind::Struct);
    SetBool(counter, "FastLogEnabled", true);
    SetInt(counter, "FastLogFreq", 1000);
    SetInt(counter, "FastLogSize", 100000);
    EXPECT_TRUE(store.Save().ok);
    auto server =
        std::make_unique<ServerProcess>(dir.path(), std::vector<std::string>{"/port", "0"});
    port = server->WaitForPort().value_or(0);
    EXPECT_TRUE(server->WaitForOutput("Publishing live data to")) << server->Stderr();
    return server;
  }

  TempDir brokerDir;
  int port = 0;
};

TEST_F(PublisherTest, EverySampleArrivesAndPublishingOutlivesTheBroker) {
  MqttBroker broker(brokerDir.path());
  ASSERT_TRUE(broker.Start());
  TempDir labA, labB;
  auto serverA = StartLab(labA, "labA", broker.Url());
  const int portA = port;
  auto serverB = StartLab(labB, "labB", broker.Url());
  const std::string fastTopic = "orvexa/v1/labA/fast/Probe_counter";

  MqttViewer viewer(broker.port(), "orvexa/v1/labA/#");
  ASSERT_TRUE(viewer.WaitFor([&](const Messages& m) {
    return FastSamples(m, fastTopic).size() >= 2000;
  })) << "fast samples of lab A";
  const std::vector<LiveSample> before = FastSamples(viewer.Messages(), fastTopic);
  ExpectGapFree(before);

  // A late viewer gets the retained topics of both labs at once, each under its prefix.
  MqttViewer late(broker.port(), "orvexa/v1/#");
  auto retained = [](const Messages& m, const std::string& topic) {
    for (const auto& message : m)
      if (message.topic == topic && message.retained) return &message - m.data();
    return -1L;
  };
  ASSERT_TRUE(late.WaitFor([&](const Messages& m) {
    for (const char* lab : {"labA", "labB"})
      for (const char* leaf : {"status", "channels", "values", "control", "experiments"})
        if (retained(m, std::string("orvexa/v1/") + lab + "/" + leaf) < 0) return false;
    return true;
  }));
  const Messages all = late.Messages();
  EXPECT_EQ(all[retained(all, "orvexa/v1/labA/status")].payload, "online");
  EXPECT_NE(all[retained(all, "orvexa/v1/labA/channels")].payload.find(
                "{\"number\":1,\"id\":\"Probe_counter\""),
            std::string::npos);
  const std::string values = all[retained(all, "orvexa/v1/labA/values")].payload;
  ASSERT_GE(values.size(), 14u);
  uint16_t count;
  std::memcpy(&count, values.data() + 12, 2);
  EXPECT_EQ(values.size(), 14u + 6u * count);
  EXPECT_GE(count, 8);  // the Probe's readable channels

  // The broker goes away and returns on the same port: the server says so both times,
  // samples on meanwhile, and viewers get gap-free batches again.
  broker.Stop();
  ASSERT_TRUE(serverA->WaitForStderr("Warning: broker 127.0.0.1:"));
  ASSERT_TRUE(broker.Start());
  ASSERT_TRUE(serverA->WaitForOutput("answers again"));
  const size_t seenBefore = viewer.Messages().size();
  ASSERT_TRUE(viewer.WaitFor([&](const Messages& m) {
    Messages after(m.begin() + static_cast<long>(seenBefore), m.end());
    return FastSamples(after, fastTopic).size() >= 1000;
  }));
  const Messages afterAll = viewer.Messages();
  const std::vector<LiveSample> after = FastSamples(
      Messages(afterAll.begin() + static_cast<long>(seenBefore), afterAll.end()), fastTopic);
  ExpectGapFree(after);
  for (const auto& m : afterAll) EXPECT_EQ(m.topic.rfind("orvexa/v1/labA/", 0), 0u) << m.topic;

  // The server's own ring holds every sample from the first one published to now.
  client::ProtocolClient direct;
  direct.Connect("127.0.0.1", portA, client::Transport::kTcp);
  ASSERT_EQ(direct.Hello(), 0);
  direct.U8(12).U16(1).U8(kFastSamplesSince).U32(before.front().sequence).U16(0).Send();
  const uint32_t held = direct.ReadU32();
  float newer = 0;
  for (uint32_t i = 0; i < held; ++i) {
    const uint32_t sequence = direct.ReadU32();
    const float value = direct.ReadF32();
    ASSERT_EQ(sequence, before.front().sequence + held - 1 - i);
    if (i > 0) {
      ASSERT_LT(value, newer);
    }
    newer = value;
  }
  EXPECT_GE(before.front().sequence + held, after.back().sequence + 1);
}

TEST_F(PublisherTest, BrokenBrokerSettingsStopStartup) {
  for (const char* url : {"http://127.0.0.1:1883", "mqtt://", "mqtt://host:99999", "mqtt://a b"})
    EXPECT_FALSE(BrokerAddress::Parse(url, nullptr)) << url;
  auto parsed = BrokerAddress::Parse("mqtt://broker.lab-1:8883", nullptr);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->port, 8883);
  EXPECT_EQ(BrokerAddress::Parse("tcp://127.0.0.1", nullptr)->port, 1883);
  EXPECT_FALSE(BrokerAddress::ValidLabId("lab/1"));

  TempDir dir;
  dir.Write("orvexa.cfg", "OrvexaConfig {\n BrokerUrl = \"http://nowhere\"\n LabId = \"x\"\n}\n");
  const std::string before = dir.Read("orvexa.cfg");
  CompletedRun run = RunServerToEnd(dir.path(), {"/port", "0"});
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.err.find("BrokerUrl \"http://nowhere\" invalid"), std::string::npos)
      << run.status << " " << run.out << run.err;
  EXPECT_EQ(dir.Read("orvexa.cfg"), before);
}

}  // namespace
}  // namespace orvexa::test
