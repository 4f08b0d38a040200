#include "app/qt/updater_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QTreeWidget>
#include <QWindowStateChangeEvent>

#include "app/qt/application_termination.h"
#include "app/qt/auto_size_label.h"
#include "app/qt/glyph_button.h"
#include "app/qt/percentage_gauge.h"
#include "app/core/update_controller.h"
#include "archive/unzip.h"
#include "download/download_component.h"

// Resources of a static library are registered by hand, outside any namespace.
static void RegisterImages() { Q_INIT_RESOURCE(images); }

namespace {

constexpr int kClientWidth = 657;
constexpr int kClientHeight = 339;
const QColor kBlue(0, 0, 255);

// Where the Korean face is missing, an installed Korean face stands in.
QFont Font(const QString& family, int pixelSize) {
    QFont font;
    font.setFamilies({family, QStringLiteral("NanumGothic"), QStringLiteral("NanumBarunGothic")});
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::Normal);
    return font;
}

void SetTextColor(QWidget* widget, const QColor& color) {
    // On the button-face background the text role would otherwise be ButtonText.
    widget->setForegroundRole(QPalette::WindowText);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    widget->setPalette(palette);
}

QFrame* Bevel(QFrame::Shape shape, const QRect& bounds, QWidget* parent) {
    auto* bevel = new QFrame(parent);
    bevel->setFrameShape(shape);
    bevel->setFrameShadow(QFrame::Sunken);
    bevel->setGeometry(bounds);
    return bevel;
}

// A gauge with the sunken edge its container draws just outside it.
TGauge* Gauge(const QRect& bounds, QWidget* parent) {
    auto* edge = new QFrame(parent);
    edge->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    edge->setLineWidth(1);
    edge->setGeometry(bounds.adjusted(-1, -1, 1, 1));
    auto* gauge = new TGauge(parent);
    gauge->setGeometry(bounds);
    gauge->SetForeColor(kBlue);
    return gauge;
}

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

TfrmUpdater::TfrmUpdater(const std::string& updateUrl, const std::string& programFolder,
                         const std::string& publicKeyPem, TRetryPolicy retryPolicy)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      download_(std::make_unique<TWinHTTPDownload>()),
      unzip_(std::make_unique<TUnZip>()),
      // Asked for twice per downloaded chunk: read once.
      thousandsSeparator_(QLocale().groupSeparator().toStdString()) {
    RegisterImages();
    CreateControls();
    // The window's stored settings; the controller turns the confirmation
    // off before every run.
    unzip_->SetCpuType(cptAuto);
    unzip_->SetConfirmOverwrites(true);
    controller_ = std::make_unique<TUpdateController>(*this, *download_, *unzip_, updateUrl, programFolder,
                                                     publicKeyPem);
    controller_->SetRetryPolicy(retryPolicy);
    controller_->FormCreate();
}

TfrmUpdater::~TfrmUpdater() = default;

void TfrmUpdater::CreateControls() {
    setWindowTitle(QString::fromUtf8(TUpdateController::kWindowCaption));
    setWindowIcon(QIcon(QStringLiteral(":/images/icon.png")));
    setFixedSize(kClientWidth, kClientHeight);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    setFont(Font(QStringLiteral("맑은 고딕"), 13));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    Bevel1 = Bevel(QFrame::VLine, QRect(227, 0, 2, 339), this);

    Panel2 = new QWidget(this);
    Panel2->setGeometry(0, 0, 227, 339);
    Panel2->setAutoFillBackground(true);
    QPalette white = Panel2->palette();
    white.setColor(QPalette::Window, Qt::white);
    Panel2->setPalette(white);

    Image1 = new QLabel(Panel2);
    Image1->setGeometry(0, 0, 227, 339);
    Image1->setScaledContents(true);
    Image1->setPixmap(QPixmap(QStringLiteral(":/images/banner.png")));

    pnlRight = new QWidget(this);
    pnlRight->setGeometry(229, 0, 428, 339);

    labDown = new TAutoSizeLabel(QString::fromUtf8(TUpdateController::kDownloadingText), Qt::AlignLeft, pnlRight);
    labDown->setFont(Font(QStringLiteral("맑은 고딕"), 13));
    SetTextColor(labDown, kBlue);
    labDown->Place(14, 19, 17);

    lblBytes = new TAutoSizeLabel(QString(), Qt::AlignRight, pnlRight);
    lblBytes->setFont(Font(QStringLiteral("MS Sans Serif"), 11));
    SetTextColor(lblBytes, kBlue);
    lblBytes->Place(398, 76, 13);

    lbNum = new QLabel(pnlRight);
    lbNum->setGeometry(15, -1, 5, 17);
    lbNum->hide();

    Bevel2 = Bevel(QFrame::HLine, QRect(12, 257, 352, 2), pnlRight);

    DownList = new QTreeWidget(pnlRight);
    DownList->setGeometry(96, 136, 297, 97);
    DownList->setRootIsDecorated(false);
    DownList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DownList->setHeaderLabels({QStringLiteral("다운받을 URL"), QStringLiteral("파일크기"), QStringLiteral("MINE 타입"),
                               QStringLiteral("다운로드 완료"), QString()});
    DownList->header()->setStretchLastSection(false);
    DownList->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    DownList->setColumnWidth(1, 80);
    DownList->setColumnWidth(2, 70);
    DownList->setColumnWidth(3, 90);
    DownList->setColumnWidth(4, 20);
    DownList->hide();

    pBar = new QProgressBar(pnlRight);
    pBar->setGeometry(13, 43, 385, 17);
    pBar->setRange(0, 100);
    pBar->setValue(0);
    pBar->setTextVisible(false);

    labUnzip = new QGroupBox(QStringLiteral("업데이트할 파일을 풀고 있습니다"), pnlRight);
    labUnzip->setGeometry(13, 96, 388, 122);
    Gauge1 = Gauge(QRect(18, 30, 352, 17), labUnzip);
    Gauge2 = Gauge(QRect(18, 81, 352, 17), labUnzip);
    lbState = new TAutoSizeLabel(QStringLiteral("전체 진행상태"), Qt::AlignLeft, labUnzip);
    lbState->Place(18, 58, 17);
    labUnzip->hide();

    btnCancel = new TGlyphButton(QStringLiteral("취소"), QStringLiteral(":/images/cancel.png"), pnlRight);
    btnCancel->setGeometry(176, 275, 73, 45);
    btnRedown = new TGlyphButton(QStringLiteral("재시작"), QStringLiteral(":/images/restart.png"), pnlRight);
    btnRedown->setGeometry(256, 275, 73, 45);
    btnRedown->setEnabled(false);
    btnClose = new TGlyphButton(QStringLiteral("종료"), QStringLiteral(":/images/close.png"), pnlRight);
    btnClose->setGeometry(336, 275, 73, 45);

    // The progress bar and the group box take no focus; of the rest, tab
    // order is the list, then the buttons left to right.
    setTabOrder(DownList, btnCancel);
    setTabOrder(btnCancel, btnRedown);
    setTabOrder(btnRedown, btnClose);

    connect(btnCancel, &QPushButton::clicked, this, [this] { controller_->btnCancelClick(); });
    connect(btnRedown, &QPushButton::clicked, this, [this] { controller_->btnRedownClick(); });
    connect(btnClose, &QPushButton::clicked, this, [this] { controller_->btnCloseClick(); });
}

// Showing the window delivers the first resize notification. Qt sends its
// resize before the window appears on screen; the notification is held back
// until it has, so the user sees the run that it starts.
void TfrmUpdater::setVisible(bool visible) {
    QWidget::setVisible(visible);
    if (visible && resizeBeforeShown_) {
        resizeBeforeShown_ = false;
        DeliverResize();
    }
}

void TfrmUpdater::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (isVisible())
        DeliverResize();
    else
        resizeBeforeShown_ = true;
}

// Minimising and restoring the window count as resizes, as they do on the
// desktop the updater was made for.
void TfrmUpdater::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) return;
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    const bool wasMinimized = change->oldState() & Qt::WindowMinimized;
    const bool isMinimized = windowState() & Qt::WindowMinimized;
    if (wasMinimized != isMinimized && isVisible()) DeliverResize();
}

void TfrmUpdater::closeEvent(QCloseEvent* event) {
    bool canClose = false;
    controller_->FormCloseQuery(canClose);
    if (canClose)
        event->accept();
    else
        event->ignore();
}

void TfrmUpdater::DeliverResize() { controller_->FormResize(); }

QWidget* TfrmUpdater::Control(TUpdaterControl control) const {
    switch (control) {
        case TUpdaterControl::labDown: return labDown;
        case TUpdaterControl::lblBytes: return lblBytes;
        case TUpdaterControl::labUnzip: return labUnzip;
        case TUpdaterControl::pBar: return pBar;
        case TUpdaterControl::Gauge1: return Gauge1;
        case TUpdaterControl::Gauge2: return Gauge2;
        case TUpdaterControl::Bevel2: return Bevel2;
        case TUpdaterControl::pnlRight: return pnlRight;
        case TUpdaterControl::btnCancel: return btnCancel;
        case TUpdaterControl::btnRedown: return btnRedown;
        case TUpdaterControl::btnClose: return btnClose;
    }
    return nullptr;
}

void TfrmUpdater::SetWindowCaption(const std::string& text) { setWindowTitle(Q(text)); }

void TfrmUpdater::SetCaption(TUpdaterControl control, const std::string& text) {
    QWidget* widget = Control(control);
    if (auto* label = qobject_cast<TAutoSizeLabel*>(widget))
        label->SetCaption(Q(text));
    else if (auto* group = qobject_cast<QGroupBox*>(widget))
        group->setTitle(Q(text));
    else if (auto* button = qobject_cast<QPushButton*>(widget))
        button->setText(Q(text));
}

void TfrmUpdater::SetVisible(TUpdaterControl control, bool visible) { Control(control)->setVisible(visible); }

void TfrmUpdater::SetEnabled(TUpdaterControl control, bool enabled) { Control(control)->setEnabled(enabled); }

void TfrmUpdater::Repaint(TUpdaterControl control) { Control(control)->repaint(); }

void TfrmUpdater::SetMaximum(TUpdaterControl control, int maximum) {
    QWidget* widget = Control(control);
    if (auto* bar = qobject_cast<QProgressBar*>(widget))
        bar->setMaximum(maximum);
    else if (auto* gauge = qobject_cast<TGauge*>(widget))
        gauge->SetMaxValue(maximum);
}

void TfrmUpdater::SetPosition(TUpdaterControl control, int position) {
    QWidget* widget = Control(control);
    if (auto* bar = qobject_cast<QProgressBar*>(widget))
        bar->setValue(position);
    else if (auto* gauge = qobject_cast<TGauge*>(widget))
        gauge->SetProgress(position);
}

TControlBounds TfrmUpdater::Bounds(TUpdaterControl control) const {
    const QRect r = Control(control)->geometry();
    return {r.x(), r.y(), r.width(), r.height()};
}

void TfrmUpdater::SetBounds(TUpdaterControl control, const TControlBounds& bounds) {
    Control(control)->setGeometry(bounds.left, bounds.top, bounds.width, bounds.height);
}

void* TfrmUpdater::AddQueueRow(const std::string& caption) {
    return new QTreeWidgetItem(DownList, {Q(caption), QString(), QString()});
}

int TfrmUpdater::QueueRowCount() const { return DownList->topLevelItemCount(); }

void* TfrmUpdater::QueueRow(int index) const { return DownList->topLevelItem(index); }

std::string TfrmUpdater::QueueRowCaption(int index) const {
    return DownList->topLevelItem(index)->text(0).toStdString();
}

std::string TfrmUpdater::ThousandsSeparator() const { return thousandsSeparator_; }

void TfrmUpdater::ShowError(const std::string& text) {
    QMessageBox::critical(this, QCoreApplication::applicationName(), Q(text));
}

bool TfrmUpdater::AskRetry(const std::string& text) {
    return QMessageBox::warning(this, QCoreApplication::applicationName(), Q(text),
                                QMessageBox::Retry | QMessageBox::Cancel, QMessageBox::Retry) == QMessageBox::Retry;
}

void TfrmUpdater::RequestTermination() { RequestApplicationTermination(); }
