#include <sys/resource.h>

#include <QContextMenuEvent>
#include <QFileDialog>
#include <QInputMethodEvent>
#include <QMenu>
#include <QScopeGuard>
#include <QTest>

#include <cstdlib>

#include "app/memory_budget.h"
#include "app/startup.h"
#include "modal_watcher.h"
#include "pty_pair.h"
#include "scoped_env.h"
#include "temp_cwd.h"
#include "windows_fixture.h"

// Save Log through the real menu entry and the real shortcut, into a real folder; and the
// window's share of the memory budget.
class SaveLogTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        cwd_ = std::make_unique<TempCwd>();
        WriteFileBytes("BILLVALUE.TXT", DefaultBillValueBytes());
        budget_ = std::make_unique<ScopedEnv>(norva::kLogBudgetVariable, "1");
        norva::CreateWindows();
        Form1->Timer1->stop();
        Form1->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form1));
    }
    void cleanup() {
        DestroyWindows();
        budget_.reset();
        cwd_.reset();
    }

    void savesTheLinesAsShown_data() {
        QTest::addColumn<bool>("traffic");  // Save Traffic As rather than Save Log As
        QTest::addColumn<bool>("byMenu");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("typed");  // at the end, by the operator
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("menu, two lines")
            << false << true << QStringList{"Send      [0x0C]", "Receive [0x3E]"} << QString()
            << QByteArray("Send      [0x0C]\nReceive [0x3E]\n");
        QTest::newRow("shortcut, with the operator's note")
            << false << false << QStringList{"Send [0x3E]"} << QStringLiteral(" ok\u00e9")
            << QByteArray("Send [0x3E] ok\xc3\xa9\n");
        QTest::newRow("shortcut, empty log")
            << false << false << QStringList{} << QString() << QByteArray();
        // The log's lines are no traffic: with no port opened the capture is its header alone.
        QTest::newRow("traffic by menu")
            << true << true << QStringList{"Send      [0x0C]"} << QString()
            << QByteArray("# norva-protocol traffic capture\n");
        QTest::newRow("traffic by shortcut") << true << false << QStringList{} << QString()
                                             << QByteArray("# norva-protocol traffic capture\n");
    }

    void savesTheLinesAsShown() {
        QFETCH(bool, traffic);
        QFETCH(bool, byMenu);
        QFETCH(QStringList, lines);
        QFETCH(QString, typed);
        QFETCH(QByteArray, bytes);
        for (const QString& line : lines)
            Form1->AppendLogLine(line.toStdString());
        Form1->FlushLog();
        if (!typed.isEmpty()) {
            Form1->Memo1->setFocus();
            Form1->Memo1->moveCursor(QTextCursor::End);
            // Typed as an input method commits it, accents and all.
            QInputMethodEvent input;
            input.setCommitString(typed);
            QCoreApplication::sendEvent(Form1->Memo1, &input);
        }
        const QString path = cwd_->path() + QStringLiteral("/session.log");
        QAction* entry = traffic ? Form1->Traffic().saveAction() : Form1->SaveLogAction();
        QCOMPARE(Texts(Save(entry, byMenu, path)), QString());
        QCOMPARE(QByteArray::fromStdString(ReadFileBytes(path.toStdString())), bytes);
    }

    // A folder that takes no file: the error box, and nothing left behind.
    void failureShowsTheErrorBox() {
        Form1->AppendLogLine("Send      [0x0C]");
        const QString path = cwd_->path() + QStringLiteral("/BILLVALUE.TXT/session.log");
        for (QAction* entry : {Form1->SaveLogAction(), Form1->Traffic().saveAction()}) {
            const std::vector<SeenBox> boxes = Save(entry, entry != Form1->SaveLogAction(), path);
            QCOMPARE(boxes.size(), 1u);
            QCOMPARE(boxes[0].text, QStringLiteral("Cannot create file %1.").arg(path));
            QCOMPARE(boxes[0].title, QStringLiteral("Norva Protocol "));
        }
        QCOMPARE(QDir(cwd_->path()).entryList(QDir::Files), QStringList{"BILLVALUE.TXT"});
    }

    // Recording: a settings file is refused as a target, by name; a write that fails
    // mid-run names the file and the reason in status panel 3 and the error box, and stops.
    void recordingFailureIsShown() {
        QCOMPARE(
            QString::fromStdString(Form1->Traffic().StartRecording("BILLVALUE.TXT").Describe()),
            QStringLiteral("Cannot create file BILLVALUE.TXT: it is the bill value file"));
        PtyPair pty;
        QCOMPARE(Form1->Link().OpenDirect("", pty.slavePath()).kind,
                 norva::SelectionOutcome::Kind::Opened);
        QVERIFY(Form1->Traffic().StartRecording("live.cap").ok());
        rlimit before{};
        ::getrlimit(RLIMIT_FSIZE, &before);
        const auto restore = qScopeGuard([&] { ::setrlimit(RLIMIT_FSIZE, &before); });
        rlimit small = before;
        small.rlim_cur = ReadFileBytes("live.cap").size() + 10;
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        MessageBoxWatcher watcher;
        pty.Write({0x20});
        QTRY_COMPARE(watcher.boxes.size(), 1u);
        const QString text = QStringLiteral("Stream write error: live.cap: File too large");
        QCOMPARE(watcher.boxes[0].text, text + ".");
        QCOMPARE(Form1->StatusBar1->PanelText(3), text);
        QVERIFY(!Form1->Traffic().recording() && !Form1->Traffic().recordAction()->isChecked());
        Form1->Link().Close();
    }

    // The override sets the window's budget; a trim says so in status panel 3.
    void budgetTrimShowsInTheStatusBar() {
        QCOMPARE(Form1->EvidenceBudget().limit(), 1024u * 1024u);
        for (int i = 0; i < 8000; ++i)
            Form1->AppendLogLine("Receive [0x20]");
        Form1->FlushLog();
        QTRY_VERIFY(Form1->StatusBar1->PanelText(3).startsWith(QStringLiteral("Log: oldest ")));
        QVERIFY(Form1->StatusBar1->PanelText(3).endsWith(
            QStringLiteral(" lines dropped to stay within 1 MB")));
        Form1->BitBtn1Click();
        QCOMPARE(Form1->Memo1->toPlainText(), QString());
        QVERIFY(Form1->Memo1->TrimNotice().isEmpty());
    }

private:
    static SeenBox Seen(const char* what) {
        SeenBox box;
        box.text = QString::fromLatin1(what);
        return box;
    }
    static QString Texts(const std::vector<SeenBox>& boxes) {
        QStringList texts;
        for (const SeenBox& box : boxes)
            texts << box.text;
        return texts.join(u'|');
    }

    // Saves through the entry in the pane's menu or its shortcut, answering the file dialog with
    // path; returns the message boxes that came.
    std::vector<SeenBox> Save(QAction* entry, bool byMenu, const QString& path) {
        bool answered = false;
        MessageBoxWatcher watcher({}, [&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            if (dialog == nullptr || answered) return false;
            answered = true;
            dialog->selectFile(path);
            QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
            return true;
        });
        if (byMenu) {
            QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10),
                                    Form1->Memo1->mapToGlobal(QPoint(10, 10)));
            QCoreApplication::sendEvent(Form1->Memo1->viewport(), &event);
            if (!QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }, 5000))
                return {Seen("no menu")};
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            const QList<QAction*> actions = menu->actions();
            // Qt's own entries first, then a separator, then ours.
            const bool standard = std::any_of(actions.begin(), actions.end(), [](QAction* a) {
                return a->objectName() == QLatin1String("select-all");
            });
            // Qt's entries, then ours in groups after a separator.
            const qsizetype logAt = actions.indexOf(Form1->SaveLogAction());
            const qsizetype trafficAt = actions.indexOf(Form1->Traffic().clearAction());
            const QStringList ours{actions.value(logAt)->text(), actions.value(trafficAt)->text(),
                                   actions.value(trafficAt + 1)->text(),
                                   actions.value(trafficAt + 2)->text()};
            if (!standard || logAt < 1 || !actions[logAt - 1]->isSeparator() || trafficAt < 1 ||
                !actions[trafficAt - 1]->isSeparator() ||
                ours != QStringList{"Save Log As\u2026", "Clear Traffic", "Save Traffic As\u2026",
                                    "Record Traffic to File\u2026"})
                return {Seen("menu without its entries")};
            const qsizetype save = actions.indexOf(entry);
            QTimer::singleShot(0, menu, [menu, action = actions[save]] {
                menu->close();
                action->trigger();
            });
        } else {
            // Ctrl+S and Ctrl+Shift+S, wherever the focus is in the window.
            if (entry->shortcut().isEmpty()) return {Seen("no shortcut")};
            QTimer::singleShot(0,
                               [entry] { QTest::keySequence(Form1->BitBtn8, entry->shortcut()); });
        }
        if (!QTest::qWaitFor(
                [&] { return answered && QApplication::activeModalWidget() == nullptr; }, 10000))
            watcher.boxes.push_back(Seen("no file dialog"));
        QTest::qWait(50);
        return watcher.boxes;
    }

    std::unique_ptr<TempCwd> cwd_;
    std::unique_ptr<ScopedEnv> budget_;
};

QTEST_MAIN(SaveLogTest)
#include "tst_save_log.moc"
