#include "billvalues/bill_value_dialog.h"

#include <QKeyEvent>

#include "billvalues/bill_values.h"
#include "widgets/window_look.h"

TForm3* Form3 = nullptr;

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
    norva::UseInactiveBorderBackground(this);

    for (int n = 1; n <= norva::kChannelCount; ++n) {
        const bool rightColumn = n > 8;
        const int top = 24 + 32 * ((n - 1) % 8);

        auto* label = new QLabel(QStringLiteral("BillValue%1").arg(n), this);
        label->setObjectName(QStringLiteral("Label%1").arg(n));
        label->setFont(norva::TahomaBold());
        label->adjustSize();
        label->setGeometry(rightColumn ? 326 : 46, top, label->width(), 19);
        labels_[n - 1] = label;

        auto* edit = new QLineEdit(QStringLiteral("0"), this);
        edit->setObjectName(QStringLiteral("Edit%1").arg(n));
        edit->setGeometry(rightColumn ? 422 : 142, top, 153, 21);
        // As long as the file reader keeps a line, so an untouched Done never shortens one.
        edit->setMaxLength(static_cast<int>(norva::kMaxLineBytes));
        edits_[n - 1] = edit;
    }
    // The named fields are the layout's; the lists are what lookup and tab order use.
    QLabel** labelFields[] = {&Label1,  &Label2,  &Label3,  &Label4,  &Label5,  &Label6,
                              &Label7,  &Label8,  &Label9,  &Label10, &Label11, &Label12,
                              &Label13, &Label14, &Label15, &Label16};
    QLineEdit** editFields[] = {&Edit1,  &Edit2,  &Edit3,  &Edit4,  &Edit5,  &Edit6,
                                &Edit7,  &Edit8,  &Edit9,  &Edit10, &Edit11, &Edit12,
                                &Edit13, &Edit14, &Edit15, &Edit16};
    for (int i = 0; i < norva::kChannelCount; ++i) {
        *labelFields[i] = labels_[i];
        *editFields[i] = edits_[i];
    }
    Button2 = norva::MakePushButton(this, QStringLiteral("Button2"), QStringLiteral("Default"),
                                    {161, 296, 121, 33}, false);
    Button1 = norva::MakePushButton(this, QStringLiteral("Button1"), QStringLiteral("Done"),
                                    {331, 296, 121, 33}, false);

    for (int i = 1; i < norva::kChannelCount; ++i)
        setTabOrder(edits_[i - 1], edits_[i]);
    setTabOrder(edits_.back(), Button1);
    setTabOrder(Button1, Button2);

    connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm3::Button2Click);
}

QLineEdit* TForm3::ChannelEdit(int channel) const {
    return channel >= 1 && channel <= norva::kChannelCount ? edits_[channel - 1] : nullptr;
}

void TForm3::FormCreate() {
    const auto file = norva::ReadBillValueFile();
    if (!file.ok()) {
        if (showError_) showError_(QString::fromStdString(file.text()));
        return;
    }
    norva::ApplyBillValueLines(file.value(), [this](int channel, const std::string& text) {
        ChannelEdit(channel)->setText(QString::fromLocal8Bit(text));
    });
}

void TForm3::Button1Click() {
    norva::BillValueEntries entries;
    for (int n = 1; n <= norva::kChannelCount; ++n) {
        entries[n - 1] = ChannelEdit(n)->text().toLocal8Bit().toStdString();
    }
    const norva::Outcome saved = norva::WriteBillValueFile(entries);
    if (!saved.ok()) {
        if (showError_) showError_(QString::fromStdString(saved.text()));
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
