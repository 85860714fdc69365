#include "ui/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QShortcut>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "app/server_settings.h"
#include "config/kept_spellings.h"
#include "ui/log_config_dialog.h"

namespace orvexa {
namespace {

// Item data of the tree: the slot of a plug-in node, or the channel record of a
// channel node (records never move).
constexpr int kSlotRole = Qt::UserRole + 1;
constexpr int kChannelRole = Qt::UserRole + 2;
// Item data of a client row: the user's id.
constexpr int kUserIdRole = Qt::UserRole + 3;

QLineEdit* NumberField(QWidget* parent, const char* name, bool digitsOnly) {
  auto* field = new QLineEdit(parent);
  field->setObjectName(name);
  field->setAlignment(Qt::AlignRight);
  if (digitsOnly) {
    field->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), field));
  }
  return field;
}

QCheckBox* CheckBox(QWidget* parent, const char* text, const char* name) {
  auto* box = new QCheckBox(QString::fromUtf8(text), parent);
  box->setObjectName(name);
  return box;
}

QPushButton* Button(QWidget* parent, const char* text, const char* name) {
  auto* button = new QPushButton(QString::fromUtf8(text), parent);
  button->setObjectName(name);
  button->setAutoDefault(false);
  return button;
}

// Raises a flag for the time of one handler (null: nothing to raise).
class RaisedFlag {
 public:
  explicit RaisedFlag(std::atomic<bool>* flag) : flag_(flag) {
    if (flag_ != nullptr) flag_->store(true);
  }
  ~RaisedFlag() {
    if (flag_ != nullptr) flag_->store(false);
  }
  RaisedFlag(const RaisedFlag&) = delete;
  RaisedFlag& operator=(const RaisedFlag&) = delete;

 private:
  std::atomic<bool>* flag_;
};

}  // namespace

MainWindow::MainWindow(MainWindowModel model, const std::string& title, QWidget* parent)
    : QWidget(parent), model_(std::move(model)) {
  setWindowTitle(QString::fromStdString(title));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  BuildControls();

  static ServerSettings detached;  // a window without a server edits a private copy
  settings_ = std::make_unique<SettingsController>(
      model_.settings != nullptr ? *model_.settings : detached, model_.userTable);
  static std::atomic<bool> detachedFlag{false};
  kickController_ = std::make_unique<KickController>(
      model_.kickRequested != nullptr ? *model_.kickRequested : detachedFlag, model_.kick,
      [this](bool enabled) { kick_->setEnabled(enabled); });

  FillSettings();
  FillTree();
  useAuthentication_->setEnabled(model_.authenticationAvailable);
  useAuthentication_->hide();
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildControls() {
  auto* top = new QHBoxLayout(this);

  // Left: the client queue.
  auto* left = new QVBoxLayout;
  auto* queueLabel = new QLabel(QString::fromLatin1(kClientsQueueLabel), this);
  left->addWidget(queueLabel);
  clients_ = new QListWidget(this);
  clients_->setObjectName("clients");
  clients_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  clients_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  clients_->setMinimumWidth(170);
  left->addWidget(clients_, 1);
  kick_ = Button(this, "KICK", "kick");
  left->addWidget(kick_);
  top->addLayout(left);

  // Right: switches, numbers, devices.
  auto* right = new QVBoxLayout;
  auto* switches = new QHBoxLayout;
  allowConnections_ = CheckBox(this, kAllowConnectionsLabel, "allowConnections");
  limitWriteCommands_ = CheckBox(this, "Limit Write commands", "limitWriteCommands");
  disableDeviceListing_ = CheckBox(this, "Disable device listing", "disableDeviceListing");
  switches->addWidget(allowConnections_);
  switches->addWidget(limitWriteCommands_);
  switches->addWidget(disableDeviceListing_);
  switches->addStretch(1);
  right->addLayout(switches);

  auto* grid = new QGridLayout;
  maker_ = new QLabel(this);
  maker_->setObjectName("makerAddress");
  maker_->setText(QStringLiteral("<a href=\"%1\" style=\"color:blue\">%1</a>")
                      .arg(QString::fromUtf8(kMakerAddress)));
  maker_->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
  connect(maker_, &QLabel::linkActivated, this,
          [](const QString& link) { QDesktopServices::openUrl(QUrl(link)); });
  grid->addWidget(maker_, 0, 0, 2, 1, Qt::AlignLeft | Qt::AlignVCenter);
  grid->addWidget(new QLabel(QStringLiteral("Maximum client count:"), this), 0, 1, Qt::AlignRight);
  maxClientCount_ = NumberField(this, "maxClientCount", true);
  grid->addWidget(maxClientCount_, 0, 2);
  grid->addWidget(new QLabel(QString::fromLatin1(kConnectionExpirationLabel), this), 1, 1,
                  Qt::AlignRight);
  expiration_ = NumberField(this, "expiration", false);
  grid->addWidget(expiration_, 1, 2);
  limitUsageTime_ = CheckBox(this, "Limit usage time", "limitUsageTime");
  grid->addWidget(limitUsageTime_, 2, 0);
  grid->addWidget(new QLabel(QStringLiteral("Max usage time [s]:"), this), 2, 1, Qt::AlignRight);
  maxUsageTime_ = NumberField(this, "maxUsageTime", true);
  grid->addWidget(maxUsageTime_, 2, 2);
  useAuthentication_ = CheckBox(this, "Use authentication", "useAuthentication");
  grid->addWidget(useAuthentication_, 3, 0);
  right->addLayout(grid);

  right->addWidget(new QLabel(QStringLiteral("Devices"), this));
  devices_ = new QTreeWidget(this);
  devices_->setObjectName("devices");
  devices_->setHeaderHidden(true);
  devices_->setRootIsDecorated(true);
  devices_->setDragEnabled(false);
  devices_->setSelectionMode(QAbstractItemView::SingleSelection);
  devices_->setMinimumSize(360, 220);
  right->addWidget(devices_, 1);

  auto* buttons = new QHBoxLayout;
  configure_ = Button(this, "Configure selected", "configureSelected");
  configureLog_ = Button(this, "Configure log for selected", "configureLogForSelected");
  buttons->addWidget(configure_);
  buttons->addStretch(1);
  buttons->addWidget(configureLog_);
  right->addLayout(buttons);
  top->addLayout(right, 1);

  // Tab order as the controls are listed for the operator.
  setTabOrder(allowConnections_, limitWriteCommands_);
  setTabOrder(limitWriteCommands_, disableDeviceListing_);
  setTabOrder(disableDeviceListing_, expiration_);
  setTabOrder(expiration_, limitUsageTime_);
  setTabOrder(limitUsageTime_, maxUsageTime_);
  setTabOrder(maxUsageTime_, clients_);
  setTabOrder(clients_, kick_);
  setTabOrder(kick_, devices_);
  setTabOrder(devices_, configure_);
  setTabOrder(configure_, configureLog_);
  setTabOrder(configureLog_, maxClientCount_);

  const std::pair<QCheckBox*, SettingsControl> boxes[] = {
      {allowConnections_, SettingsControl::AllowConnections},
      {limitWriteCommands_, SettingsControl::LimitWriteCommands},
      {disableDeviceListing_, SettingsControl::DisableDeviceListing},
      {limitUsageTime_, SettingsControl::LimitUsageTime},
      {useAuthentication_, SettingsControl::UseAuthentication},
  };
  for (const auto& [box, control] : boxes) {
    SettingsControl which = control;
    connect(box, &QCheckBox::clicked, this, [this, which] { ApplySettings(which); });
  }
  const std::pair<QLineEdit*, SettingsControl> fields[] = {
      {expiration_, SettingsControl::Expiration},
      {maxUsageTime_, SettingsControl::MaxUsageTime},
      {maxClientCount_, SettingsControl::MaxClientCount},
  };
  for (const auto& [field, control] : fields) {
    SettingsControl which = control;
    connect(field, &QLineEdit::textChanged, this, [this, which] { ApplySettings(which); });
    // Enter in a number field closes the window, as the dialog's default command did.
    connect(field, &QLineEdit::returnPressed, this, [this] { EndRun(); });
  }
  // Escape anywhere in the window closes it, as the dialog's cancel command did.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  escape->setContext(Qt::WindowShortcut);
  connect(escape, &QShortcut::activated, this, [this] { EndRun(); });
  connect(kick_, &QPushButton::clicked, this,
          [this] { kickController_->Press(SelectedClientIds()); });
  connect(configure_, &QPushButton::clicked, this, [this] { ConfigureSelected(); });
  connect(configureLog_, &QPushButton::clicked, this, [this] { ConfigureLogForSelected(); });
}

void MainWindow::FillSettings() {
  SettingsForm form = settings_->Form();
  filling_ = true;
  allowConnections_->setChecked(form.allowConnections);
  limitWriteCommands_->setChecked(form.limitWriteCommands);
  disableDeviceListing_->setChecked(form.disableDeviceListing);
  limitUsageTime_->setChecked(form.limitUsageTime);
  useAuthentication_->setChecked(form.useAuthentication);
  expiration_->setText(QString::fromStdString(form.expiration));
  maxUsageTime_->setText(QString::fromStdString(form.maxUsageTime));
  maxClientCount_->setText(QString::fromStdString(form.maxClientCount));
  filling_ = false;
  ApplySettings(SettingsControl::Initial);
}

void MainWindow::ApplySettings(SettingsControl changed) {
  if (filling_) return;
  SettingsForm form;
  form.allowConnections = allowConnections_->isChecked();
  form.limitWriteCommands = limitWriteCommands_->isChecked();
  form.disableDeviceListing = disableDeviceListing_->isChecked();
  form.limitUsageTime = limitUsageTime_->isChecked();
  form.useAuthentication = useAuthentication_->isChecked();
  form.expiration = expiration_->text().toStdString();
  form.maxUsageTime = maxUsageTime_->text().toStdString();
  form.maxClientCount = maxClientCount_->text().toStdString();
  SettingsApplyResult result = settings_->Apply(form, changed);
  limitUsageTime_->setEnabled(result.limitUsageEnabled);
  maxUsageTime_->setEnabled(result.maxUsageEnabled);
  ShowNumberState(expiration_, result.expirationValid);
  ShowNumberState(maxUsageTime_, result.maxUsageValid);
  ShowNumberState(maxClientCount_, result.maxClientValid);
}

// A field that does not hold a number keeps the previous value; the field says so
// without stopping the operator with a box at every keystroke.
void MainWindow::ShowNumberState(QLineEdit* field, bool valid) {
  field->setProperty("invalidNumber", !valid);
  field->setStyleSheet(valid ? QString() : QStringLiteral("background-color: #ffd0d0;"));
  field->setToolTip(valid ? QString()
                          : (field == expiration_
                                 ? QStringLiteral("Please enter an integer.")
                                 : QStringLiteral("Please enter a positive integer.")));
}

void MainWindow::FillTree() {
  devices_->clear();
  if (model_.tree == nullptr) return;
  for (const DeviceTreePluginNode& plugin : model_.tree->plugins) {
    auto* node = new QTreeWidgetItem(devices_, QStringList(QString::fromStdString(plugin.label)));
    node->setData(0, kSlotRole, plugin.slot);
    for (const DeviceTreeChannelNode& channel : plugin.channels) {
      auto* child = new QTreeWidgetItem(node, QStringList(QString::fromStdString(channel.label)));
      child->setData(0, kChannelRole,
                     QVariant::fromValue(reinterpret_cast<quintptr>(channel.channel)));
    }
    node->setExpanded(true);
  }
}

DeviceTreeSelection MainWindow::Selection() const {
  QTreeWidgetItem* item = devices_->currentItem();
  if (item == nullptr || !item->isSelected()) return DeviceTreeSelection::None();
  QVariant channel = item->data(0, kChannelRole);
  if (channel.isValid())
    return DeviceTreeSelection::Channel(
        reinterpret_cast<DeviceChannel*>(channel.value<quintptr>()));
  return DeviceTreeSelection::Plugin(item->data(0, kSlotRole).toInt());
}

std::vector<uint32_t> MainWindow::SelectedClientIds() const {
  std::vector<uint32_t> ids;
  for (int row = 0; row < clients_->count(); ++row) {
    QListWidgetItem* item = clients_->item(row);
    if (item->isSelected()) ids.push_back(item->data(kUserIdRole).toUInt());
  }
  return ids;
}

void MainWindow::SetClientRows(const std::vector<ClientListRow>& rows) {
  clients_->clear();
  for (const ClientListRow& row : rows) {
    auto* item = new QListWidgetItem(QString::fromStdString(row.text), clients_);
    item->setData(kUserIdRole, row.id);
  }
}

void MainWindow::MaintenancePassFinished(bool windowClosing) {
  kickController_->PassFinished(windowClosing);
}

void MainWindow::ConfigureSelected() {
  DeviceTreeSelection selection = Selection();
  if (selection.kind == DeviceTreeSelection::Kind::None) return;
  RaisedFlag open(model_.dialogOpen);
  if (model_.configureSelected) model_.configureSelected(selection);
}

void MainWindow::ConfigureLogForSelected() {
  DeviceTreeSelection selection = Selection();
  if (selection.kind == DeviceTreeSelection::Kind::None) return;
  RaisedFlag open(model_.dialogOpen);
  if (model_.schedule == nullptr) {
    if (model_.saveLoggingSettings) model_.saveLoggingSettings();
    return;
  }
  LogSettingsController::Dialog dialog = model_.logDialog;
  if (!dialog) {
    dialog = [this](LogDialogValues& values) {
      LogConfigDialog box(this);
      box.SetValues(values);
      if (box.exec() != QDialog::Accepted) return false;
      values = box.Values();
      return true;
    };
  }
  LogSettingsController::ConfigureLogForSelected(selection, *model_.schedule, dialog,
                                                 model_.saveLoggingSettings, model_.logCapacity);
}

void MainWindow::EndRun() {
  if (ending_) return;
  ending_ = true;
  hide();
  if (model_.endRun) model_.endRun();
}

// Escape that reached the window (no shortcut matched, e.g. while it is not active).
void MainWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    EndRun();
    return;
  }
  QWidget::keyPressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  EndRun();
}

}  // namespace orvexa
