#pragma once
// Shared pieces of the window tests on the offscreen platform: finding
// controls, tables of captions, the tab order, a mailbox that counts how it
// is used, a closer of modal windows, a fresh home and settings folder per
// test, and the test program's main.

#include <QApplication>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <QtTest>
#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "base/Failure.h"
#include "frame/QtPlatform.h"
#include "mail/MSession.h"
#include "resources/Translations.h"
#include "settings/Settings.h"
#include "store/MailStore.h"
#include "store/UnreadableMessage.h"
#include "tests/support/TempDir.h"
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace qm::testing {

// An environment variable set for a scope through Qt's own calls. They take
// the lock Qt's readers take: QtTest's watchdog thread reads the environment
// as each test function starts, and a plain setenv beside that read can move
// the environment under it (a crash seen in CI).
class QtEnvOverride {
 public:
  QtEnvOverride(const char* name, const std::string& value) : name_(name) {
    if (qEnvironmentVariableIsSet(name)) old_ = qgetenv(name);
    qputenv(name, QByteArray::fromStdString(value));
  }
  ~QtEnvOverride() {
    if (old_) {
      qputenv(name_, *old_);
    } else {
      qunsetenv(name_);
    }
  }
  QtEnvOverride(const QtEnvOverride&) = delete;
  QtEnvOverride& operator=(const QtEnvOverride&) = delete;

 private:
  const char* name_;
  std::optional<QByteArray> old_;
};

template <typename T>
T* Control(QWidget& parent, const char* name) {
  T* control = parent.findChild<T*>(QString::fromLatin1(name));
  if (control == nullptr) qFatal("control %s missing", name);
  return control;
}

// A data table of controls: object name, class name, caption.
inline void AddCaptionColumns() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("kind");
  QTest::addColumn<QString>("text");
}

inline void AddCaptionRow(const char* name, const char* kind, const QString& text) {
  QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(kind) << text;
}

// The names of the window's own controls that Tab visits, starting at `first`.
inline QStringList TabOrder(QWidget& window, const char* first) {
  QStringList order;
  QWidget* start = Control<QWidget>(window, first);
  QWidget* widget = start;
  do {
    if ((widget->focusPolicy() & Qt::TabFocus) && widget->parentWidget() == &window) {
      order << widget->objectName();
    }
    widget = widget->nextInFocusChain();
  } while (widget != start && order.size() < 30);
  return order;
}

// How a CountingStore was used; an empty mailbox unless told otherwise.
// The counts are kept by the scan's thread and read by the test's.
struct MailboxLog {
  std::atomic<int> lists = 0;
  std::atomic<int> commits = 0;
  std::atomic<int> read_flags = 0;  // read-flag queries, one per examined candidate
  bool fail_listing = false;
  std::size_t messages = 0;
  int read_flag_delay_ms = 0;  // makes a scan slow
  std::size_t unreadable = 0;  // the first messages cannot be read
};

class CountingStore : public MailStore {
 public:
  explicit CountingStore(std::shared_ptr<MailboxLog> log = std::make_shared<MailboxLog>())
      : log_(std::move(log)) {}
  std::size_t List() override {
    ++log_->lists;
    if (log_->fail_listing) {
      throw Failure(FailureKind::MailStore, Cause::kMailServer, "mailbox went away");
    }
    return log_->messages;
  }
  bool IsRead(std::size_t) override {
    ++log_->read_flags;
    QThread::msleep(log_->read_flag_delay_ms);
    return true;
  }
  RawHeaders Headers(std::size_t) override { return {}; }
  std::string Describe(std::size_t index) const override { return std::to_string(index); }
  UniqueFd OpenMessage(std::size_t index, int) override {
    if (index < log_->unreadable) throw UnreadableMessage(Describe(index), "Input/output error");
    return UniqueFd();
  }
  void QueueReadMark(std::size_t) override {}
  void DropReadMark(std::size_t) override {}
  void CommitReadMarks() override { ++log_->commits; }

 private:
  std::shared_ptr<MailboxLog> log_;
};

// A window's mailbox: a CountingStore keeping its counts in `log`.
inline StoreOpener OpenerFor(std::shared_ptr<MailboxLog> log = std::make_shared<MailboxLog>()) {
  return [log](const SignOnRequest&) { return std::make_unique<CountingStore>(log); };
}

// Closes every modal window (the folder dialog, a failure's message box) as
// soon as it appears, while it lives.
class ModalCloser {
 public:
  ModalCloser() {
    QObject::connect(&poll_, &QTimer::timeout, [this] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        modal->close();
        ++closed_;
      }
    });
    poll_.start(10);
  }
  int closed() const { return closed_; }

 private:
  QTimer poll_;
  int closed_ = 0;
};

#ifdef _WIN32
// A fresh folder, and default settings with none stored: the settings keys
// of the test's own Wine prefix are removed before and after.
class FreshHome {
 public:
  FreshHome() {
    ForgetStoredSettings();
    Settings = SettingsRecord{};
  }
  ~FreshHome() { ForgetStoredSettings(); }
  FreshHome(const FreshHome&) = delete;
  FreshHome& operator=(const FreshHome&) = delete;
  const std::filesystem::path& path() const { return folder_.path(); }

 private:
  static void ForgetStoredSettings() {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) ::RegDeleteTreeA(root, kSettingsKey);
  }
  TempDir folder_;
};
#else
// HOME, the settings folder and the run log's folder in a fresh folder, with
// default settings.
class FreshHome {
 public:
  FreshHome() { Settings = SettingsRecord{}; }
  const std::filesystem::path& path() const { return folder_.path(); }

 private:
  TempDir folder_;
  QtEnvOverride home_{"HOME", folder_.path().string()};
  QtEnvOverride config_{"XDG_CONFIG_HOME", (folder_.path() / "config").string()};
  QtEnvOverride state_{"XDG_STATE_HOME", (folder_.path() / "state").string()};
};
#endif

// Runs the Qt test object `T` in an application with the program's look and a
// private runtime folder.
template <typename T>
int RunWindowTests(int argc, char* argv[]) {
  TempDir runtime;
#ifndef _WIN32
  ::chmod(runtime.path().c_str(), 0700);
#endif
  const QtEnvOverride runtime_dir("XDG_RUNTIME_DIR", runtime.path().string());
  QApplication application(argc, argv);
  ApplyApplicationLook(application);
  const JapaneseWindowTexts japanese;
  T test;
  return QTest::qExec(&test, argc, argv);
}

}  // namespace qm::testing
