#include "billvalues/bill_value_dialog.h"

#include <QKeyEvent>

#include "billvalues/bill_values.h"

TForm3* Form3 = nullptr;

namespace {

QFont TahomaBold() {
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(16);
    font.setBold(true);
    return font;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, int left) {
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setFont(TahomaBold());
    button->setGeometry(left, 296, 121, 33);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

}  // namespace

TForm3::TForm3(ErrorReporter showError, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      showError_(std::move(showError)) {
    CreateControls();
    FormCreate();
}

void TForm3::CreateControls() {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("BillValue Configure"));
    setFixedSize(621, 353);
    move(258, 211);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);
    // Qt has no inactive-border colour; an inactive window's background is the nearest.
    QPalette background = palette();
    background.setColor(QPalette::Window, background.color(QPalette::Inactive, QPalette::Window));
    setPalette(background);
    setAutoFillBackground(true);

    QLabel** labels[] = {&Label1,  &Label2,  &Label3,  &Label4,  &Label5,  &Label6,
                         &Label7,  &Label8,  &Label9,  &Label10, &Label11, &Label12,
                         &Label13, &Label14, &Label15, &Label16};
    QLineEdit** edits[] = {&Edit1, &Edit2,  &Edit3,  &Edit4,  &Edit5,  &Edit6,  &Edit7,  &Edit8,
                           &Edit9, &Edit10, &Edit11, &Edit12, &Edit13, &Edit14, &Edit15, &Edit16};
    for (int n = 1; n <= norva::kChannelCount; ++n) {
        const bool rightColumn = n > 8;
        const int top = 24 + 32 * ((n - 1) % 8);

        auto* label = new QLabel(QStringLiteral("BillValue%1").arg(n), this);
        label->setObjectName(QStringLiteral("Label%1").arg(n));
        label->setFont(TahomaBold());
        label->adjustSize();
        label->setGeometry(rightColumn ? 326 : 46, top, label->width(), 19);
        *labels[n - 1] = label;

        auto* edit = new QLineEdit(QStringLiteral("0"), this);
        edit->setObjectName(QStringLiteral("Edit%1").arg(n));
        edit->setGeometry(rightColumn ? 422 : 142, top, 153, 21);
        // As long as the file reader keeps a line, so an untouched Done never shortens one.
        edit->setMaxLength(static_cast<int>(norva::kMaxLineBytes));
        *edits[n - 1] = edit;
    }
    Button2 = MakeButton(this, "Button2", "Default", 161);
    Button1 = MakeButton(this, "Button1", "Done", 331);

    for (int n = 2; n <= norva::kChannelCount; ++n) {
        setTabOrder(ChannelEdit(n - 1), ChannelEdit(n));
    }
    setTabOrder(Edit16, Button1);
    setTabOrder(Button1, Button2);

    connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm3::Button2Click);
}

QLineEdit* TForm3::ChannelEdit(int channel) const {
    QLineEdit* const edits[] = {Edit1, Edit2,  Edit3,  Edit4,  Edit5,  Edit6,  Edit7,  Edit8,
                                Edit9, Edit10, Edit11, Edit12, Edit13, Edit14, Edit15, Edit16};
    return channel >= 1 && channel <= norva::kChannelCount ? edits[channel - 1] : nullptr;
}

void TForm3::FormCreate() {
    const norva::LinesResult file = norva::ReadBillValueFile();
    if (!file.ok()) {
        if (showError_) showError_(QString::fromStdString(file.error));
        return;
    }
    norva::ApplyBillValueLines(file.lines, [this](int channel, const std::string& text) {
        ChannelEdit(channel)->setText(QString::fromLocal8Bit(text));
    });
}

void TForm3::Button1Click() {
    norva::BillValueEntries entries;
    for (int n = 1; n <= norva::kChannelCount; ++n) {
        entries[n - 1] = ChannelEdit(n)->text().toLocal8Bit().toStdString();
    }
    const std::string failure = norva::WriteBillValueFile(entries);
    if (!failure.empty()) {
        if (showError_) showError_(QString::fromStdString(failure));
        return;
    }
    if (loading_ && !loading_()) return;
    accept();
}

void TForm3::Button2Click() {
    const norva::BillValueEntries defaults = norva::DefaultBillValues();
    for (int n = 1; n <= norva::kChannelCount; ++n) {
        ChannelEdit(n)->setText(QString::fromStdString(defaults[n - 1]));
    }
}

void TForm3::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}
