#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <array>

#include "app/memory_budget.h"
#include "app/picture_windows.h"
#include "app/protocol_log_pane.h"
#include "app/radio_group.h"
#include "app/status_bar.h"
#include "app/traffic_evidence.h"
#include "billvalues/bill_values.h"
#include "link/acceptor_link.h"
#include "protocol/engine_window.h"
#include "widgets/digits_panel.h"
#include "widgets/display_accessibility.h"

// The operator's window: the note channels, the displays, the commands, the port selector and
// the protocol log. The engine and the commands reach its controls through EngineWindow.
class TForm1 : public QWidget, public norva::EngineWindow {
    Q_OBJECT

public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Controls, in the order of the layout.
    QGroupBox* GroupBox1;
    QCheckBox* CheckBox1;
    QCheckBox* CheckBox2;
    QCheckBox* CheckBox3;
    QCheckBox* CheckBox4;
    QCheckBox* CheckBox5;
    QCheckBox* CheckBox6;
    QCheckBox* CheckBox7;
    QCheckBox* CheckBox8;
    QCheckBox* CheckBox9;
    QCheckBox* CheckBox10;
    QCheckBox* CheckBox11;
    QCheckBox* CheckBox12;
    QCheckBox* CheckBox13;
    QCheckBox* CheckBox14;
    QCheckBox* CheckBox15;
    QCheckBox* CheckBox16;
    TDigitsPanel* DigitsPanel1;
    norva::ProtocolLogPane* Memo1;
    norva::StateLabel* Label2;
    QPushButton* BitBtn6;
    QPushButton* BitBtn7;
    QPushButton* BitBtn8;
    QPushButton* BitBtn5;
    QPushButton* BitBtn1;
    norva::RadioGroup* RadioGroup1;
    QPushButton* Button1;
    TDigitsPanel* DigitsPanel2;
    TDigitsPanel* DigitsPanel3;
    QTimer* Timer1;
    QPushButton* Button2;
    QLabel* Image1;
    QComboBox* ComboBox1;
    norva::StatusBar* StatusBar1;
    QPushButton* Button3;

    // Bill value loading: NoteCount to 0, then the tick box captions from BILLVALUE.TXT. A read
    // failure is shown in the error box and reported as false; the captions then stay as they were.
    bool FormCreate();
    // The tick box of note channel 1..16.
    QCheckBox* ChannelBox(int channel) const;
    // Shows the lines appended so far; otherwise they appear when the current event is over.
    void FlushLog() { Memo1->FlushLog(); }
    const norva::ProtocolEngine& Engine() const { return link_.Engine(); }
    norva::AcceptorLink& Link() { return link_; }
    // Everything kept in memory as evidence of the session shares this budget.
    norva::MemoryBudget& EvidenceBudget() { return evidenceBudget_; }
    // "Save Log As…", in the log pane's menu and on Ctrl+S.
    QAction* SaveLogAction() const { return saveLogAction_; }
    norva::TrafficEvidence& Traffic() { return *traffic_; }
    norva::PictureWindows& Pictures() { return *pictures_; }

    // norva::EngineWindow
    void AppendLogLine(std::string_view line) override;
    void SetLinkIndicator(std::string_view caption, std::uint32_t rgb) override;
    void SetStatusText(int panel, std::string_view text) override;
    std::string EnableButtonCaption() const override;
    void SetEnableButtonCaption(std::string_view caption) override;
    void SetAcceptEnabled(bool enabled) override;
    void SetRejectEnabled(bool enabled) override;
    void SetDisplayValue(norva::Display display, std::int32_t value) override;
    std::int32_t DisplayValue(norva::Display display) const override;
    bool ChannelTicked(int channel) const override;
    std::string ChannelCaption(int channel) const override;
    int EscrowSetting() const override;
    void ShowTransientProblem(std::string_view text) override;
    void LastLineNotWritten() override;

    static constexpr int kTransientProblemMs = 10000;

public slots:
    void BitBtn1Click();
    void BitBtn5Click();
    void BitBtn6Click();
    void BitBtn7Click();
    void BitBtn8Click();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Timer1Timer();
    // The port selector's text changed by typing, or an item was picked (also the same one).
    void ComboBox1Change();
    // Asks for a file and writes the log's lines there, each ended by LF.
    void SaveLogAs();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void CreateControls();
    void SetTabOrder();
    void ConnectHandlers();
    // Releases the port and ends the event loop with status 0; nothing is asked.
    void FormClose();
    TDigitsPanel* Panel(norva::Display display) const;

    // Shown in status panel 3 until something else is.
    void ShowLastingState(const QString& text);

    std::array<QCheckBox*, norva::kChannelCount> channelBoxes_{};
    norva::AcceptorLink link_;
    norva::MemoryBudget evidenceBudget_;
    // Goes before the link and the budget it listens to.
    std::unique_ptr<norva::TrafficEvidence> traffic_;
    std::unique_ptr<norva::PictureWindows> pictures_;
    QAction* saveLogAction_ = nullptr;
    QTimer* problemTimer_;
    bool centred_ = false;
};

// The one main window.
extern TForm1* Form1;
