#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <array>
#include <functional>

#include "billvalues/bill_values.h"

// The bill value configuration: sixteen edit boxes holding the editing copy of the table. It is
// created once, filled from BILLVALUE.TXT then, and keeps whatever was typed between showings.
class TForm3 : public QDialog {
    Q_OBJECT

public:
    // Shows a failure text to the operator (the error box).
    using ErrorReporter = std::function<void(const QString& failure)>;
    // The main window's bill value loading; false when it failed and has said so.
    using MainWindowLoading = std::function<bool()>;

    explicit TForm3(ErrorReporter showError, QWidget* parent = nullptr);

    void SetMainWindowLoading(MainWindowLoading loading) { loading_ = std::move(loading); }

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QLabel* Label7;
    QLabel* Label8;
    QLabel* Label9;
    QLabel* Label10;
    QLabel* Label11;
    QLabel* Label12;
    QLabel* Label13;
    QLabel* Label14;
    QLabel* Label15;
    QLabel* Label16;
    QLineEdit* Edit1;
    QLineEdit* Edit2;
    QLineEdit* Edit3;
    QLineEdit* Edit4;
    QLineEdit* Edit5;
    QLineEdit* Edit6;
    QLineEdit* Edit7;
    QLineEdit* Edit8;
    QLineEdit* Edit9;
    QLineEdit* Edit10;
    QLineEdit* Edit11;
    QLineEdit* Edit12;
    QLineEdit* Edit13;
    QLineEdit* Edit14;
    QLineEdit* Edit15;
    QLineEdit* Edit16;
    QPushButton* Button1;
    QPushButton* Button2;

    // The edit box of note channel 1..16.
    QLineEdit* ChannelEdit(int channel) const;

    // Reads BILLVALUE.TXT into the edit boxes; a failure goes to the error box.
    void FormCreate();

public slots:
    void Button1Click();  // Done
    void Button2Click();  // Default

protected:
    // Neither Enter nor Escape belongs to a button here.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CreateControls();

    std::array<QLabel*, norva::kChannelCount> labels_{};
    std::array<QLineEdit*, norva::kChannelCount> edits_{};
    ErrorReporter showError_;
    MainWindowLoading loading_;
};

// The one bill value dialog.
extern TForm3* Form3;
