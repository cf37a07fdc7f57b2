#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <vector>

// Looks for an application-modal window every few milliseconds and hands it to a handler, so a
// test can answer a box or drive a dialog from inside the modal loop that shows it. The handler
// returns true when it dealt with the window; it is called again while the window stays open.
// Qt never fires a timer again while its own slot runs, so a handler that may open a further
// modal loop (a click that shows a box) must do that from a fresh event, e.g. a zero-time
// single shot, or the watcher cannot answer the new box.
class ModalWatcher : public QObject {
public:
    using Handler = std::function<bool(QWidget* modal)>;

    explicit ModalWatcher(Handler handler) : handler_(std::move(handler)) {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { Look(); });
        timer_.start();
    }

private:
    void Look() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible()) return;
        handler_(modal);
    }

    Handler handler_;
    QTimer timer_;
};

// What a message box showed.
struct SeenBox {
    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QRect frame;
};

// Records every message box and presses its OK button; other modal windows go to the optional
// handler. onBox runs while the box is still open, for a test that wants to know the state then.
class MessageBoxWatcher {
public:
    explicit MessageBoxWatcher(std::function<void()> onBox = {},
                               ModalWatcher::Handler otherModal = {})
        : watcher_(
              [this, onBox = std::move(onBox), otherModal = std::move(otherModal)](QWidget* modal) {
                  auto* box = qobject_cast<QMessageBox*>(modal);
                  if (box == nullptr) return otherModal ? otherModal(modal) : false;
                  boxes.push_back({box->text(), box->windowTitle(), box->icon(),
                                   box->standardButtons(), box->frameGeometry()});
                  if (onBox) onBox();
                  if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
                      ok->click();
                  } else {
                      box->reject();
                  }
                  return true;
              }) {
        ++Active();
    }
    ~MessageBoxWatcher() { --Active(); }
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    // Watchers alive now.
    static int& Active() {
        static int count = 0;
        return count;
    }

    std::vector<SeenBox> boxes;

private:
    ModalWatcher watcher_;
};

// Closes a message box that no MessageBoxWatcher is there to answer and keeps its text, so a
// step that fails with a box (an open refused) fails the test in moments instead of waiting in
// the box's modal loop for the suite's time-out.
class StrayBoxes {
public:
    StrayBoxes()
        : watcher_([this](QWidget* modal) {
              auto* box = qobject_cast<QMessageBox*>(modal);
              if (box == nullptr || MessageBoxWatcher::Active() > 0) return false;
              texts.push_back(box->text());
              box->reject();
              return true;
          }) {}

    QStringList texts;

private:
    ModalWatcher watcher_;
};
