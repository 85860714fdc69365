// The whole server in GUI mode, in-process on the offscreen platform: the same start-up,
// core and shutdown as headless, with Qt's loop on the main thread. A client connects
// over TCP, its row appears in "Clients quene", the simulated device fills the tree, a
// screenshot of the window is saved for a reviewer (build/tests/screenshots), KICK
// removes the client, and closing the window ends the run with the orderly shutdown
// (exit status 0, orvexa.cfg written). A client that arrives while the operator has a
// configuration dialog open is served once the dialog closes. On a real (virtual) X
// display the built server shows its window and SIGTERM still ends it in order.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "app/server_application.h"
#include "client/protocol_client.h"
#include "support/server_process.h"
#include "support/temp_dir.h"
#include "ui/log_config_dialog.h"
#include "ui/port_selection_dialog.h"
#include "ui/qt_operator_window.h"

namespace orvexa {
namespace {

// Serves Qt events until `done` holds or `ms` pass.
bool WaitFor(const std::function<bool()>& done, int ms = 10000) {
  for (int waited = 0; waited < ms; waited += 10) {
    if (done()) return true;
    QTest::qWait(10);
  }
  return done();
}

class CurrentFolder {
 public:
  explicit CurrentFolder(const std::string& path) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(path);
  }
  ~CurrentFolder() { std::filesystem::current_path(previous_); }

 private:
  std::filesystem::path previous_;
};

// A main thread that stops serving events can only be reported from another thread, and
// the run cannot be ended any more: the watchdog ends the test process with a message.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit)
      : thread_([this, limit] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!done_changed_.wait_for(lock, limit, [this] { return done_; })) {
            std::fprintf(stderr, "The main thread stopped serving events (deadlock)\n");
            std::_Exit(1);
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    done_changed_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_changed_;
  bool done_ = false;
  std::thread thread_;
};

// An X server of the test's own (Xvfb), on a display number it picks itself.
class VirtualDisplay {
 public:
  VirtualDisplay() {
    if (::access("/usr/bin/Xvfb", X_OK) != 0) return;
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      // The in-process server of the other tests blocked SIGTERM in this process; the
      // display must still end on it.
      sigset_t all;
      sigfillset(&all);
      ::sigprocmask(SIG_UNBLOCK, &all, nullptr);
      ::close(fds[0]);
      int quiet = ::open("/dev/null", O_WRONLY);
      ::dup2(quiet, 1);
      ::dup2(quiet, 2);
      std::string fd = std::to_string(fds[1]);
      ::execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0",
              "800x600x24", static_cast<char*>(nullptr));
      _exit(127);
    }
    ::close(fds[1]);
    // Xvfb writes its display number once it accepts connections.
    std::string number;
    pollfd ready{fds[0], POLLIN, 0};
    char c;
    while (pid_ > 0 && ::poll(&ready, 1, 20000) == 1 && ::read(fds[0], &c, 1) == 1 && c != '\n')
      number += c;
    ::close(fds[0]);
    if (!number.empty()) name_ = ":" + number;
  }
  ~VirtualDisplay() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    for (int waited = 0; waited < 5000; waited += 10) {
      if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
      ::usleep(10000);
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  // ":N", or "" when no display could be started.
  const std::string& name() const { return name_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

// Threads of process `pid` whose name starts with `prefix`.
int ThreadsNamed(pid_t pid, const std::string& prefix) {
  int count = 0;
  std::error_code error;
  for (const auto& task :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    std::FILE* file = std::fopen((task.path() / "comm").c_str(), "r");
    if (file == nullptr) continue;
    char name[64] = {};
    if (std::fgets(name, sizeof name, file) != nullptr && std::string(name).rfind(prefix, 0) == 0)
      ++count;
    std::fclose(file);
  }
  return count;
}

// The server with its operator window over Simulator.ldp in a folder of its own, on a
// port of its own. `scenario` runs on the main thread once the window is up; the window
// is closed afterwards whatever the scenario's assertions said.
class OperatorWindowAppTest : public ::testing::Test {
 protected:
  void SetUp() override { dir.CopyFromBuild("Simulator.ldp"); }

  int Run(const std::function<void(MainWindow& main)>& scenario) {
    CurrentFolder folder(dir.path());
    application.SetOperatorWindow(&window);
    QTimer::singleShot(0, [&] {
      MainWindow* main = window.window();
      if (main == nullptr) {
        ADD_FAILURE() << "no main window";
        application.server()->loop.Quit();
        return;
      }
      scenario(*main);
      main->close();
    });
    return application.Run({"/port", "0"});
  }

  int Port() { return application.server()->clients->port(); }

  test::TempDir dir;
  QtOperatorWindow window;
  ServerApplication application;
};

TEST_F(OperatorWindowAppTest, ServesAClientShowsItAndShutsDownInOrderWhenClosed) {
  std::atomic<bool> clientDone{false};
  std::atomic<bool> clientKicked{false};
  std::thread client;
  bool checked = false;
  int status = Run([&](MainWindow& main) {
    EXPECT_TRUE(main.windowTitle().startsWith("Orvexa (Experiment log time precision:"));
    int port = Port();
    client = std::thread([&, port] {
      try {
        client::ProtocolClient connection;
        connection.Connect("127.0.0.1", port, client::Transport::kTcp);
        connection.Hello(1);
        clientKicked = connection.WaitClosed(20000);
      } catch (...) {
      }
      clientDone = true;
    });
    // The row arrives through the user table's snapshot posted to the main thread.
    ASSERT_TRUE(WaitFor([&] { return main.clients()->count() == 1; }));
    EXPECT_EQ(main.clients()->item(0)->text(), "127.000.000.001 C_D");

    QTreeWidget* devices = main.devices();
    ASSERT_GE(devices->topLevelItemCount(), 1);
    QTreeWidgetItem* simulator = devices->topLevelItem(0);
    EXPECT_EQ(simulator->text(0), "Simulator");
    ASSERT_GE(simulator->childCount(), 1);
    devices->setCurrentItem(simulator->child(0));
    main.clients()->item(0)->setSelected(true);

    QString folder = QStringLiteral(ORVEXA_BUILD_DIR "/tests/screenshots");
    QDir().mkpath(folder);
    EXPECT_TRUE(main.grab().save(folder + "/main_window.png"));

    // KICK: disabled until the next housekeeping pass (within 5 s) removes the client.
    QTest::mouseClick(main.kickButton(), Qt::LeftButton);
    EXPECT_FALSE(main.kickButton()->isEnabled());
    EXPECT_TRUE(WaitFor([&] { return main.clients()->count() == 0; }, 12000));
    EXPECT_TRUE(WaitFor([&] { return main.kickButton()->isEnabled(); }, 2000));
    EXPECT_TRUE(WaitFor([&] { return clientDone.load(); }, 5000));
    EXPECT_TRUE(clientKicked.load());
    checked = true;
  });
  if (client.joinable()) client.join();
  EXPECT_TRUE(checked);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(window.window(), nullptr);
  EXPECT_TRUE(dir.Exists("orvexa.cfg"));
  EXPECT_NE(dir.Read("users.log").find("Server stoped"), std::string::npos);
}

// The log dialog holds ServerLock while it is open. A client that logs in meanwhile
// waits for that lock inside the user table; the one-second tick and the accept
// notification of a further client, which also come in the dialog's event loop, must not
// then wait for the user table (they would wait forever).
TEST_F(OperatorWindowAppTest, ClientsArrivingWhileALogDialogIsOpenAreServedAfterItCloses) {
  Watchdog watchdog(std::chrono::seconds(60));
  std::atomic<int> answered{0};
  std::vector<std::thread> clients;
  bool dialogSeen = false;
  int status = Run([&](MainWindow& main) {
    QTreeWidgetItem* simulator = main.devices()->topLevelItem(0);
    ASSERT_NE(simulator, nullptr);
    main.devices()->setCurrentItem(simulator->child(0));
    auto login = [&answered](int port) {
      try {
        client::ProtocolClient connection;
        connection.Connect("127.0.0.1", port, client::Transport::kTcp);
        if (connection.Hello(1) == 0) ++answered;
        connection.WaitClosed(20000);
      } catch (...) {
      }
    };
    int port = Port();
    QTimer::singleShot(0, [&, port] {
      auto* dialog = qobject_cast<LogConfigDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      dialogSeen = true;
      clients.emplace_back(login, port);
      QTest::qWait(300);
      clients.emplace_back(login, port);
      // Several ticks while the logins wait for the dialog.
      QTest::qWait(2500);
      EXPECT_EQ(main.clients()->count(), 0);  // not in the table while the dialog is up
      dialog->reject();
    });
    QTest::mouseClick(main.configureLogButton(), Qt::LeftButton);
    EXPECT_TRUE(dialogSeen);
    EXPECT_TRUE(WaitFor([&] { return main.clients()->count() == 2; }));
    EXPECT_EQ(answered.load(), 2);
  });
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(dir.Exists("orvexa.cfg"));
}

// "Configure selected" on the serial board's node opens its "Port selection" window on
// the main thread, with the stored port_path beside the number; the choice is saved with
// orvexa.cfg, and the reader's "Unable to open port" box arrives without stopping the
// window's thread.
TEST_F(OperatorWindowAppTest, ConfigureSelectedOpensThePortWindowOfTheSerialBoard) {
  dir.CopyFromBuild("Pinvane.ldp");
  const std::string device = dir.File("no-such-tty");
  bool shown = false;
  int status = Run([&](MainWindow& main) {
    QTreeWidgetItem* board = nullptr;
    for (int i = 0; i < main.devices()->topLevelItemCount(); ++i)
      if (main.devices()->topLevelItem(i)->text(0) == "Arduino")
        board = main.devices()->topLevelItem(i);
    ASSERT_NE(board, nullptr);
    main.devices()->setCurrentItem(board);
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<PortSelectionDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      shown = true;
      EXPECT_EQ(dialog->portField()->text(), "0");
      EXPECT_EQ(dialog->pathField()->text(), "");
      dialog->portField()->setText("4");
      dialog->pathField()->setText(QString::fromStdString(device));
      dialog->accept();
    });
    QTest::mouseClick(main.configureButton(), Qt::LeftButton);
    EXPECT_TRUE(shown);
    auto errorBox = [] {
      for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->isVisible() && widget->windowTitle() == "Error opening port") return widget;
      return static_cast<QWidget*>(nullptr);
    };
    EXPECT_TRUE(WaitFor([&] { return errorBox() != nullptr; }, 5000));
    if (QWidget* box = errorBox()) box->close();
  });
  EXPECT_EQ(status, 0);
  std::string saved = dir.Read("orvexa.cfg");
  EXPECT_NE(saved.find("port_index=4"), std::string::npos) << saved;
  EXPECT_NE(saved.find(device), std::string::npos) << saved;
}

// The built server on an X display: the window's toolkit runs its own threads, and
// SIGTERM must still reach the main loop (not end the process on one of those threads),
// so the orderly shutdown writes "Server stoped" and saves orvexa.cfg.
TEST(OrvexaOnADesktopTest, ShowsItsWindowServesAndShutsDownInOrderOnSigterm) {
  VirtualDisplay display;
  if (display.name().empty()) GTEST_SKIP() << "Xvfb is not available";
  test::TempDir dir;
  dir.CopyFromBuild("Simulator.ldp");
  test::ServerProcess server(dir.path(), {"/port", "0"},
                             {"DISPLAY=" + display.name(), "QT_QPA_PLATFORM=xcb"});
  std::optional<int> port = server.WaitForPort();
  ASSERT_TRUE(port) << server.Stderr();
  ASSERT_TRUE(server.WaitForOutput("Server running")) << server.Stderr();
  EXPECT_GE(ThreadsNamed(server.pid(), "QXcb"), 1);  // the X11 window is up
  {
    client::ProtocolClient connection;
    connection.Connect("127.0.0.1", *port, client::Transport::kTcp);
    EXPECT_EQ(connection.Hello(1), 0);
  }
  server.Signal(SIGTERM);
  EXPECT_EQ(server.WaitForExit(), std::optional<int>(0)) << server.Stderr();
  EXPECT_TRUE(dir.Exists("orvexa.cfg"));
  EXPECT_NE(dir.Read("users.log").find("Server stoped"), std::string::npos);
}

}  // namespace
}  // namespace orvexa
