// Pinvane over a real pseudo-terminal with its real reader thread: frames in both
// directions, resynchronisation on the wire, restarts only on a change of port, reopening
// after the board hung up, prompt stopping and an idle reader that does not spin.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "config/config_access.h"
#include "config/node_base.h"
#include "pinvane_library.h"
#include "pseudo_terminal.h"
#include "support/temp_dir.h"

namespace orvexa::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using pinvane::Frame;

class Section {
 public:
  explicit Section(const std::string& path = "", int index = -1)
      : node_(NewConfigValue(ValueKind::Struct)) {
    node_->AddRef();
    if (!path.empty()) SetString(node_, "port_path", path.c_str());
    if (index >= 0) SetInt(node_, "port_index", index);
  }
  ~Section() { node_->Release(); }
  ConfigValue* get() const { return node_; }

 private:
  ConfigValue* node_;
};

// Counts "Error opening port" reports instead of printing them.
std::atomic<int> openFailures{0};
void CountingMessageBox(const char* text, const char* caption) {
  if (std::string(text) == "Unable to open port" && std::string(caption) == "Error opening port") {
    ++openFailures;
  }
}

class PinvaneLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(board_.Valid());
    PinvaneLibrary::Get().setMessageBox(CountingMessageBox);
  }
  void TearDown() override {
    PinvaneLibrary::Get().setMessageBox(nullptr);
    PinvaneLibrary::Get().setPortDialog(nullptr);
  }

  // Starts the plug-in on the board's slave side and returns the reader's thread id.
  pid_t StartOnBoard(std::unique_ptr<PinvaneInstance>* device) {
    auto before = ProcessTasks();
    Section section(board_.SlavePath());
    *device = std::make_unique<PinvaneInstance>(section.get());
    return NewTask(before, ProcessTasks());
  }

  // Output1 is the link-up marker: once its frame arrives the port is open and raw.
  void WaitForLink(PinvaneInstance& device, uint16_t marker = 4321) {
    device.Write(1, marker);
    ASSERT_TRUE(board_.WaitForFrame(1, marker)) << "no frame from the plug-in";
  }

  PseudoTerminal board_;
};

TEST_F(PinvaneLinkTest, InputFramesReachInput0WithinAboutACycle) {
  std::unique_ptr<PinvaneInstance> device;
  ASSERT_GT(StartOnBoard(&device), 0);
  WaitForLink(*device);
  for (uint16_t value : {1234, 0, 0xFFFE, 7}) {
    auto sent = Clock::now();
    board_.SendFrame(0, value);
    ASSERT_TRUE(WaitUntil([&] { return device->Input() == value; })) << value;
    // A generous bound: the reader polls every 5 ms and must not wait for anything else.
    EXPECT_LT(Clock::now() - sent, 500ms) << value;
  }
  // Frames for channels the board does not have are dropped.
  board_.SendFrame(1, 99);
  board_.SendFrame(0, 8);
  ASSERT_TRUE(WaitUntil([&] { return device->Input() == 8.0f; }));
  EXPECT_EQ(device->Output(1), 4321.0f);  // outputs read back what the server set
}

TEST_F(PinvaneLinkTest, LineIsRaw9600N81AndBinaryTransparent) {
  // The line as a driver might leave it: another speed, 7E2, and a terminal's cooking.
  termios line;
  ASSERT_EQ(tcgetattr(board_.fd(), &line), 0);
  cfsetispeed(&line, B115200);
  cfsetospeed(&line, B115200);
  line.c_cflag = (line.c_cflag & ~(CSIZE | CLOCAL)) | CS7 | PARENB | CSTOPB | CRTSCTS | HUPCL;
  line.c_iflag |= ICRNL | IXON | IXOFF;
  line.c_oflag |= OPOST | ONLCR;
  line.c_lflag |= ICANON | ECHO | ISIG;
  ASSERT_EQ(tcsetattr(board_.fd(), TCSANOW, &line), 0);
  std::unique_ptr<PinvaneInstance> device;
  ASSERT_GT(StartOnBoard(&device), 0);
  WaitForLink(*device);

  ASSERT_EQ(tcgetattr(board_.fd(), &line), 0);
  EXPECT_EQ(cfgetispeed(&line), B9600);
  EXPECT_EQ(cfgetospeed(&line), B9600);
  EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB), tcflag_t(CS8));
  // Modem control lines are ignored, so a board without carrier never hangs the line up;
  // hardware flow control and hang-up on close stay the driver's.
  EXPECT_EQ(line.c_cflag & (CLOCAL | CREAD | CRTSCTS | HUPCL), CLOCAL | CREAD | CRTSCTS | HUPCL);
  EXPECT_EQ(line.c_iflag & (ICRNL | IXON | IXOFF), 0u);
  EXPECT_EQ(line.c_oflag & OPOST, 0u);
  EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(line.c_cc[VMIN], 0);
  EXPECT_EQ(line.c_cc[VTIME], 0);

  // Values made of control characters (CR LF, XON XOFF, ^C ^D, DEL ^Z) cross unchanged.
  for (uint16_t value : {0x0D0A, 0x1113, 0x0304, 0x7F1A}) {
    board_.SendFrame(0, value);
    EXPECT_TRUE(WaitUntil([&] { return device->Input() == value; })) << value;
    device->Write(0, value);
    EXPECT_TRUE(board_.WaitForFrame(0, value)) << value;
  }
}

TEST_F(PinvaneLinkTest, ReaderResynchronisesOnTheWire) {
  std::unique_ptr<PinvaneInstance> device;
  ASSERT_GT(StartOnBoard(&device), 0);
  WaitForLink(*device);

  board_.Send({0xFF, 0xFF, 0xFF, 0x00, 0x10, 0x00});
  ASSERT_TRUE(WaitUntil([&] { return device->Input() == 0x10; }));

  // 0xFFFF is never taken as a value; the frame right behind it is.
  board_.Send({0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x05, 0x00});
  ASSERT_TRUE(WaitUntil([&] {
    EXPECT_NE(device->Input(), 65535.0f);
    return device->Input() == 5.0f;
  }));

  // A frame dribbling in across several reads, with garbage in front of it.
  std::vector<std::vector<uint8_t>> pieces = {{0x00, 0x42, 0xFF}, {0xFF}, {0x00, 0x2C}, {0x01}};
  for (const auto& piece : pieces) {
    board_.Send(piece);
    struct timespec pause {
      0, 15000000
    };  // a few cycles, so the reader sees each piece
    nanosleep(&pause, nullptr);
  }
  ASSERT_TRUE(WaitUntil([&] { return device->Input() == 300.0f; }));

  // Garbage between frames.
  board_.Send({0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x0A, 0x00, 0x33, 0xFF, 0x00, 0xFF, 0xFF, 0x00,
               0x0B, 0x00, 0x99});
  ASSERT_TRUE(WaitUntil([&] { return device->Input() == 11.0f; }));
}

TEST_F(PinvaneLinkTest, WrittenValuesGoOutRoundedAndClamped) {
  std::unique_ptr<PinvaneInstance> device;
  ASSERT_GT(StartOnBoard(&device), 0);
  WaitForLink(*device);
  struct Case {
    float written;
    uint16_t sent;
  } cases[] = {{70000.0f, 65534}, {65535.0f, 65534}, {-3.0f, 0}, {2.5f, 3}, {2.4f, 2}};
  for (const Case& c : cases) {
    device->Write(0, c.written);
    EXPECT_EQ(device->Output(0), static_cast<float>(c.sent));
    EXPECT_TRUE(board_.WaitForFrame(0, c.sent)) << c.written;
  }
}

TEST_F(PinvaneLinkTest, SetOutputsRepeatEveryCycleAndUnsetOnesNeverGo) {
  std::unique_ptr<PinvaneInstance> device;
  ASSERT_GT(StartOnBoard(&device), 0);
  device->Write(1, 300.0f);  // once, and never again
  int repeats = 0;
  Frame frame;
  while (repeats < 30 && board_.ReadFrame(&frame)) {
    EXPECT_EQ(frame.channel, 1) << "Output0 was never set";
    EXPECT_EQ(frame.value, 300);
    ++repeats;
  }
  EXPECT_EQ(repeats, 30);
}

TEST_F(PinvaneLinkTest, WritesMadeBeforeAPortIsChosenAreSentOnceItIs) {
  PinvaneInstance device(nullptr);
  device.Write(0, 42.0f);
  ScriptPortDialog(true, 0, board_.SlavePath());
  Section section;
  device.Config(ConfigPluginDialog, section.get());
  EXPECT_STREQ(GetString(section.get(), "port_path", ""), board_.SlavePath().c_str());
  EXPECT_EQ(GetInt(section.get(), "port_index", -1), 0);
  EXPECT_TRUE(board_.WaitForFrame(0, 42));
}

TEST_F(PinvaneLinkTest, OnlyAChangeOfPortRestartsTheReader) {
  std::unique_ptr<PinvaneInstance> device;
  pid_t reader = StartOnBoard(&device);
  ASSERT_GT(reader, 0);
  WaitForLink(*device);

  // The same port chosen again: same thread, link still up; the section is still written.
  ScriptPortDialog(true, 0, board_.SlavePath());
  Section section;
  device->Config(ConfigPluginDialog, section.get());
  EXPECT_EQ(ProcessTasks().count(reader), 1u);
  EXPECT_STREQ(GetString(section.get(), "port_path", ""), board_.SlavePath().c_str());
  board_.SendFrame(0, 55);
  ASSERT_TRUE(WaitUntil([&] { return device->Input() == 55.0f; }));

  // Another board: a new reader serves it, the old one is gone, the value carries on.
  PseudoTerminal other;
  ASSERT_TRUE(other.Valid());
  ScriptPortDialog(true, 0, other.SlavePath());
  auto before = ProcessTasks();
  device->Config(ConfigPluginDialog, section.get());
  auto after = ProcessTasks();
  EXPECT_EQ(after.count(reader), 0u);
  EXPECT_GT(NewTask(before, after), 0);
  EXPECT_TRUE(other.WaitForFrame(1, 4321));
  EXPECT_STREQ(GetString(section.get(), "port_path", ""), other.SlavePath().c_str());

  // Changing only the index restarts too (the path still wins for the device).
  ScriptPortDialog(true, 3, other.SlavePath());
  before = ProcessTasks();
  device->Config(ConfigPluginDialog, section.get());
  EXPECT_GT(NewTask(before, ProcessTasks()), 0);
  EXPECT_EQ(GetInt(section.get(), "port_index", -1), 3);
  EXPECT_TRUE(other.WaitForFrame(1, 4321));

  // Port 0 without a path: no reader at all.
  ScriptPortDialog(true, 0, "");
  before = ProcessTasks();
  device->Config(ConfigPluginDialog, section.get());
  EXPECT_EQ(ProcessTasks().size(), before.size() - 1);
  EXPECT_STREQ(GetString(section.get(), "port_path", "unset"), "");
}

TEST_F(PinvaneLinkTest, HangUpClosesAndReopensThePort) {
  // The plug-in opens a link that the test can re-point, as a udev name follows a
  // re-plugged adapter: pty numbers are never reused while the old one is held.
  TempDir folder;
  std::string link = folder.File("board");
  ASSERT_EQ(symlink(board_.SlavePath().c_str(), link.c_str()), 0);
  auto before = ProcessTasks();
  Section section(link);
  PinvaneInstance device(section.get());
  pid_t reader = NewTask(before, ProcessTasks());
  ASSERT_GT(reader, 0);
  WaitForLink(device, 77);

  PseudoTerminal replugged;
  ASSERT_TRUE(replugged.Valid());
  std::string fresh = folder.File("board.new");
  ASSERT_EQ(symlink(replugged.SlavePath().c_str(), fresh.c_str()), 0);
  ASSERT_EQ(rename(fresh.c_str(), link.c_str()), 0);
  int failuresBefore = openFailures;
  board_.Close();  // unplugged

  // The same reader thread opens the new device and carries on in both directions.
  EXPECT_TRUE(replugged.WaitForFrame(1, 77));
  replugged.SendFrame(0, 999);
  EXPECT_TRUE(WaitUntil([&] { return device.Input() == 999.0f; }));
  EXPECT_EQ(ProcessTasks().count(reader), 1u);
  EXPECT_EQ(openFailures, failuresBefore);
}

TEST_F(PinvaneLinkTest, HungUpTerminalIsNoticedThoughItReadsLikeAnIdleOne) {
  // After a hang-up the kernel answers every read with 0 bytes, as on an idle line; a
  // reader that only looks at reads would sit on the dead descriptor for ever.
  std::unique_ptr<PinvaneInstance> device;
  ASSERT_GT(StartOnBoard(&device), 0);
  // No output is set, so no failing write can give the hang-up away: only the read side.
  board_.SendFrame(0, 1);
  ASSERT_TRUE(WaitUntil([&] { return board_.SendFrame(0, 1) && device->Input() == 1.0f; }));
  int slave = open(board_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(slave, 0);
  if (ioctl(slave, TIOCVHANGUP) != 0) {
    close(slave);
    GTEST_SKIP() << "hanging up a terminal needs CAP_SYS_ADMIN";
  }
  close(slave);
  // The reader reopens the (still present) device and reads again.
  EXPECT_TRUE(WaitUntil([&] { return board_.SendFrame(0, 2) && device->Input() == 2.0f; }));
}

TEST_F(PinvaneLinkTest, UnopenablePortIsReportedAndStoppingIsPrompt) {
  int failuresBefore = openFailures;
  auto before = ProcessTasks();
  Section section("/nonexistent/pinvane-board");
  PinvaneInstance device(section.get());
  pid_t reader = NewTask(before, ProcessTasks());
  ASSERT_GT(reader, 0);
  ASSERT_TRUE(WaitUntil([&] { return openFailures > failuresBefore; }));
  // Now in its 10 s wait before the next try; stopping must not sit it out.
  auto start = Clock::now();
  device.Done();
  EXPECT_LT(Clock::now() - start, 500ms);
  EXPECT_EQ(ProcessTasks().count(reader), 0u);
  EXPECT_EQ(openFailures, failuresBefore + 1);

  // Neither a file nor a terminal that is not there is ever opened as a port.
  TempDir folder;
  folder.Write("not-a-port", "data");
  Section file(folder.File("not-a-port"));
  PinvaneInstance onFile(file.get());
  ASSERT_TRUE(WaitUntil([&] { return openFailures > failuresBefore + 1; }));
  onFile.Done();
  EXPECT_EQ(folder.Read("not-a-port"), "data");
}

TEST_F(PinvaneLinkTest, HeadlessOpenFailureIsOneLineOnStandardError) {
  PinvaneLibrary::Get().setMessageBox(nullptr);
  ::testing::internal::CaptureStderr();
  {
    Section section("/nonexistent/pinvane-board");
    PinvaneInstance device(section.get());
    WaitUntil([&] { return false; }, 200ms);
  }
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "Error opening port: Unable to open port\n");
}

TEST_F(PinvaneLinkTest, StalledWriteGivesUpAfterItsTimeOutAndDoneIsPromptMeanwhile) {
  // The test holds the slave side too, so it can stop the line's output like a board
  // that holds off the sender: the plug-in's write then waits, 10 s at most.
  int slave = open(board_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(slave, 0);
  std::unique_ptr<PinvaneInstance> device;
  pid_t reader = StartOnBoard(&device);
  ASSERT_GT(reader, 0);
  WaitForLink(*device);
  ASSERT_EQ(tcflow(slave, TCOOFF), 0);
  board_.DrainUntilQuiet(100ms);  // nothing gets through any more: the write is pending
  // Then the link is closed and opened again, and the board's input is read once more.
  EXPECT_TRUE(WaitUntil([&] { return board_.SendFrame(0, 9) && device->Input() == 9.0f; }, 15s));

  auto start = Clock::now();
  device->Done();
  EXPECT_LT(Clock::now() - start, 500ms);
  EXPECT_EQ(ProcessTasks().count(reader), 0u);
  tcflow(slave, TCOON);
  close(slave);
}

TEST_F(PinvaneLinkTest, FloodingBoardNeitherStarvesTheOutputsNorDelaysDone) {
  std::unique_ptr<PinvaneInstance> device;
  pid_t reader = StartOnBoard(&device);
  ASSERT_GT(reader, 0);
  WaitForLink(*device);
  // A board (or a broken one) that sends frames faster than the reader takes them.
  std::vector<uint8_t> block;
  for (int i = 0; i < 200; ++i) block.insert(block.end(), {0xFF, 0xFF, 0x00, uint8_t(i), 0x01});
  std::atomic<bool> flooding{true};
  std::thread flood([&] {
    while (flooding) {
      if (write(board_.fd(), block.data(), block.size()) < 0) WaitUntil([] { return false; }, 1ms);
    }
  });
  ASSERT_TRUE(WaitUntil([&] { return device->Input() >= 256.0f; }));
  device->Write(0, 123.0f);
  EXPECT_TRUE(board_.WaitForFrame(0, 123)) << "the outputs starve while input keeps arriving";
  auto start = Clock::now();
  device->Done();
  EXPECT_LT(Clock::now() - start, 500ms);
  EXPECT_EQ(ProcessTasks().count(reader), 0u);
  flooding = false;
  flood.join();
}

TEST_F(PinvaneLinkTest, IdleReaderDoesNotSpin) {
  std::unique_ptr<PinvaneInstance> device;
  pid_t reader = StartOnBoard(&device);
  ASSERT_GT(reader, 0);
  double start = TaskCpuSeconds(reader);
  ASSERT_GE(start, 0.0);
  WaitUntil([] { return false; }, 2s);  // two seconds of an idle, open link
  double used = TaskCpuSeconds(reader) - start;
  EXPECT_LT(used, 0.2) << "the reader used " << used << " s of CPU in 2 s of idle link";
  auto stop = Clock::now();
  device->Done();
  EXPECT_LT(Clock::now() - stop, 500ms);
}

}  // namespace
}  // namespace orvexa::test
