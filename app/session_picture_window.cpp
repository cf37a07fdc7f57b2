#include "app/session_picture_window.h"

#include <QAbstractListModel>
#include <QAction>
#include <QCloseEvent>
#include <QFileInfo>
#include <QHelpEvent>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QSplitter>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <cmath>

#include "app/message_boxes.h"
#include "picture/picture_export.h"
#include "picture/picture_text.h"
#include "textfile/text_lines.h"

namespace norva {

using picture::SessionPicture;
using picture::TimeWindow;

namespace {

// One notch of the wheel shows this share of what was shown.
constexpr double kZoomPerNotch = 0.8;
constexpr int kLinesWidth = 300;

QString HexBytes(const std::vector<std::uint8_t>& bytes, std::size_t length) {
    QString text;
    for (std::uint8_t b : bytes)
        text += QStringLiteral("%1 ").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    if (length > bytes.size()) text += QStringLiteral("… (%1 bytes)").arg(length);
    return text.trimmed();
}

}  // namespace

// The capture's log lines, fetched as they scroll into view.
class PictureLinesModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    void SetPicture(std::shared_ptr<const SessionPicture> picture) {
        beginResetModel();
        picture_ = std::move(picture);
        endResetModel();
    }
    int rowCount(const QModelIndex& parent) const override {
        if (parent.isValid() || !picture_) return 0;
        return int(std::min<std::size_t>(picture_->texts().lineCount(), INT32_MAX));
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!picture_ || role != Qt::DisplayRole) return {};
        const std::string_view line = picture_->texts().Line(std::size_t(index.row()));
        return QString::fromLatin1(line.data(), qsizetype(line.size()));
    }

private:
    std::shared_ptr<const SessionPicture> picture_;
};

PictureCanvas::PictureCanvas(QWidget* parent) : QWidget(parent) {
    setMinimumSize(picture::kSmallestPicture);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

TimeWindow PictureCanvas::Fit() const {
    return picture_ ? TimeWindow::Fit(picture_->startMicros(), picture_->endMicros())
                    : TimeWindow{};
}

void PictureCanvas::SetPicture(std::shared_ptr<const SessionPicture> picture) {
    picture_ = std::move(picture);
    still_ = QPixmap();
    if (fitted_) window_ = Fit();
    update();
}

void PictureCanvas::SetWindow(const TimeWindow& window) {
    window_ = window;
    fitted_ = false;
    update(picture::TimelineArea(QSizeF(size())).toAlignedRect());
    emit WindowChanged();
}

void PictureCanvas::FitWholeSession() {
    window_ = Fit();
    fitted_ = true;
    update(picture::TimelineArea(QSizeF(size())).toAlignedRect());
    emit WindowChanged();
}

void PictureCanvas::resizeEvent(QResizeEvent* event) {
    still_ = QPixmap();
    QWidget::resizeEvent(event);
}

bool PictureCanvas::InTimeline(QPointF point) const {
    const picture::PictureLayout l = Layout();
    return point.x() >= l.plot.left() && point.x() <= l.plot.right() &&
           point.y() >= l.plot.top() - 16 && point.y() <= l.axis.bottom();
}

// Zooming and panning repaint the timeline alone, over the still part kept from before.
void PictureCanvas::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    if (!picture_) {
        painter.fillRect(rect(), Qt::white);
        return;
    }
    const qreal ratio = devicePixelRatioF();
    if (still_.isNull()) {
        still_ = QPixmap(size() * ratio);
        still_.setDevicePixelRatio(ratio);
        QPainter still(&still_);
        picture::PaintStill(still, *picture_, QSizeF(size()));
    }
    const QRect dirty = event->rect();
    painter.drawPixmap(
        dirty, still_,
        QRectF(QPointF(dirty.topLeft()) * ratio, QSizeF(dirty.size()) * ratio).toRect());
    if (dirty.intersects(picture::TimelineArea(QSizeF(size())).toAlignedRect()))
        picture::PaintTimeline(painter, *picture_, QSizeF(size()), window_);
}

void PictureCanvas::wheelEvent(QWheelEvent* event) {
    if (!picture_ || !InTimeline(event->position())) {
        event->ignore();
        return;
    }
    const picture::PictureLayout l = Layout();
    const double notches = event->angleDelta().y() / 120.0;
    const double at = (event->position().x() - l.plot.left()) / l.plot.width();
    SetWindow(window_.Zoomed(at, std::pow(kZoomPerNotch, notches), Fit()));
    event->accept();
}

void PictureCanvas::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && picture_ && InTimeline(event->position())) {
        dragging_ = true;
        dragX_ = event->position().x();
        setCursor(Qt::ClosedHandCursor);
        return;
    }
    QWidget::mousePressEvent(event);
}

void PictureCanvas::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) return QWidget::mouseMoveEvent(event);
    const double dx = event->position().x() - dragX_;
    dragX_ = event->position().x();
    SetWindow(window_.Panned(-dx / Layout().plot.width(), Fit()));
}

void PictureCanvas::mouseReleaseEvent(QMouseEvent* event) {
    if (dragging_ && event->button() == Qt::LeftButton) {
        dragging_ = false;
        unsetCursor();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void PictureCanvas::mouseDoubleClickEvent(QMouseEvent* event) {
    if (picture_ && InTimeline(event->position())) {
        FitWholeSession();
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}

// The canvas's actions, without a modal loop of its own.
void PictureCanvas::contextMenuEvent(QContextMenuEvent* event) {
    auto* menu = new QMenu(this);
    menu->addActions(actions());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

QString PictureCanvas::ToolTipAt(QPoint point) const {
    if (!picture_) return {};
    const picture::Mark* mark = picture::MarkAt(*picture_, Layout(), window_, QPointF(point));
    if (mark == nullptr) return {};
    const picture::SessionTexts& texts = picture_->texts();
    QStringList lines{QString::fromStdString(picture::MarkTitle(*mark)),
                      QString::fromStdString(picture::UtcTime(mark->unixMicros) + " UTC"),
                      QStringLiteral("bytes ") +
                          HexBytes(texts.Bytes(mark->bytes), texts.BytesLength(mark->bytes))};
    for (const std::string& line : texts.Lines(mark->firstLine, mark->lineCount))
        lines << QString::fromStdString(line);
    if (mark->flags & picture::kStandsForMore)
        lines << QStringLiteral("(with more of its row close by, merged to fit in memory)");
    return lines.join(QLatin1Char('\n'));
}

bool PictureCanvas::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString text = ToolTipAt(help->pos());
        if (text.isEmpty()) {
            QToolTip::hideText();
        } else {
            QToolTip::showText(help->globalPos(), text, this);
        }
        return true;
    }
    return QWidget::event(event);
}

SessionPictureWindow::SessionPictureWindow(const QString& title, bool withLogLines, QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setWindowTitle(title);
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* menuBar = new QMenuBar(this);
    layout->setMenuBar(menuBar);
    QMenu* menu = menuBar->addMenu(QStringLiteral("&Picture"));
    save_ = menu->addAction(QStringLiteral("Save Picture As\u2026"));
    save_->setShortcut(QKeySequence::Save);
    fit_ = menu->addAction(QStringLiteral("Fit Whole Session"));
    menu->addSeparator();
    QAction* close = menu->addAction(QStringLiteral("Close"));
    close->setShortcut(QKeySequence::Close);

    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    canvas_ = new PictureCanvas(scroll);
    scroll->setWidget(canvas_);
    canvas_->addActions({save_, fit_});
    if (withLogLines) {
        auto* splitter = new QSplitter(Qt::Horizontal, this);
        splitter->addWidget(scroll);
        lines_ = new QListView(splitter);
        lines_->setUniformItemSizes(true);
        lines_->setEditTriggers(QAbstractItemView::NoEditTriggers);
        lines_->setSelectionMode(QAbstractItemView::ExtendedSelection);
        linesModel_ = new PictureLinesModel(lines_);
        lines_->setModel(linesModel_);
        splitter->addWidget(lines_);
        splitter->setStretchFactor(0, 1);
        splitter->setSizes({picture::kPictureSize.width(), kLinesWidth});
        layout->addWidget(splitter);
    } else {
        layout->addWidget(scroll);
    }
    connect(save_, &QAction::triggered, this, &SessionPictureWindow::AskAndSave);
    connect(fit_, &QAction::triggered, canvas_, &PictureCanvas::FitWholeSession);
    connect(close, &QAction::triggered, this, &QWidget::close);
    resize(picture::kPictureSize.width() + (withLogLines ? kLinesWidth : 0) + 24,
           picture::kPictureSize.height() + menuBar->sizeHint().height() + 4);
}

SessionPictureWindow::~SessionPictureWindow() = default;

void SessionPictureWindow::SetPicture(std::shared_ptr<const SessionPicture> picture) {
    if (linesModel_) linesModel_->SetPicture(picture);
    canvas_->SetPicture(std::move(picture));
}

Outcome SessionPictureWindow::SaveTo(const std::string& fileName) const {
    if (canvas_->picture() == nullptr)
        return Outcome::Failed(CannotCreateText(fileName), 0, "no picture");
    return picture::SavePicture(*canvas_->picture(), canvas_->window(), fileName);
}

void SessionPictureWindow::AskAndSave() {
    QString path = AskSaveFileName(this, QStringLiteral("Save Picture As"),
                                   QStringLiteral("Pictures (*.png *.svg)"));
    if (path.isEmpty()) return;
    // A name with no ending at all gets the usual one.
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".png");
    const Outcome saved = SaveTo(path.toStdString());
    if (!saved.ok()) ShowErrorBox(QString::fromStdString(saved.Describe()));
}

void SessionPictureWindow::closeEvent(QCloseEvent* event) {
    emit Closed();
    QWidget::closeEvent(event);
}

}  // namespace norva
