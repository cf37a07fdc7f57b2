#include "app/main_window.h"
#include "app/port_selector_help.h"

#include <QAction>
#include <QCloseEvent>
#include <QIcon>
#include <QLineEdit>
#include <QScrollBar>

#include "app/window_constants.h"
#include "billvalues/bill_values.h"
#include "link/com_thread.h"
#include "serial/com_port.h"
#include "widgets/window_look.h"

TForm1* Form1 = nullptr;

namespace {

QFont WindowFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(16);
    return font;
}

using norva::TahomaBold;

QString Latin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QPushButton* MakeButton(QWidget* parent, const char* name, std::string_view caption, QRect geometry,
                        bool handCursor) {
    return norva::MakePushButton(parent, QString::fromLatin1(name), Latin1(caption), geometry,
                                 handCursor);
}

// spokenName: what assistive technology calls the display.
TDigitsPanel* MakeDigitsPanel(QWidget* parent, const char* name, const char* spokenName, int left,
                              int top, norva::TDigitsLength length, std::uint8_t margin) {
    auto* panel = new TDigitsPanel(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setAccessibleName(QString::fromLatin1(spokenName));
    panel->SetDigits(&norva::DigitStrip());
    panel->SetLength(length);
    panel->SetMargin(margin);
    panel->SetBounds(left, top, 0, 0);
    return panel;
}

}  // namespace

TForm1::TForm1(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      link_(*this),
      evidenceBudget_(norva::LogBudgetBytes()) {
    link_.PublishReceiveThread(ComThread);
    CreateControls();
    SetTabOrder();
    ConnectHandlers();
    for (int n = 1; n <= norva::kPortCount; ++n)
        ComboBox1->addItem(QString::fromStdString(norva::PortItemText(norva::PortName(n))));
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setEditText(QStringLiteral("Comport  Select"));
    new norva::PortSelectorHelp(
        ComboBox1, [this](const QString& text) { ShowTransientProblem(text.toStdString()); });
    FormCreate();
}

void TForm1::CreateControls() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(Latin1(norva::kWindowCaption));
    setWindowIcon(QIcon(QStringLiteral(":/app/emblem.png")));
    setFixedSize(817, 397);
    setFont(WindowFont());
    norva::UseInactiveBorderBackground(this);

    GroupBox1 = new QGroupBox(QStringLiteral("Accepting Notes"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setFont(TahomaBold());
    GroupBox1->setGeometry(8, 8, 369, 161);
    static constexpr int kColumnLeft[] = {16, 96, 176, 272};
    for (int n = 1; n <= norva::kChannelCount; ++n) {
        auto* box = new QCheckBox(QString::number(n), GroupBox1);
        box->setObjectName(QStringLiteral("CheckBox%1").arg(n));
        box->setFont(TahomaBold());
        const int width = n == 9 ? 97 : (n >= 10 && n <= 12 ? 89 : 81);
        box->setGeometry(kColumnLeft[(n - 1) / 4], 24 + 24 * ((n - 1) % 4), width, 17);
        box->setChecked(n <= norva::kChannelsTickedAtStart);
        channelBoxes_[n - 1] = box;
    }
    // The named fields are the layout's; the list is what lookup and tab order use.
    QCheckBox** fields[] = {&CheckBox1,  &CheckBox2,  &CheckBox3,  &CheckBox4,
                            &CheckBox5,  &CheckBox6,  &CheckBox7,  &CheckBox8,
                            &CheckBox9,  &CheckBox10, &CheckBox11, &CheckBox12,
                            &CheckBox13, &CheckBox14, &CheckBox15, &CheckBox16};
    for (int i = 0; i < norva::kChannelCount; ++i)
        *fields[i] = channelBoxes_[i];

    DigitsPanel1 = MakeDigitsPanel(this, "DigitsPanel1", "Note Count", 8, 240, 3, 2);

    Memo1 = new norva::ProtocolLogPane(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(520, 40, 289, 329);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setTabChangesFocus(true);  // Tab moves on through the window, as everywhere else

    Label2 = new norva::StateLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setAccessibleName(QStringLiteral("Link"));
    Label2->setFont(TahomaBold());
    Label2->setAutoFillBackground(true);
    Label2->move(272, 200);
    SetLinkIndicator(norva::kNoLinkCaption, 0xFF0000);

    BitBtn6 = MakeButton(this, "BitBtn6", "Accept", {360, 312, 73, 57}, true);
    BitBtn6->setEnabled(false);
    BitBtn7 = MakeButton(this, "BitBtn7", "Reject", {432, 312, 73, 57}, true);
    BitBtn7->setEnabled(false);
    BitBtn8 = MakeButton(this, "BitBtn8", "Clear Credit", {384, 120, 129, 25}, true);
    BitBtn5 = MakeButton(this, "BitBtn5", norva::kDisableBaCaption, {384, 152, 129, 25}, true);
    BitBtn1 = MakeButton(this, "BitBtn1", "Clear Memo", {384, 216, 129, 25}, true);

    RadioGroup1 =
        new norva::RadioGroup(QStringLiteral("Escrow Setting"),
                              {QStringLiteral("Escrow"), QStringLiteral("No Escrow")}, 2, this);
    RadioGroup1->setObjectName(QStringLiteral("RadioGroup1"));
    RadioGroup1->setFont(TahomaBold());
    RadioGroup1->setGeometry(8, 176, 249, 57);
    RadioGroup1->SetItemIndex(0);

    Button1 = MakeButton(this, "Button1", "RESET", {384, 184, 129, 25}, true);
    DigitsPanel2 = MakeDigitsPanel(this, "DigitsPanel2", "Note in Escrow", 137, 240, 5, 2);
    DigitsPanel3 = MakeDigitsPanel(this, "DigitsPanel3", "Credit", 8, 304, 8, 3);

    // The link's poll timer, the same for every front; this window starts and stops it.
    Timer1 = link_.PollTimer();
    Timer1->setObjectName(QStringLiteral("Timer1"));

    Button2 = MakeButton(GroupBox1, "Button2", "Configure", {264, 128, 97, 25}, false);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(407, 8, 89, 65);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setPixmap(QPixmap(QStringLiteral(":/app/emblem.png")));

    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(true);
    // Typed text is the operator's own: no completion into an item, and Enter adds no item.
    ComboBox1->setCompleter(nullptr);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setGeometry(592, 8, 145, ComboBox1->sizeHint().height());

    StatusBar1 = new norva::StatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setGeometry(0, 377, 817, 20);
    StatusBar1->SetPanel(0, 50, QStringLiteral("PORT"));
    StatusBar1->SetPanel(norva::kPortStatusPanel, 45, QString());
    StatusBar1->SetPanel(norva::kLinkStatusPanel, 80, Latin1(norva::kNoLinkCaption));
    StatusBar1->SetPanel(norva::kTitleStatusPanel, 525, Latin1(norva::kTitlePanelText));
    StatusBar1->SetPanel(4, 70, QStringLiteral("Version"));
    StatusBar1->SetPanel(5, 50, Latin1(norva::kVersionPanelText));

    Button3 = MakeButton(this, "Button3", "Polling", {384, 88, 129, 25}, false);

    problemTimer_ = new QTimer(this);
    problemTimer_->setObjectName(QStringLiteral("ProblemTimer"));
    problemTimer_->setSingleShot(true);
    problemTimer_->setInterval(kTransientProblemMs);
}

void TForm1::SetTabOrder() {
    std::vector<QWidget*> order(channelBoxes_.begin(), channelBoxes_.end());
    order.insert(order.end(),
                 {Button2, Memo1, BitBtn6, BitBtn7, BitBtn8, BitBtn5, BitBtn1, RadioGroup1->Item(0),
                  RadioGroup1->Item(1), Button1, ComboBox1, Button3});
    for (std::size_t i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void TForm1::ConnectHandlers() {
    connect(BitBtn1, &QPushButton::clicked, this, &TForm1::BitBtn1Click);
    connect(BitBtn5, &QPushButton::clicked, this, &TForm1::BitBtn5Click);
    connect(BitBtn6, &QPushButton::clicked, this, &TForm1::BitBtn6Click);
    connect(BitBtn7, &QPushButton::clicked, this, &TForm1::BitBtn7Click);
    connect(BitBtn8, &QPushButton::clicked, this, &TForm1::BitBtn8Click);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
    link_.SetPollHandler([this] { Timer1Timer(); });
    // Typing and picking, but not Enter or leaving the box: the selector sees exactly the text
    // the operator typed, never one the box completed or matched without regard to case.
    connect(ComboBox1->lineEdit(), &QLineEdit::textEdited, this, &TForm1::ComboBox1Change);
    connect(ComboBox1, &QComboBox::activated, this, &TForm1::ComboBox1Change);
    disconnect(ComboBox1->lineEdit(), &QLineEdit::editingFinished, ComboBox1, nullptr);
    connect(&link_, &norva::AcceptorLink::BlocksHandled, this, &TForm1::FlushLog);
    connect(&link_, &norva::AcceptorLink::DeviceGone, this, &TForm1::ShowLastingState);
    connect(&link_, &norva::AcceptorLink::DeviceBack, this,
            [this](const QString& text) { ShowTransientProblem(text.toStdString()); });
    connect(&link_, &norva::AcceptorLink::RivalOpened, this,
            [this](const QString& text) { ShowTransientProblem(text.toStdString()); });
    saveLogAction_ = new QAction(QStringLiteral("Save Log As\u2026"), this);
    saveLogAction_->setShortcut(QKeySequence::Save);
    addAction(saveLogAction_);
    connect(saveLogAction_, &QAction::triggered, this, &TForm1::SaveLogAs);
    Memo1->AddContextActions({saveLogAction_});
    Memo1->AttachBudget(&evidenceBudget_,
                        [this](const QString& text) { ShowTransientProblem(text.toStdString()); });
    traffic_ = std::make_unique<norva::TrafficEvidence>(this, link_, *Memo1, evidenceBudget_);
    connect(traffic_.get(), &norva::TrafficEvidence::RecordingNews, this,
            [this](const QString& text) { ShowTransientProblem(text.toStdString()); });
    pictures_ = std::make_unique<norva::PictureWindows>(this, traffic_->record(), *Memo1, [this] {
        std::array<std::string, norva::kChannelCount> captions;
        for (int c = 1; c <= norva::kChannelCount; ++c)
            captions[std::size_t(c - 1)] = ChannelCaption(c);
        return captions;
    });
    connect(problemTimer_, &QTimer::timeout, this, [this] {
        StatusBar1->SetPanelText(norva::kTitleStatusPanel, Latin1(norva::kTitlePanelText));
    });
}

QCheckBox* TForm1::ChannelBox(int channel) const {
    return channel >= 1 && channel <= norva::kChannelCount ? channelBoxes_[channel - 1] : nullptr;
}

// Centred once its frame is known; polling starts with the first showing.
void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (centred_) return;
    centred_ = true;
    norva::CentreOnScreen(this);
    Timer1->start();
}

void TForm1::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}
